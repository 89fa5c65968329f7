// 8-bit contiguous RGB(A) TIFF rows in strips, decoded on a pool: LZW or
// Deflate strips of a scan decode far slower than they are copied, and each
// strip is compressed on its own.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <span>

#include "base/status.h"
#include "base/thread_pool.h"
#include "raster/bitmap.h"
#include "raster/codecs/decode_limits.h"
#include "raster/codecs/tiff_glue.h"
#include "raster/row_sink.h"

namespace rzt2::tiff {

// Whether the file's current picture suits: in strips, more than one, top
// left first, with a pool of workers given, and the strips of a wave within
// the decoder's bytes beside the picture's.
bool StripWavesSuit(TIFF* tif, const DecodeLimits& limits, uint64_t pictureBytes);

// Decodes the page's rows (from 1) of data, which tif has open, into bitmap
// (Rgb24 for 3 samples, Argb32 for 4), reporting rows as they complete.
Status DecodeStripWaves(std::span<const uint8_t> data, TIFF* tif, uint32_t page, uint16_t samples,
                        ThreadPool& pool, Bitmap& bitmap, RowReport& report);

}  // namespace rzt2::tiff
