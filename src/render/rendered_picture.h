// What every renderer of the render helper takes and gives: the request
// (limits, resolution, page) and the picture, with the size checks and the
// pixel conversions they share.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "base/status.h"

namespace rzt2 {

struct RenderRequest {
  uint64_t maxPixels = 0;
  // Pixels an inch; 0 for the format's own (PDF 150, SVG and metafiles 96).
  uint32_t dpi = 0;
  uint32_t page = 1;  // from 1
};

// The size a page will have, and how many pages the file holds.
struct PageSize {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t pages = 1;
};

struct RenderedPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint32_t> argb;  // top-down 0xAARRGGBB, straight alpha
};

// cairo's image surfaces end there; libwmf's raster device uses int sizes.
inline constexpr double kMaxRenderedSide = 32767;

inline double PixelsPerInch(const RenderRequest& request, double formatDefault) {
  return request.dpi > 0 ? request.dpi : formatDefault;
}

// Rounds a size in pixels and checks it against the limits.
inline Status CheckedSize(double width, double height, uint64_t maxPixels, uint32_t& outWidth,
                          uint32_t& outHeight) {
  if (!std::isfinite(width) || !std::isfinite(height)) return Status::CorruptData;
  width = std::round(width);
  height = std::round(height);
  if (width < 1 || height < 1) return Status::CorruptData;
  if (width > kMaxRenderedSide || height > kMaxRenderedSide) return Status::TooLarge;
  outWidth = static_cast<uint32_t>(width);
  outHeight = static_cast<uint32_t>(height);
  if (uint64_t{outWidth} * outHeight > maxPixels) return Status::TooLarge;
  return Status::Ok;
}

// cairo's and poppler's ARGB32: native-endian, premultiplied alpha.
inline uint32_t Unpremultiplied(uint32_t pixel) {
  const uint32_t alpha = pixel >> 24;
  if (alpha == 0 || alpha == 255) return alpha == 0 ? 0 : pixel;
  uint32_t result = alpha << 24;
  for (int shift = 0; shift < 24; shift += 8) {
    const uint32_t channel = (pixel >> shift) & 0xFF;
    result |= std::min<uint32_t>(255, (channel * 255 + alpha / 2) / alpha) << shift;
  }
  return result;
}

}  // namespace rzt2
