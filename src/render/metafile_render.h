// Renders a Windows Metafile (WMF, placeable or not) or an Enhanced Metafile
// (EMF, with EMF+ records where libemf2svg reads them) into ARGB pixels.
//
// This runs the metafile libraries in the calling process; the converter
// calls it only inside the rzt2-render helper, whose process limits contain
// what old C code may do with hostile input.
//
// Size: the picture frame of the header at the requested pixels an inch, 96
// by default (EMF: the frame rectangle in 0.01 mm; placeable WMF: the
// bounding box in its units per inch); without a usable frame, the bounds of
// the drawing. A size of zero is CorruptData; one over maxPixels, or over
// 32767 pixels a side, is TooLarge. What the metafile does not paint stays
// transparent.
#pragma once

#include <cstdint>
#include <span>

#include "render/rendered_picture.h"

namespace rzt2 {

// The size the picture will have, without drawing it.
Status MeasureMetafile(std::span<const uint8_t> data, const RenderRequest& request, PageSize& out);
Status RenderMetafile(std::span<const uint8_t> data, const RenderRequest& request, RenderedPicture& out);

}  // namespace rzt2
