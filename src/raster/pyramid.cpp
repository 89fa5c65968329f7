#include "raster/pyramid.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "base/task_group.h"
#include "raster/bitmap.h"

namespace rzt2 {

uint32_t Premultiply(uint32_t argb) {
  const uint32_t a = AlphaOf(argb);
  if (a == 255) return argb;
  const auto scale = [a](uint32_t c) { return (c * a + 127) / 255; };
  return Argb(a, scale(RedOf(argb)), scale(GreenOf(argb)), scale(BlueOf(argb)));
}

void PremulImage::ReadArgb(int32_t x, int32_t y, int32_t count, uint32_t* out) const {
  const uint8_t* p = RowBytes(y) + static_cast<size_t>(x) * PixelBytes();
  const auto n = static_cast<size_t>(count);
  if (!packed) {
    std::memcpy(out, p, 4 * n);
    return;
  }
  for (size_t i = 0; i < n; ++i, p += 3) out[i] = Argb(255, p[2], p[1], p[0]);
}

void PremulImage::WriteArgb(int32_t y, const uint32_t* row) {
  uint8_t* p = MutableRowBytes(y);
  const auto n = static_cast<size_t>(width);
  if (!packed) {
    std::memcpy(p, row, 4 * n);
    return;
  }
  for (size_t i = 0; i < n; ++i, p += 3) {
    p[0] = static_cast<uint8_t>(BlueOf(row[i]));
    p[1] = static_cast<uint8_t>(GreenOf(row[i]));
    p[2] = static_cast<uint8_t>(RedOf(row[i]));
  }
}

// Rows of premultiplied pixels one thread halves with.
struct HalvingRows {
  std::vector<uint32_t> top, bottom, half;
};

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

// Whether the copies of picture are packed: those of a 24-bit picture,
// opaque by construction.
bool PacksCopies(const Bitmap& picture) { return picture.Format() == PixelFormat::Rgb24; }

Status MakeHalf(int32_t width, int32_t height, bool packed, std::unique_ptr<PremulImage>& out) {
  auto half = std::make_unique<PremulImage>();
  half->width = (width + 1) / 2;
  half->height = (height + 1) / 2;
  half->packed = packed;
  const size_t bytes =
      half->PixelBytes() * static_cast<size_t>(half->width) * static_cast<size_t>(half->height);
  if (const Status status = PixelBlock::Allocate(bytes, half->block); status != Status::Ok) return status;
  out = std::move(half);
  return Status::Ok;
}

// Opaque 24-bit pictures, the common case for scans, halve straight from
// their bytes into the packed level 1.
void HalveRgbRows(const uint8_t* top, const uint8_t* bottom, int32_t width, uint8_t* out) {
  const int32_t outWidth = (width + 1) / 2;
  for (int32_t x = 0; x < outWidth; ++x) {
    const int32_t columns = 2 * x + 1 < width ? 2 : 1;
    const uint32_t count = static_cast<uint32_t>(columns) * (bottom != nullptr ? 2u : 1u);
    for (size_t c = 0; c < 3; ++c) {
      uint32_t sum = 0;
      for (int32_t dx = 0; dx < columns; ++dx) {
        const size_t at = 3 * static_cast<size_t>(2 * x + dx) + c;
        sum += top[at] + (bottom != nullptr ? bottom[at] : 0u);
      }
      out[3 * static_cast<size_t>(x) + c] = static_cast<uint8_t>((sum + count / 2) / count);
    }
  }
}

// Row y of level 1 from the picture's rows 2y and 2y + 1 (when there is one).
void HalvePictureRow(const Bitmap& picture, int32_t y, HalvingRows& rows, PremulImage& level) {
  const bool hasBottom = 2 * y + 1 < picture.Height();
  if (level.packed) {
    HalveRgbRows(picture.Row(2 * y), hasBottom ? picture.Row(2 * y + 1) : nullptr, picture.Width(),
                 level.MutableRowBytes(y));
    return;
  }
  const auto width = static_cast<size_t>(picture.Width());
  rows.top.resize(width);
  rows.bottom.resize(width);
  rows.half.resize(static_cast<size_t>(level.width));
  picture.ReadArgb(0, 2 * y, picture.Width(), rows.top.data());
  std::transform(rows.top.begin(), rows.top.end(), rows.top.begin(), Premultiply);
  if (hasBottom) {
    picture.ReadArgb(0, 2 * y + 1, picture.Width(), rows.bottom.data());
    std::transform(rows.bottom.begin(), rows.bottom.end(), rows.bottom.begin(), Premultiply);
  }
  HalveRows(rows.top.data(), hasBottom ? rows.bottom.data() : nullptr, picture.Width(), rows.half.data());
  level.WriteArgb(y, rows.half.data());
}

// Row y of half, the level below level.
void HalveLevelRow(const PremulImage& level, int32_t y, HalvingRows& rows, PremulImage& half) {
  const bool hasBottom = 2 * y + 1 < level.height;
  const auto width = static_cast<size_t>(level.width);
  rows.top.resize(width);
  rows.bottom.resize(width);
  rows.half.resize(static_cast<size_t>(half.width));
  level.ReadArgb(0, 2 * y, level.width, rows.top.data());
  if (hasBottom) level.ReadArgb(0, 2 * y + 1, level.width, rows.bottom.data());
  HalveRows(rows.top.data(), hasBottom ? rows.bottom.data() : nullptr, level.width, rows.half.data());
  half.WriteArgb(y, rows.half.data());
}

Status HalvePicture(const Bitmap& picture, std::unique_ptr<PremulImage>& out) {
  std::unique_ptr<PremulImage> half;
  if (const Status status = MakeHalf(picture.Width(), picture.Height(), PacksCopies(picture), half);
      status != Status::Ok) {
    return status;
  }
  HalvingRows rows;
  for (int32_t y = 0; y < half->height; ++y) HalvePictureRow(picture, y, rows, *half);
  out = std::move(half);
  return Status::Ok;
}

Status HalveLevel(const PremulImage& level, std::unique_ptr<PremulImage>& out) {
  std::unique_ptr<PremulImage> half;
  if (const Status status = MakeHalf(level.width, level.height, level.packed, half); status != Status::Ok) {
    return status;
  }
  HalvingRows rows;
  for (int32_t y = 0; y < half->height; ++y) HalveLevelRow(level, y, rows, *half);
  out = std::move(half);
  return Status::Ok;
}

// Rows of a level the pool's tasks make at a time: enough bands for every
// thread to take several, few enough that a band outweighs its posting.
int32_t BandRows(int32_t height, int threads) {
  constexpr int32_t kMinBandRows = 16;
  return std::max(kMinBandRows, height / (4 * std::max(threads, 1) + 1) + 1);
}

// The level below above (or below the picture, when above is null), its
// bands made on the pool.
Status HalveInBands(const Bitmap& picture, const PremulImage* above, ThreadPool* pool,
                    std::unique_ptr<PremulImage>& out) {
  std::unique_ptr<PremulImage> half;
  const Status made = above == nullptr
                          ? MakeHalf(picture.Width(), picture.Height(), PacksCopies(picture), half)
                          : MakeHalf(above->width, above->height, above->packed, half);
  if (made != Status::Ok) return made;
  const int32_t band = BandRows(half->height, pool != nullptr ? pool->Threads() : 0);
  PremulImage& level = *half;
  TaskGroup bands(pool, "halved copy band");
  for (int32_t first = 0; first < level.height; first += band) {
    bands.Run([&, first, last = std::min(level.height, first + band)] {
      HalvingRows rows;
      for (int32_t y = first; y < last; ++y) {
        if (above == nullptr) {
          HalvePictureRow(picture, y, rows, level);
        } else {
          HalveLevelRow(*above, y, rows, level);
        }
      }
      return Status::Ok;
    });
  }
  if (const Status status = bands.Wait(); status != Status::Ok) return status;
  out = std::move(half);
  return Status::Ok;
}

}  // namespace

Status Pyramid::Level(int k, const PremulImage*& out) {
  const std::lock_guard lock(mutex_);
  while (static_cast<int>(levels_.size()) < k) {
    std::unique_ptr<PremulImage> half;
    const Status status = levels_.empty() ? HalvePicture(picture_, half) : HalveLevel(*levels_.back(), half);
    if (status != Status::Ok) return status;
    levels_.push_back(std::move(half));
  }
  out = levels_[static_cast<size_t>(k - 1)].get();
  return Status::Ok;
}

Status Pyramid::BuildAhead(int k, ThreadPool* pool) {
  std::unique_lock lock(mutex_);
  // Built outside the lock: the caller helps the pool, which may run draws
  // of other pictures meanwhile. Nothing draws from this one until it returns.
  while (static_cast<int>(levels_.size()) < k) {
    const size_t built = levels_.size();
    const PremulImage* above = levels_.empty() ? nullptr : levels_.back().get();
    lock.unlock();
    std::unique_ptr<PremulImage> half;
    const Status status = HalveInBands(picture_, above, pool, half);
    lock.lock();
    if (status != Status::Ok) return status;
    if (levels_.size() == built) levels_.push_back(std::move(half));  // else another thread's is there
  }
  return Status::Ok;
}

uint64_t Pyramid::MemoryBytes() const {
  const std::lock_guard lock(mutex_);
  uint64_t bytes = 0;
  for (const auto& level : levels_) bytes += level->block.MemoryBytes();
  return bytes;
}

struct PyramidBuilder::Build {
  static constexpr int32_t kStopped = -1;

  explicit Build(const Bitmap& p) : picture(p) {}

  bool WaitForRows(int32_t rows) {
    int32_t ready = rowsReady.load(std::memory_order_acquire);
    while (ready != kStopped && ready < rows) {
      rowsReady.wait(ready, std::memory_order_acquire);
      ready = rowsReady.load(std::memory_order_acquire);
    }
    return ready != kStopped;
  }

  // The group's one task: every level, each row as soon as the rows above
  // it are there.
  Status Make() {
    int32_t width = picture.Width(), height = picture.Height();
    while (width > 1 || height > 1) {
      std::unique_ptr<PremulImage> half;
      if (const Status status = MakeHalf(width, height, PacksCopies(picture), half); status != Status::Ok) {
        return status;
      }
      width = half->width;
      height = half->height;
      levels.push_back(std::move(half));
    }
    HalvingRows rows;
    for (int32_t y = 0; !levels.empty() && y < levels[0]->height; ++y) {
      if (!WaitForRows(std::min(2 * y + 2, picture.Height()))) return Status::Cancelled;
      HalvePictureRow(picture, y, rows, *levels[0]);
      Made(1, y, rows);
    }
    return Status::Ok;
  }

  // Row y of level k (1-based) is written; makes the rows it completes below.
  void Made(size_t k, int32_t y, HalvingRows& rows) {
    // Level k's rows 2j and 2j + 1 (or its last row) make row j of level k + 1.
    for (; k < levels.size(); ++k, y /= 2) {
      const PremulImage& level = *levels[k - 1];
      if (y % 2 == 0 && y + 1 < level.height) return;
      HalveLevelRow(level, y / 2, rows, *levels[k]);
    }
  }

  const Bitmap& picture;
  std::atomic<int32_t> rowsReady{0};
  std::vector<std::unique_ptr<PremulImage>> levels;  // the task's until the group's wait
};

PyramidBuilder::PyramidBuilder(ThreadPool& pool) : pool_(pool) {}

PyramidBuilder::~PyramidBuilder() { Abandon(); }

void PyramidBuilder::RowsDone(const Bitmap& picture, int32_t rows) noexcept {
  if (build_ == nullptr) {
    if (picture.Format() == PixelFormat::Indexed8 || pool_.Threads() == 0) return;
    build_ = std::unique_ptr<Build>(new (std::nothrow) Build(picture));
    if (build_ == nullptr) return;  // the levels are built on first use
    group_.emplace(&pool_, "halved copies behind the decoder");
    group_->RunLong([build = build_.get()] { return build->Make(); });
  }
  if (build_->rowsReady.load(std::memory_order_relaxed) == Build::kStopped) return;
  build_->rowsReady.store(rows, std::memory_order_release);
  build_->rowsReady.notify_one();
}

void PyramidBuilder::Abandon() noexcept {
  if (build_ == nullptr) return;
  build_->rowsReady.store(Build::kStopped, std::memory_order_release);
  build_->rowsReady.notify_one();
  group_.reset();  // cancels the task if no thread took it, else waits for it
  build_.reset();
}

void PyramidBuilder::Finish(Bitmap& picture) {
  if (build_ == nullptr) return;
  // The wait runs the task here when no worker took it during the decode.
  if (group_->Wait() == Status::Ok && &build_->picture == &picture) {
    picture.SetReductions(std::make_unique<Pyramid>(picture, std::move(build_->levels)));
  }
  group_.reset();
  build_.reset();
}

}  // namespace rzt2
