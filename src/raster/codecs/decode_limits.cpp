#include "raster/codecs/decode_limits.h"

#include <unistd.h>

#include <algorithm>

namespace rzt2 {

uint64_t DefaultMaxPixels() {
  static const uint64_t limit = [] {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return kMaxPixelsCeiling;
    constexpr uint64_t kBytesPerPixel = 16;
    return std::min(kMaxPixelsCeiling,
                    static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) / kBytesPerPixel);
  }();
  return limit;
}

}  // namespace rzt2
