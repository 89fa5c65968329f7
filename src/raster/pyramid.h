// Halved copies of a picture, for downscaling: level k is the picture
// box-filtered by 2^k in both directions, in premultiplied ARGB so that
// transparent pixels do not bleed their colour. Level k pixel (x, y)
// covers picture pixels [x * 2^k, (x + 1) * 2^k) clipped to the picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "base/status.h"
#include "base/task_group.h"
#include "base/thread_pool.h"
#include "io/pixel_block.h"
#include "raster/row_sink.h"

namespace rzt2 {

class Bitmap;
struct HalvingRows;

struct PremulImage {
  int32_t width = 0;
  int32_t height = 0;
  // The copies of an opaque 24-bit picture keep its 3 bytes a pixel (B, G,
  // R, as its rows have them): a quarter less memory, and alpha is 255 anyway.
  bool packed = false;
  PixelBlock block;  // rows top-down, premultiplied 0xAARRGGBB unless packed

  size_t PixelBytes() const { return packed ? 3 : 4; }
  const uint8_t* RowBytes(int32_t y) const {
    return block.Data() + static_cast<size_t>(y) * static_cast<size_t>(width) * PixelBytes();
  }
  uint8_t* MutableRowBytes(int32_t y) {
    return block.Data() + static_cast<size_t>(y) * static_cast<size_t>(width) * PixelBytes();
  }
  // Columns [x, x + count) of row y as premultiplied 0xAARRGGBB.
  void ReadArgb(int32_t x, int32_t y, int32_t count, uint32_t* out) const;
  // Row y from width premultiplied 0xAARRGGBB values (opaque when packed).
  void WriteArgb(int32_t y, const uint32_t* row);
};

class Pyramid {
 public:
  // levels: levels 1, 2, ... already built, as PyramidBuilder gives them.
  explicit Pyramid(const Bitmap& picture, std::vector<std::unique_ptr<PremulImage>> levels = {})
      : picture_(picture), levels_(std::move(levels)) {}

  // Level k >= 1, built with the levels above it on first use; the
  // PixelBlock's status when one cannot be had. Threads may ask at once:
  // one builds, the others wait for it.
  Status Level(int k, const PremulImage*& out);

  // Builds the levels up to k that are not there yet, each in bands of rows
  // run on the pool (the caller helps; without a pool, all on the caller's
  // thread), so that draws posted afterwards find them made and never wait
  // for one another.
  Status BuildAhead(int k, ThreadPool* pool);

  // The bytes of the levels built so far held in the process's memory.
  uint64_t MemoryBytes() const;

 private:
  const Bitmap& picture_;
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<PremulImage>> levels_;  // levels_[k - 1]
};

// Builds every level of a picture's pyramid, down to one pixel, while the
// decoder delivers rows (a RowSink): each row of a level as soon as the rows
// it covers are there, as a group of one long task of the pool, so that the
// threads at work stay those of the pool. The pixels are those Level builds
// after the decode. A task that has not started when the decode ends (the
// pool is busy) is run by Finish's thread instead. Nothing is built for an
// indexed picture (its palette may come after its rows) or on a pool without
// workers (its one thread is decoding): the picture then builds its levels
// when a draw needs them.
class PyramidBuilder final : public RowSink {
 public:
  explicit PyramidBuilder(ThreadPool& pool);
  ~PyramidBuilder();
  PyramidBuilder(const PyramidBuilder&) = delete;
  PyramidBuilder& operator=(const PyramidBuilder&) = delete;

  void RowsDone(const Bitmap& picture, int32_t rows) noexcept override;
  void Abandon() noexcept override;

  // After the decoder delivered the last row of picture: waits for the
  // build and gives the picture its levels.
  void Finish(Bitmap& picture);

 private:
  struct Build;  // what the builder and its task share

  ThreadPool& pool_;
  std::unique_ptr<Build> build_;
  std::optional<TaskGroup> group_;  // after build_: it waits for the task before build_ goes
};

uint32_t Premultiply(uint32_t argb);

}  // namespace rzt2
