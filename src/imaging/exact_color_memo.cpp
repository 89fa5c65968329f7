#include "imaging/exact_color_memo.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace rzt2 {

namespace {

constexpr size_t kColors = size_t{1} << 24;
constexpr uint32_t kMaxEntries = 256;
constexpr uint8_t kTransparentIndex = 255;

// The searchable entries unpacked. A search packs each distance with its
// index (distance << 8 | index) and takes the smallest: the nearest entry,
// the lowest index on ties, in a loop the compiler vectorizes.
class EntrySearch {
 public:
  explicit EntrySearch(const ColorPalette& palette) : count_(std::min(palette.Count(), kMaxEntries)) {
    for (uint32_t i = 0; i < count_; ++i) {
      red_[i] = RedOf(palette.entries[i]);
      green_[i] = GreenOf(palette.entries[i]);
      blue_[i] = BlueOf(palette.entries[i]);
    }
  }

  // 0 when the palette has no entry from 1 on.
  [[gnu::noinline]] uint8_t Nearest(uint32_t argb) const {
    const auto r = static_cast<int32_t>(RedOf(argb));
    const auto g = static_cast<int32_t>(GreenOf(argb));
    const auto b = static_cast<int32_t>(BlueOf(argb));
    uint32_t best = UINT32_MAX;
    for (uint32_t i = 1; i < count_; ++i) {
      const int32_t dr = static_cast<int32_t>(red_[i]) - r;
      const int32_t dg = static_cast<int32_t>(green_[i]) - g;
      const int32_t db = static_cast<int32_t>(blue_[i]) - b;
      const auto d = static_cast<uint32_t>(dr * dr + dg * dg + db * db);  // below 2^18
      best = std::min(best, d << 8 | i);
    }
    return count_ < 2 ? 0 : static_cast<uint8_t>(best & 0xFF);
  }

 private:
  uint32_t count_;
  std::array<uint32_t, kMaxEntries> red_{};
  std::array<uint32_t, kMaxEntries> green_{};
  std::array<uint32_t, kMaxEntries> blue_{};
};

inline uint8_t Lookup(uint32_t argb, const EntrySearch& search, uint8_t* memo) {
  if (AlphaOf(argb) < 128) return kTransparentIndex;
  uint8_t& slot = memo[argb & 0xFFFFFF];
  if (slot == 0) slot = search.Nearest(argb);
  return slot;
}

}  // namespace

ExactColorMemo ExactColorMemo::Create() {
  ExactColorMemo memo;
  memo.memo_.reset(new (std::nothrow) uint8_t[kColors]());
  return memo;
}

void ExactColorMemo::Reset() {
  if (memo_) std::memset(memo_.get(), 0, kColors);
}

uint8_t ExactColorMemo::Index(uint32_t argb, const ColorPalette& palette) {
  return Lookup(argb, EntrySearch(palette), memo_.get());
}

void ExactColorMemo::QuantizeInto(ImageHandle& source, ImageHandle& destination,
                                  const ColorPalette& palette) {
  const uint32_t width = source.Width();
  const uint32_t height = source.Height();
  if (width == 0 || height == 0) return;  // the failed query is the source's status
  if (!memo_) {
    destination.Record(Status::InvalidParameter);
    return;
  }
  const Rect rect{0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height)};
  PixelLock sourceLock;
  if (source.LockBits(rect, LockMode::Read, PixelFormat::Argb32, sourceLock) != Status::Ok) return;
  PixelLock destinationLock;
  if (destination.LockBits(rect, LockMode::Write, PixelFormat::Indexed8, destinationLock) != Status::Ok) {
    return;
  }
  const EntrySearch search(palette);
  const uint8_t* in = sourceLock.Scan0();
  uint8_t* out = destinationLock.Scan0();
  for (int32_t y = 0; y < rect.height; ++y) {
    uint32_t last = 0;  // runs of one colour skip the memo
    uint8_t lastIndex = kTransparentIndex;
    for (int32_t x = 0; x < rect.width; ++x) {
      uint32_t argb;
      std::memcpy(&argb, in + 4 * static_cast<size_t>(x), sizeof argb);
      if (argb != last) {
        last = argb;
        lastIndex = Lookup(argb, search, memo_.get());
      }
      out[x] = lastIndex;
    }
    in += sourceLock.Stride();
    out += destinationLock.Stride();
  }
  sourceLock.Unlock();
  destinationLock.Unlock();
}

ImageHandle ExactColorMemo::QuantizedCopy(ImageHandle& source, const ColorPalette& palette) {
  ImageHandle copy = ImageHandle::CreateBlank(static_cast<int32_t>(source.Width()),
                                              static_cast<int32_t>(source.Height()), PixelFormat::Indexed8);
  if (!copy) return copy;
  copy.SetPalette(palette);
  QuantizeInto(source, copy, palette);
  return copy;
}

}  // namespace rzt2
