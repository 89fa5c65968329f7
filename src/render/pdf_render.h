// PDF through poppler's Splash renderer, one page at a time onto white
// paper.
//
// Size: the page's crop box, turned by its rotation, at the requested
// pixels an inch (150 by default). A locked (encrypted) document is
// UnsupportedFormat; a page past the last is NoSuchPage.
#pragma once

#include <cstdint>
#include <span>

#include "render/rendered_picture.h"

namespace rzt2 {

Status MeasurePdf(std::span<const uint8_t> data, const RenderRequest& request, PageSize& out);
Status RenderPdf(std::span<const uint8_t> data, const RenderRequest& request, RenderedPicture& out);

}  // namespace rzt2
