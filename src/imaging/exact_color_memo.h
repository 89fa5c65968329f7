// Quantization for fitted palettes: the nearest entry for every distinct
// colour at full precision. The 6-bit memo of quantizer.h would merge
// colours that share a key (two district colours one level apart, say) and
// undo what fitting the palette gained; here the memo is keyed by the whole
// colour, so each colour's index depends on nothing but the colour and the
// palette, in whatever order pixels come, so frames may be quantized on
// several threads at once: a colour met for the first time is matched
// under a lock, every later one is read without. The other rules are the
// quantizer's: alpha below 128 gives 255, entry 0 is never chosen, ties go
// to the lowest index.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "imaging/image_handle.h"
#include "io/pixel_block.h"
#include "raster/color_palette.h"

namespace rzt2 {

class ExactColorMemo {
 public:
  // 16 MiB, one byte per RGB colour, and the entries that can be nearest
  // to the colours of each 6-bit key (listed on first use, so a search looks
  // at a handful); an invalid memo when memory is exhausted.
  static ExactColorMemo Create();

  ExactColorMemo() = default;  // invalid
  bool IsValid() const { return memo_.Data() != nullptr; }
  explicit operator bool() const { return IsValid(); }

  // Forgets every match, for a new palette; not while a frame is quantized.
  void Reset();

  // The palette index for one ARGB pixel; the memo must be valid and
  // belong to palette.
  uint8_t Index(uint32_t argb, const ColorPalette& palette);

  // Writes the index of every source pixel into the same position of the
  // destination, an Indexed8 picture at least as large as the source; calls
  // with the same palette may run at once. Failures leave their status on
  // the handle concerned; an invalid memo records InvalidParameter on the
  // destination.
  void QuantizeInto(ImageHandle& source, ImageHandle& destination, const ColorPalette& palette);

  // A new Indexed8 picture of the source's size carrying the palette.
  ImageHandle QuantizedCopy(ImageHandle& source, const ColorPalette& palette);

 private:
  // 0: no index chosen yet; read and written as atomics. A pixel block: its
  // pages are zero until written, and huge, as the colours fall anywhere.
  PixelBlock memo_;
  // The rest is used under the lock, by the threads that meet new colours.
  std::unique_ptr<std::mutex> lock_;
  std::unique_ptr<uint32_t[]> listStart_;
  std::vector<uint8_t> lists_;
  bool used_ = false;  // written since created or reset: a fresh memo needs no clearing
};

}  // namespace rzt2
