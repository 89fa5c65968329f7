// Halved copies of a picture, for downscaling: level k is the picture
// box-filtered by 2^k in both directions, in premultiplied ARGB so that
// transparent pixels do not bleed their colour. Level k pixel (x, y)
// covers picture pixels [x * 2^k, (x + 1) * 2^k) clipped to the picture.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace rzt2 {

class Bitmap;

struct PremulImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;  // premultiplied 0xAARRGGBB, rows top-down
};

class Pyramid {
 public:
  explicit Pyramid(const Bitmap& picture) : picture_(picture) {}

  // Level k >= 1, built with the levels above it on first use. Throws
  // std::bad_alloc when memory runs out, like Bitmap::Reductions. Safe to
  // call from several threads: frames of one picture are drawn at once.
  const PremulImage& Level(int k);

 private:
  const Bitmap& picture_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<PremulImage>> levels_;  // levels_[k - 1]
};

uint32_t Premultiply(uint32_t argb);

}  // namespace rzt2
