// Non-interlaced 8-bit RGB and RGBA PNGs, the pictures scans and exported
// maps come as, decoded from the whole file at memory speed: libdeflate
// inflates all the image data at once into the picture's own pixel block,
// and the rows are unfiltered in place, top to bottom. Whatever is not that
// plain case, or not quite regular (a CRC that does not match, image data
// of the wrong length, a chunk libpng would refuse), is left to libpng, so
// which files decode and to what stays libpng's.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "base/status.h"
#include "raster/row_sink.h"

namespace rzt2 {

// The decoding's status, or nothing when the file is left to libpng (then
// nothing was told to rows). The caller has checked the header's size.
std::optional<Status> DecodeWholePng(std::span<const uint8_t> data, std::unique_ptr<Bitmap>& out,
                                     RowSink* rows);

}  // namespace rzt2
