// Limits every decoder checks before it allocates, and the rules that apply
// them. A decoder calls CheckPictureSize as soon as its header gives the
// size, and CheckDecodeBytes with the bytes of the picture and of its own
// working buffers before it allocates any of them, so that a picture
// refused for its size or shape costs nothing.
#pragma once

#include <algorithm>
#include <cstdint>

#include "base/status.h"
#include "base/thread_pool.h"
#include "raster/bitmap.h"

namespace rzt2 {

// What a decoder may take by default for a limit of maxPixels: six bytes a
// pixel (a 32-bit picture and its halved copies) and a little more for the
// codec libraries' fixed needs. Thin pictures, whose row buffers dwarf
// their pixels, are what it stops.
inline constexpr uint64_t kDecodeBytesPerPixel = 6;
constexpr uint64_t DefaultMaxBytes(uint64_t maxPixels) {
  constexpr uint64_t kFixedBytes = uint64_t{1} << 20;
  return kDecodeBytesPerPixel * std::min(maxPixels, kPixelCeiling) + kFixedBytes;
}

// The most pixels a picture may have where pixels past the memory budget
// have nowhere to go (the browser's build: no disk behind it), at the bytes
// a pixel a decoder may take. CheckPictureSize refuses larger ones there
// with OverMemoryBudget.
constexpr uint64_t PixelsWithinBudget(uint64_t budgetBytes) { return budgetBytes / kDecodeBytesPerPixel; }

struct DecodeLimits {
  // Pixels of the decoded picture: up to the ceiling by default, whatever
  // the memory (large pictures are kept on disk), and less where a reader
  // knows what to expect.
  uint64_t maxPixels = kPixelCeiling;
  // Bytes of the decoded picture and the decoder's working buffers together:
  // row, strip and tile buffers, canvases, the coefficients libjpeg keeps.
  uint64_t maxBytes = DefaultMaxBytes(maxPixels);
  // The frame size of a conversion, or 0 x 0. A picture that is to be cut
  // into frames must have its grid of whole frames at full size fit
  // maxPixels, as map readers require of a stored level.
  uint32_t frameWidth = 0;
  uint32_t frameHeight = 0;
  // Not limits, but what to decode: the page or frame of a file of several
  // (from 1), and the pixels an inch of drawn formats (0: each format's own).
  uint32_t page = 1;
  uint32_t dpi = 0;
  // Not limits but hints. The size a preview is shown at, or 0 x 0 for the
  // whole picture: a decoder that holds reduced resolutions (JPEG 2000) may
  // then return the smallest that still covers it. And the threads a decoder
  // may run its work on: a count for a library that starts its own
  // (OpenJPEG), or a pool (TIFF strips) that the caller's thread helps.
  uint32_t shownWidth = 0;
  uint32_t shownHeight = 0;
  uint32_t threads = 1;
  ThreadPool* pool = nullptr;
};

// Whether columns x rows frames of frameWidth x frameHeight pixels hold at
// most maxPixels pixels; no product wraps. The rule for a stored level.
bool FrameGridFits(uint64_t columns, uint64_t rows, uint64_t frameWidth, uint64_t frameHeight,
                   uint64_t maxPixels);

// OverPixelCeiling when a width x height picture passes kPixelCeiling (or
// 2^31 - 1 pixels a side); in the browser's build OverMemoryBudget when it
// passes PixelsWithinBudget; TooLarge when it passes the pixel limit, or,
// with a frame size, its grid of frames does; Ok otherwise. Past it,
// width x height x 16 cannot wrap.
Status CheckPictureSize(const DecodeLimits& limits, uint64_t width, uint64_t height);

// TooLarge when the picture and the decoder's working buffers, `bytes` in
// all, pass maxBytes.
Status CheckDecodeBytes(const DecodeLimits& limits, uint64_t bytes);

// OverMemoryAllowance when a decoder's working buffers, which live in
// memory (the libraries' and ours, unlike the picture, which may go to
// disk), pass the process's memory budget, or kWorkingMemoryFloor when that
// is more: a budget of nothing keeps pictures on disk, it does not stop
// every decoder. Checked with the header's figures, before the library is
// asked to decode.
inline constexpr uint64_t kWorkingMemoryFloor = uint64_t{16} << 20;
Status CheckWorkingMemory(uint64_t bytes);

}  // namespace rzt2
