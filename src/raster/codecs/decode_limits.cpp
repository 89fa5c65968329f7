#include "raster/codecs/decode_limits.h"

#include <algorithm>

#include "base/memory_budget.h"

namespace rzt2 {

bool FrameGridFits(uint64_t columns, uint64_t rows, uint64_t frameWidth, uint64_t frameHeight,
                   uint64_t maxPixels) {
  // floor(floor(m / a) / b) == floor(m / (a * b)): the product is compared without being formed.
  uint64_t left = maxPixels;
  for (const uint64_t factor : {columns, rows, frameWidth, frameHeight}) {
    if (factor == 0) return true;
    left /= factor;
  }
  return left >= 1;
}

Status CheckPictureSize(const DecodeLimits& limits, uint64_t width, uint64_t height) {
  constexpr uint64_t kMaxSide = (uint64_t{1} << 31) - 1;  // Bitmap's int32 sides
  if (width > kMaxSide || height > kMaxSide || width * height > kPixelCeiling)
    return Status::OverPixelCeiling;
#ifdef __EMSCRIPTEN__
  // Refused from the header, before its pixels find the budget full.
  if (width * height > PixelsWithinBudget(MemoryBudget::Process().Limit())) return Status::OverMemoryBudget;
#endif
  const uint64_t maxPixels = std::min(limits.maxPixels, kPixelCeiling);
  if (width * height > maxPixels) return Status::TooLarge;
  if (limits.frameWidth == 0 || limits.frameHeight == 0 || width == 0 || height == 0) return Status::Ok;
  const uint64_t columns = (width - 1) / limits.frameWidth + 1;
  const uint64_t rows = (height - 1) / limits.frameHeight + 1;
  return FrameGridFits(columns, rows, limits.frameWidth, limits.frameHeight, maxPixels) ? Status::Ok
                                                                                        : Status::TooLarge;
}

Status CheckDecodeBytes(const DecodeLimits& limits, uint64_t bytes) {
  return bytes > limits.maxBytes ? Status::TooLarge : Status::Ok;
}

Status CheckWorkingMemory(uint64_t bytes) {
  const uint64_t allowed = std::max(MemoryBudget::Process().Limit(), kWorkingMemoryFloor);
  return bytes > allowed ? Status::OverMemoryAllowance : Status::Ok;
}

}  // namespace rzt2
