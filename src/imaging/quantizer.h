// Colour quantization: maps ARGB pixels to palette indexes by the nearest
// colour in RGB space, without dithering.
//
// Rules shared by every operation:
// - A pixel with alpha below 128 gives index 255.
// - Entry 0 is never chosen; palettes of 0 or 1 entries give 0 for every
//   opaque pixel. Ties go to the lowest index. Entry alpha is ignored, and
//   only the first 256 entries are searched.
// - A QuantizerWorkArea remembers the index chosen for each key of the top
//   six bits per channel, so the first pixel that reaches a key decides it
//   for all later pixels with that key. Pictures are visited row by row from
//   the top, left to right. A work area belongs to one palette.
// - Failures leave their status on the handle concerned (the source for its
//   size and lock, the destination for its creation, palette and lock) and
//   write no pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "imaging/image_handle.h"
#include "raster/bitmap.h"
#include "raster/color_palette.h"

namespace rzt2 {

// The most palette entries a search looks at, and the index every pixel
// under half alpha gets.
inline constexpr uint32_t kMaxPaletteEntries = 256;
inline constexpr uint8_t kTransparentIndex = 255;

// The colour-match memo: one byte per key, 0 while no index is chosen.
class QuantizerWorkArea {
 public:
  static constexpr size_t kSize = size_t{64} * 64 * 64;

  // A zero-filled memo; an invalid (empty) one when memory is exhausted.
  static QuantizerWorkArea Create();

  QuantizerWorkArea() = default;  // invalid
  QuantizerWorkArea(QuantizerWorkArea&&) noexcept = default;
  QuantizerWorkArea& operator=(QuantizerWorkArea&&) noexcept = default;
  QuantizerWorkArea(const QuantizerWorkArea&) = delete;
  QuantizerWorkArea& operator=(const QuantizerWorkArea&) = delete;

  bool IsValid() const { return memo_ != nullptr; }
  explicit operator bool() const { return IsValid(); }
  // kSize bytes, or null when invalid.
  uint8_t* Data() { return memo_.get(); }
  const uint8_t* Data() const { return memo_.get(); }

  // The memo key of a pixel: (R >> 2) * 4096 + (G >> 2) * 64 + (B >> 2).
  static constexpr uint32_t Key(uint32_t argb) {
    return ((argb >> 6) & 0x3F000) | ((argb >> 4) & 0xFC0) | ((argb >> 2) & 0x3F);
  }

 private:
  std::unique_ptr<uint8_t[]> memo_;
};

// The palette index for one ARGB pixel. An invalid work area is neither
// read nor written: the result is then that of a fresh one.
uint8_t NearestIndex(uint32_t argb, const ColorPalette& palette, QuantizerWorkArea& workArea);

// Writes the index of every source pixel into the same position of the
// destination, an Indexed8 picture at least as large as the source. The
// destination's own palette is not consulted. An invalid work area records
// InvalidParameter on the destination.
void QuantizeInto(ImageHandle& source, ImageHandle& destination, const ColorPalette& palette,
                  QuantizerWorkArea& workArea);

// The pass every quantizer makes: each row of the source, read as Argb32,
// handed to quantizeRow with the destination's row (Indexed8, at least as
// large as the source). With memoValid false the destination records
// InvalidParameter; failures are recorded as the rules above say, and
// nothing is written.
void QuantizeRows(
    ImageHandle& source, ImageHandle& destination, bool memoValid,
    const std::function<void(const uint8_t* argb, uint8_t* indexes, int32_t width)>& quantizeRow);

// A new Indexed8 picture of the source's size carrying the palette. A failed
// creation gives a handle whose last status tells why.
ImageHandle QuantizedCopy(ImageHandle& source, const ColorPalette& palette, QuantizerWorkArea& workArea);

// QuantizedCopy with PaletteForImage of the source and a work area of its own.
ImageHandle QuantizeImage(ImageHandle& source);

// Quantizing a sequence of frames on several threads with the bytes that
// QuantizeInto gives when run over them in order with one work area. Each
// frame takes three steps:
// - Scan (any thread): indexes every pixel whose key the work area already
//   knows, and finds the keys it does not, each with the index of its first
//   pixel in the frame;
// - Commit (one thread, frames in order): enters those keys that are still
//   new, so a key is decided by the first frame that meets it;
// - Finish (any thread, after the frame's commit): indexes the pixels the
//   scan left.
// Scans may run while earlier frames commit. Memo entries are written once,
// and only by Commit, so no step sees an entry change.
class FrameQuantizer {
 public:
  // The source is Argb32 and the destination Indexed8 of its size; Scan
  // refuses other bitmaps, and an invalid work area, with InvalidParameter,
  // and the later steps of such a frame do nothing.
  Status Scan(const Bitmap& source, Bitmap& destination, const ColorPalette& palette,
              const QuantizerWorkArea& workArea);
  void Commit(QuantizerWorkArea& workArea) const;
  void Finish(const Bitmap& source, Bitmap& destination, const ColorPalette& palette,
              const QuantizerWorkArea& workArea) const;

 private:
  std::vector<uint32_t> firstPixels_;  // of each key new to the work area, in order
  std::vector<uint8_t> indexes_;       // the index for each
  std::vector<uint64_t> seen_;         // a bit per key the scan found new
};

}  // namespace rzt2
