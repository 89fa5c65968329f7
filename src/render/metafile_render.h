// Renders a Windows Metafile (WMF, placeable or not) or an Enhanced Metafile
// (EMF, with EMF+ records where libemf2svg reads them) into ARGB pixels.
//
// This runs the metafile libraries in the calling process; the converter
// calls it only inside the rzt2-metafile helper, whose process limits contain
// what old C code may do with hostile input.
//
// Size: the picture frame of the header at 96 pixels per inch (EMF: the frame
// rectangle in 0.01 mm; placeable WMF: the bounding box in its units per
// inch); without a usable frame, the bounds of the drawing. A size of zero is
// CorruptData; one over maxPixels, or over 32767 pixels a side, is TooLarge.
// What the metafile does not paint stays transparent.
#pragma once

#include <cstdint>
#include <vector>

#include "base/status.h"

namespace rzt2 {

struct RenderedPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint32_t> argb;  // top-down 0xAARRGGBB, straight alpha
};

// The size the picture will have, without drawing it.
Status MeasureMetafile(std::vector<uint8_t>& data, uint64_t maxPixels, uint32_t& width, uint32_t& height);

// The libraries take their input as writable buffers; data is not changed.
Status RenderMetafile(std::vector<uint8_t>& data, uint64_t maxPixels, RenderedPicture& out);

}  // namespace rzt2
