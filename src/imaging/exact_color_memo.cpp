#include "imaging/exact_color_memo.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/quantizer.h"

namespace rzt2 {

namespace {

constexpr size_t kColors = size_t{1} << 24;

// The searchable entries unpacked. A search packs each distance with its
// index (distance << 8 | index) and takes the smallest: the nearest entry,
// the lowest index on ties. It looks only at the entries that can be nearest
// to some colour of the pixel's 6-bit key, a handful, listed once per key.
class EntrySearch {
 public:
  explicit EntrySearch(const ColorPalette& palette) : count_(std::min(palette.Count(), kMaxPaletteEntries)) {
    for (uint32_t i = 0; i < count_; ++i) {
      rgb_[i] = {RedOf(palette.entries[i]), GreenOf(palette.entries[i]), BlueOf(palette.entries[i])};
    }
  }

  // Appends the list for the 4 x 4 x 4 colours of key: its length, then the
  // entries from 1 on that lie no farther from the box than the farthest
  // point of the box from the entry closest to all of it. Any other entry
  // is farther from every colour of the box than that one.
  [[gnu::noinline]] void ListCandidates(uint32_t key, std::vector<uint8_t>& lists) const {
    const std::array<uint32_t, 3> low{(key >> 12) * 4, ((key >> 6) & 0x3F) * 4, (key & 0x3F) * 4};
    std::array<uint32_t, kMaxPaletteEntries> nearest{};
    uint32_t bound = UINT32_MAX;
    for (uint32_t i = 1; i < count_; ++i) {
      uint32_t near = 0, far = 0;
      for (size_t c = 0; c < 3; ++c) {
        const uint32_t v = rgb_[i][c], lo = low[c], hi = low[c] + 3;
        const uint32_t inside = v < lo ? lo - v : v > hi ? v - hi : 0;
        const uint32_t outside = std::max(v > lo ? v - lo : lo - v, v > hi ? v - hi : hi - v);
        near += inside * inside;
        far += outside * outside;
      }
      nearest[i] = near;
      bound = std::min(bound, far);
    }
    const size_t length = lists.size();
    lists.push_back(0);
    for (uint32_t i = 1; i < count_; ++i) {
      if (nearest[i] > bound) continue;
      lists.push_back(static_cast<uint8_t>(i));
      ++lists[length];
    }
  }

  // The nearest of the listed entries; 0 for an empty list.
  uint8_t Nearest(uint32_t argb, const uint8_t* list) const {
    const auto r = static_cast<int32_t>(RedOf(argb));
    const auto g = static_cast<int32_t>(GreenOf(argb));
    const auto b = static_cast<int32_t>(BlueOf(argb));
    uint32_t best = 0;  // stays 0 without candidates
    for (uint32_t k = 1; k <= list[0]; ++k) {
      const std::array<uint32_t, 3>& e = rgb_[list[k]];
      const int32_t dr = static_cast<int32_t>(e[0]) - r;
      const int32_t dg = static_cast<int32_t>(e[1]) - g;
      const int32_t db = static_cast<int32_t>(e[2]) - b;
      const uint32_t d = static_cast<uint32_t>(dr * dr + dg * dg + db * db) << 8 | list[k];  // below 2^26
      best = k == 1 ? d : std::min(best, d);
    }
    return static_cast<uint8_t>(best & 0xFF);
  }

 private:
  uint32_t count_;
  std::array<std::array<uint32_t, 3>, kMaxPaletteEntries> rgb_{};
};

// The memo, and the candidate lists by 6-bit key with their lock.
struct MemoParts {
  uint8_t* memo;
  std::mutex& lock;
  uint32_t* listStart;  // 1 + the list's offset in lists, 0 while not listed
  std::vector<uint8_t>& lists;
  bool& used;
};

// A colour's first match, under the lock: another thread may have made it
// meanwhile, the same.
[[gnu::noinline]] uint8_t Match(uint32_t argb, const EntrySearch& search, MemoParts parts) {
  const std::lock_guard hold(parts.lock);
  std::atomic_ref<uint8_t> slot(parts.memo[argb & 0xFFFFFF]);
  if (const uint8_t index = slot.load(std::memory_order_relaxed); index != 0) return index;
  uint32_t& start = parts.listStart[QuantizerWorkArea::Key(argb)];
  if (start == 0) {
    start = static_cast<uint32_t>(parts.lists.size()) + 1;
    search.ListCandidates(QuantizerWorkArea::Key(argb), parts.lists);
  }
  const uint8_t index = search.Nearest(argb, &parts.lists[start - 1]);
  slot.store(index, std::memory_order_relaxed);
  parts.used = true;
  return index;
}

inline uint8_t Lookup(uint32_t argb, const EntrySearch& search, MemoParts parts) {
  if (AlphaOf(argb) < 128) return kTransparentIndex;
  const uint8_t index = std::atomic_ref<uint8_t>(parts.memo[argb & 0xFFFFFF]).load(std::memory_order_relaxed);
  return index != 0 ? index : Match(argb, search, parts);
}

}  // namespace

ExactColorMemo ExactColorMemo::Create() {
  ExactColorMemo memo;
  if (PixelBlock::Allocate(kColors, memo.memo_) != Status::Ok) return memo;
  memo.listStart_.reset(new (std::nothrow) uint32_t[QuantizerWorkArea::kSize]());
  memo.lock_.reset(new (std::nothrow) std::mutex);
  if (!memo.listStart_ || !memo.lock_) memo.memo_ = PixelBlock();
  return memo;
}

void ExactColorMemo::Reset() {
  if (!used_) return;
  used_ = false;
  std::memset(memo_.Data(), 0, kColors);
  std::memset(listStart_.get(), 0, QuantizerWorkArea::kSize * sizeof(uint32_t));
  lists_.clear();
}

uint8_t ExactColorMemo::Index(uint32_t argb, const ColorPalette& palette) {
  return Lookup(argb, EntrySearch(palette), {memo_.Data(), *lock_, listStart_.get(), lists_, used_});
}

void ExactColorMemo::QuantizeInto(ImageHandle& source, ImageHandle& destination,
                                  const ColorPalette& palette) {
  const EntrySearch search(palette);
  QuantizeRows(source, destination, IsValid(), [&](const uint8_t* in, uint8_t* out, int32_t width) {
    const MemoParts parts{memo_.Data(), *lock_, listStart_.get(), lists_, used_};
    uint32_t last = 0;  // runs of one colour skip the memo
    uint8_t lastIndex = kTransparentIndex;
    for (int32_t x = 0; x < width; ++x) {
      uint32_t argb;
      std::memcpy(&argb, in + 4 * static_cast<size_t>(x), sizeof argb);
      if (argb != last) {
        last = argb;
        lastIndex = Lookup(argb, search, parts);
      }
      out[x] = lastIndex;
    }
  });
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
