#include "raster/pyramid.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <new>

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

Status MakeHalf(int32_t width, int32_t height, std::unique_ptr<PremulImage>& out) {
  auto half = std::make_unique<PremulImage>();
  half->width = (width + 1) / 2;
  half->height = (height + 1) / 2;
  const size_t bytes =
      sizeof(uint32_t) * static_cast<size_t>(half->width) * static_cast<size_t>(half->height);
  if (const Status status = PixelBlock::Allocate(bytes, half->block); status != Status::Ok) return status;
  out = std::move(half);
  return Status::Ok;
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

// Row y of level 1 from the picture's rows 2y and 2y + 1 (when there is one).
void HalvePictureRow(const Bitmap& picture, int32_t y, std::vector<uint32_t>& top,
                     std::vector<uint32_t>& bottom, uint32_t* out) {
  const bool hasBottom = 2 * y + 1 < picture.Height();
  if (picture.Format() == PixelFormat::Rgb24) {
    HalveRgbRows(picture.Row(2 * y), hasBottom ? picture.Row(2 * y + 1) : nullptr, picture.Width(), out);
    return;
  }
  const auto width = static_cast<size_t>(picture.Width());
  top.resize(width);
  bottom.resize(width);
  picture.ReadArgb(0, 2 * y, picture.Width(), top.data());
  std::transform(top.begin(), top.end(), top.begin(), Premultiply);
  if (hasBottom) {
    picture.ReadArgb(0, 2 * y + 1, picture.Width(), bottom.data());
    std::transform(bottom.begin(), bottom.end(), bottom.begin(), Premultiply);
  }
  HalveRows(top.data(), hasBottom ? bottom.data() : nullptr, picture.Width(), out);
}

// Row y of the level below level.
void HalveLevelRow(const PremulImage& level, int32_t y, uint32_t* out) {
  const uint32_t* bottom = 2 * y + 1 < level.height ? level.Row(2 * y + 1) : nullptr;
  HalveRows(level.Row(2 * y), bottom, level.width, out);
}

Status HalvePicture(const Bitmap& picture, std::unique_ptr<PremulImage>& out) {
  std::unique_ptr<PremulImage> half;
  if (const Status status = MakeHalf(picture.Width(), picture.Height(), half); status != Status::Ok) {
    return status;
  }
  std::vector<uint32_t> top, bottom;
  for (int32_t y = 0; y < half->height; ++y) HalvePictureRow(picture, y, top, bottom, half->MutableRow(y));
  out = std::move(half);
  return Status::Ok;
}

Status HalveLevel(const PremulImage& level, std::unique_ptr<PremulImage>& out) {
  std::unique_ptr<PremulImage> half;
  if (const Status status = MakeHalf(level.width, level.height, half); status != Status::Ok) return status;
  for (int32_t y = 0; y < half->height; ++y) HalveLevelRow(level, y, half->MutableRow(y));
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
Status HalveInBands(const Bitmap& picture, const PremulImage* above, ThreadPool& pool,
                    std::unique_ptr<PremulImage>& out) {
  std::unique_ptr<PremulImage> half;
  const Status made = above == nullptr ? MakeHalf(picture.Width(), picture.Height(), half)
                                       : MakeHalf(above->width, above->height, half);
  if (made != Status::Ok) return made;
  const int32_t band = BandRows(half->height, pool.Threads());
  std::atomic<int32_t> pending{0};
  std::atomic<bool> outOfMemory{false};
  PremulImage& level = *half;
  for (int32_t first = 0; first < level.height; first += band) {
    const int32_t last = std::min(level.height, first + band);
    ++pending;
    try {
      pool.Post([&, first, last] {
        const Status status = GuardMemory([&] {
          std::vector<uint32_t> top, bottom;
          for (int32_t y = first; y < last; ++y) {
            if (above == nullptr) {
              HalvePictureRow(picture, y, top, bottom, level.MutableRow(y));
            } else {
              HalveLevelRow(*above, y, level.MutableRow(y));
            }
          }
          return Status::Ok;
        });
        if (status != Status::Ok) outOfMemory = true;
        --pending;
      });
    } catch (const std::bad_alloc&) {
      --pending;
      outOfMemory = true;
      break;
    }
  }
  pool.HelpUntil([&] { return pending.load() == 0; });
  if (outOfMemory) return Status::OutOfMemory;
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

Status Pyramid::BuildAhead(int k, ThreadPool& pool) {
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

PyramidBuilder::~PyramidBuilder() { Abandon(); }

void PyramidBuilder::RowsDone(const Bitmap& picture, int32_t rows) noexcept {
  if (picture_ == nullptr) {
    if (picture.Format() == PixelFormat::Indexed8) return;
    picture_ = &picture;
    try {
      thread_ = std::thread([this] { built_ = Build() == Status::Ok; });
    } catch (const std::exception&) {
      return;  // no thread to be had: the levels are built on first use
    }
  }
  if (rowsReady_.load(std::memory_order_relaxed) == kStopped) return;
  rowsReady_.store(rows, std::memory_order_release);
  rowsReady_.notify_one();
}

void PyramidBuilder::Abandon() noexcept {
  rowsReady_.store(kStopped, std::memory_order_release);
  rowsReady_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void PyramidBuilder::Finish(Bitmap& picture) {
  if (!thread_.joinable()) return;
  thread_.join();
  if (built_ && picture_ == &picture)
    picture.SetReductions(std::make_unique<Pyramid>(picture, std::move(levels_)));
}

bool PyramidBuilder::WaitForRows(int32_t rows) {
  int32_t ready = rowsReady_.load(std::memory_order_acquire);
  while (ready != kStopped && ready < rows) {
    rowsReady_.wait(ready, std::memory_order_acquire);
    ready = rowsReady_.load(std::memory_order_acquire);
  }
  return ready != kStopped;
}

Status PyramidBuilder::Build() {
  return GuardMemory([&] {
    int32_t width = picture_->Width(), height = picture_->Height();
    while (width > 1 || height > 1) {
      std::unique_ptr<PremulImage> half;
      if (const Status status = MakeHalf(width, height, half); status != Status::Ok) return status;
      width = half->width;
      height = half->height;
      levels_.push_back(std::move(half));
    }
    std::vector<uint32_t> top, bottom;
    for (int32_t y = 0; !levels_.empty() && y < levels_[0]->height; ++y) {
      if (!WaitForRows(std::min(2 * y + 2, picture_->Height()))) return Status::Cancelled;
      HalvePictureRow(*picture_, y, top, bottom, levels_[0]->MutableRow(y));
      Made(1, y);
    }
    return Status::Ok;
  });
}

void PyramidBuilder::Made(size_t k, int32_t y) {
  // Level k's rows 2j and 2j + 1 (or its last row) make row j of level k + 1.
  for (; k < levels_.size(); ++k, y /= 2) {
    const PremulImage& level = *levels_[k - 1];
    if (y % 2 == 0 && y + 1 < level.height) return;
    HalveLevelRow(level, y / 2, levels_[k]->MutableRow(y / 2));
  }
}

}  // namespace rzt2
