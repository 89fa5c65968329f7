// HEIF and AVIF through libheif: the primary image, turned and mirrored as
// the file says, with its alpha when it has one.
//
// Size: the image's own, from its header (the decoded picture must have it).
#pragma once

#include <cstdint>
#include <span>

#include "render/rendered_picture.h"

namespace rzt2 {

Status MeasureHeif(std::span<const uint8_t> data, const RenderRequest& request, PageSize& out);
Status RenderHeif(std::span<const uint8_t> data, const RenderRequest& request, RenderedPicture& out);

}  // namespace rzt2
