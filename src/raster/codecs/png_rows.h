// The image data of 8-bit palette PNGs: the rows behind one filter chosen
// for the whole picture, deflated by libdeflate into one zlib stream.
#pragma once

#include <cstdint>
#include <vector>

#include "base/status.h"
#include "raster/bitmap.h"

namespace rzt2 {

// How hard the encoder works for fewer bytes: Fast filters the rows of a
// palette ordered by lightness with the filter their differences point to,
// where it clearly pays; Small tries every filter and deflates the best at
// libdeflate's tightest level.
enum class PngEffort : uint8_t { Fast, Small };

// The zlib stream of an Indexed8 bitmap's rows. Its first two bytes (the
// zlib header) depend only on the effort.
Status DeflatePaletteRows(const Bitmap& bitmap, PngEffort effort, std::vector<uint8_t>& zlib);

}  // namespace rzt2
