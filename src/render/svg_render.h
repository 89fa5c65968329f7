// SVG, and SVGZ (gzip-compressed SVG, which librsvg unpacks), through
// librsvg onto a cairo surface. EMF comes here too, as the SVG that
// libemf2svg makes of it.
//
// Size: the document's width and height, in CSS pixels of 1/96 inch (its
// viewBox when it gives none), scaled to the requested pixels an inch. What
// it does not paint stays transparent.
#pragma once

#include <librsvg/rsvg.h>

#include <cstdint>
#include <memory>
#include <span>

#include "render/rendered_picture.h"

namespace rzt2 {

struct GObjectDeleter {
  void operator()(void* object) const { g_object_unref(object); }
};
using SvgHandle = std::unique_ptr<RsvgHandle, GObjectDeleter>;

Status LoadSvg(std::span<const uint8_t> data, SvgHandle& out);
// The document's size in CSS pixels.
Status SvgSize(RsvgHandle& handle, double& width, double& height);
// Draws the document into the viewport of a width x height picture.
Status DrawSvg(RsvgHandle& handle, const RsvgRectangle& viewport, uint32_t width, uint32_t height,
               RenderedPicture& out);

Status MeasureSvg(std::span<const uint8_t> data, const RenderRequest& request, PageSize& out);
Status RenderSvg(std::span<const uint8_t> data, const RenderRequest& request, RenderedPicture& out);

}  // namespace rzt2
