// Limits every decoder checks before it allocates.
#pragma once

#include <cstdint>

namespace rzt2 {

// One gigapixel: a 32-bit picture of that size already takes 4 GiB.
inline constexpr uint64_t kDefaultMaxPixels = uint64_t{1} << 30;

struct DecodeLimits {
  uint64_t maxPixels = kDefaultMaxPixels;
};

}  // namespace rzt2
