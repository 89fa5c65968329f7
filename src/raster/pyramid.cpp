#include "raster/pyramid.h"

#include <algorithm>

#include "raster/bitmap.h"

namespace rzt2 {

uint32_t Premultiply(uint32_t argb) {
  const uint32_t a = AlphaOf(argb);
  if (a == 255) return argb;
  const auto scale = [a](uint32_t c) { return (c * a + 127) / 255; };
  return Argb(a, scale(RedOf(argb)), scale(GreenOf(argb)), scale(BlueOf(argb)));
}

namespace {

// Averages 2x2 blocks of premultiplied rows; the last column or row of an
// odd size averages only the pixels that exist.
void HalveRows(const uint32_t* top, const uint32_t* bottom, int32_t width, uint32_t* out) {
  const int32_t outWidth = (width + 1) / 2;
  int32_t x = 0;
  if (bottom != nullptr) {
    // Whole 2x2 blocks: blue and red, then green and alpha, summed in
    // 16-bit lanes of one word (at most 4 x 255 + 2, so lanes never carry).
    for (; 2 * x + 1 < width; ++x) {
      uint32_t evenLanes = 0x00020002u, oddLanes = 0x00020002u;  // +2 rounds the quarter
      const auto left = 2 * static_cast<size_t>(x);
      for (const uint32_t p : {top[left], top[left + 1], bottom[left], bottom[left + 1]}) {
        evenLanes += p & 0x00FF00FFu;
        oddLanes += (p >> 8) & 0x00FF00FFu;
      }
      out[x] = ((evenLanes >> 2) & 0x00FF00FFu) | (((oddLanes >> 2) & 0x00FF00FFu) << 8);
    }
  }
  for (; x < outWidth; ++x) {
    uint32_t sum[4] = {0, 0, 0, 0};
    uint32_t count = 0;
    for (const uint32_t* row : {top, bottom}) {
      if (row == nullptr) continue;
      for (int32_t dx = 0; dx < 2 && 2 * x + dx < width; ++dx) {
        const uint32_t p = row[2 * x + dx];
        for (int c = 0; c < 4; ++c) sum[c] += (p >> (8 * c)) & 255;
        ++count;
      }
    }
    uint32_t value = 0;
    for (int c = 0; c < 4; ++c) value |= ((sum[c] + count / 2) / count) << (8 * c);
    out[x] = value;
  }
}

std::unique_ptr<PremulImage> MakeHalf(int32_t width, int32_t height) {
  auto half = std::make_unique<PremulImage>();
  half->width = (width + 1) / 2;
  half->height = (height + 1) / 2;
  half->pixels.resize(static_cast<size_t>(half->width) * static_cast<size_t>(half->height));
  return half;
}

// Opaque 24-bit pictures, the common case for scans, halve straight from
// their bytes.
void HalveRgbRows(const uint8_t* top, const uint8_t* bottom, int32_t width, uint32_t* out) {
  const int32_t outWidth = (width + 1) / 2;
  for (int32_t x = 0; x < outWidth; ++x) {
    const int32_t columns = 2 * x + 1 < width ? 2 : 1;
    const uint32_t count = static_cast<uint32_t>(columns) * (bottom != nullptr ? 2u : 1u);
    uint32_t value = 0xFF000000u;
    for (int c = 0; c < 3; ++c) {
      uint32_t sum = 0;
      for (int32_t dx = 0; dx < columns; ++dx) {
        const size_t at = 3 * static_cast<size_t>(2 * x + dx) + static_cast<size_t>(c);
        sum += top[at] + (bottom != nullptr ? bottom[at] : 0u);
      }
      value |= ((sum + count / 2) / count) << (8 * c);
    }
    out[x] = value;
  }
}

std::unique_ptr<PremulImage> HalvePicture(const Bitmap& picture) {
  auto half = MakeHalf(picture.Width(), picture.Height());
  if (picture.Format() == PixelFormat::Rgb24) {
    for (int32_t y = 0; y < half->height; ++y) {
      HalveRgbRows(picture.Row(2 * y), 2 * y + 1 < picture.Height() ? picture.Row(2 * y + 1) : nullptr,
                   picture.Width(),
                   half->pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(half->width));
    }
    return half;
  }
  const auto width = static_cast<size_t>(picture.Width());
  std::vector<uint32_t> top(width), bottom(width);
  for (int32_t y = 0; y < half->height; ++y) {
    picture.ReadArgb(0, 2 * y, picture.Width(), top.data());
    std::transform(top.begin(), top.end(), top.begin(), Premultiply);
    const bool hasBottom = 2 * y + 1 < picture.Height();
    if (hasBottom) {
      picture.ReadArgb(0, 2 * y + 1, picture.Width(), bottom.data());
      std::transform(bottom.begin(), bottom.end(), bottom.begin(), Premultiply);
    }
    HalveRows(top.data(), hasBottom ? bottom.data() : nullptr, picture.Width(),
              half->pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(half->width));
  }
  return half;
}

std::unique_ptr<PremulImage> HalveLevel(const PremulImage& level) {
  auto half = MakeHalf(level.width, level.height);
  const auto stride = static_cast<size_t>(level.width);
  for (int32_t y = 0; y < half->height; ++y) {
    const uint32_t* top = level.pixels.data() + 2 * static_cast<size_t>(y) * stride;
    const uint32_t* bottom = 2 * y + 1 < level.height ? top + stride : nullptr;
    HalveRows(top, bottom, level.width,
              half->pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(half->width));
  }
  return half;
}

}  // namespace

const PremulImage& Pyramid::Level(int k) {
  std::lock_guard lock(mutex_);
  while (static_cast<int>(levels_.size()) < k) {
    levels_.push_back(levels_.empty() ? HalvePicture(picture_) : HalveLevel(*levels_.back()));
  }
  return *levels_[static_cast<size_t>(k - 1)];
}

}  // namespace rzt2
