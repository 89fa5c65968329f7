// Bitmap: a width, a height, a pixel format and an optional palette.
//
// Pixels are stored top-down with a stride of exactly width x bytes per
// pixel. In memory, Rgb24 is B,G,R and Argb32 is one little-endian uint32
// 0xAARRGGBB (B,G,R,A), so both read alike on the same byte offsets.
// Any bitmap may carry a palette; Indexed8 pixels are indexes into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "base/status.h"
#include "io/pixel_block.h"
#include "raster/color_palette.h"

namespace rzt2 {

enum class PixelFormat { Indexed8, Rgb24, Argb32 };

constexpr int BytesPerPixel(PixelFormat format) {
  return format == PixelFormat::Indexed8 ? 1 : format == PixelFormat::Rgb24 ? 3 : 4;
}

// No bitmap holds more pixels than this (2 gigapixels, 2^31): the ceiling
// that guards against decompression bombs, whatever the memory. Sides stay
// within int32 and every byte count within 64 bits.
inline constexpr uint64_t kPixelCeiling = uint64_t{1} << 31;
static_assert(kPixelCeiling == 2147483648, "StatusText(OverPixelCeiling) names the ceiling");

struct Rect {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
};

class Pyramid;

class Bitmap {
 public:
  // Allocates zero-filled pixels in a PixelBlock (in memory or on disk, by
  // the memory budget); refuses sizes that are not positive, and with
  // OverPixelCeiling those past kPixelCeiling; reports a failed allocation
  // with its cause. spareBytes more follow the last row, for a decoder that
  // unpacks longer rows in place.
  static Status Create(int32_t width, int32_t height, PixelFormat format, std::unique_ptr<Bitmap>& out,
                       size_t spareBytes = 0);
  ~Bitmap();
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;

  Status Clone(std::unique_ptr<Bitmap>& out) const;

  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  PixelFormat Format() const { return format_; }
  size_t Stride() const { return stride_; }

  const uint8_t* Row(int32_t y) const { return pixels_.Data() + static_cast<size_t>(y) * stride_; }
  // Writable access; drops the cached reductions used for downscaling.
  uint8_t* MutableRow(int32_t y);

  const ColorPalette& Palette() const { return palette_; }
  void SetPalette(ColorPalette palette) { palette_ = std::move(palette); }

  // Columns [x, x + count) of row y as 0xAARRGGBB. Indexes past the
  // palette's end read as opaque black.
  void ReadArgb(int32_t x, int32_t y, int32_t count, uint32_t* out) const;
  uint32_t PixelArgb(int32_t x, int32_t y) const;

  // Halved copies of the picture, built on first use by downscaling draws.
  // Throws std::bad_alloc when memory runs out: for the drawing code of
  // this layer, whose entry point (DrawPicture) guards. Threads may draw
  // from one bitmap at once as long as none changes it.
  Pyramid& Reductions() const;

  // Gives the picture halved copies built elsewhere (PyramidBuilder).
  void SetReductions(std::unique_ptr<Pyramid> reductions);

  // The bytes of this picture and of its halved copies built so far that
  // are held in the process's memory; what is on disk does not count.
  uint64_t MemoryBytes() const;

 private:
  Bitmap(int32_t width, int32_t height, PixelFormat format, size_t stride, PixelBlock pixels);

  int32_t width_;
  int32_t height_;
  PixelFormat format_;
  size_t stride_;
  PixelBlock pixels_;
  ColorPalette palette_;
  mutable std::mutex reductionsMutex_;
  mutable std::unique_ptr<Pyramid> reductions_;
};

}  // namespace rzt2
