// Limits every decoder checks before it allocates.
#pragma once

#include <cstdint>

namespace rzt2 {

// No picture is decoded beyond one gigapixel: a 32-bit picture of that size
// already takes 4 GiB.
inline constexpr uint64_t kMaxPixelsCeiling = uint64_t{1} << 30;

// The default limit: the ceiling, or less on a machine with little memory.
// Converting a picture takes about six bytes per pixel (the picture, its
// halved copies, frames and encodings), so the limit leaves room for the
// rest of the system: one pixel per 16 bytes of physical memory.
uint64_t DefaultMaxPixels();

struct DecodeLimits {
  uint64_t maxPixels = DefaultMaxPixels();
};

}  // namespace rzt2
