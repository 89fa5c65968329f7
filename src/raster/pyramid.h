// Halved copies of a picture, for downscaling: level k is the picture
// box-filtered by 2^k in both directions, in premultiplied ARGB so that
// transparent pixels do not bleed their colour. Level k pixel (x, y)
// covers picture pixels [x * 2^k, (x + 1) * 2^k) clipped to the picture.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "raster/pixel_block.h"
#include "raster/status.h"

namespace rzt2 {

class Bitmap;

struct PremulImage {
  int32_t width = 0;
  int32_t height = 0;
  PixelBlock block;  // premultiplied 0xAARRGGBB, rows top-down

  const uint32_t* Row(int32_t y) const {
    return reinterpret_cast<const uint32_t*>(block.Data()) +
           static_cast<size_t>(y) * static_cast<size_t>(width);
  }
  uint32_t* MutableRow(int32_t y) {
    return reinterpret_cast<uint32_t*>(block.Data()) + static_cast<size_t>(y) * static_cast<size_t>(width);
  }
};

class Pyramid {
 public:
  explicit Pyramid(const Bitmap& picture) : picture_(picture) {}

  // Level k >= 1, built with the levels above it on first use; the
  // PixelBlock's status when one cannot be had. Threads may ask at once:
  // one builds, the others wait for it.
  Status Level(int k, const PremulImage*& out);

  // The bytes of the levels built so far held in the process's memory.
  uint64_t MemoryBytes() const;

 private:
  const Bitmap& picture_;
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<PremulImage>> levels_;  // levels_[k - 1]
};

uint32_t Premultiply(uint32_t argb);

}  // namespace rzt2
