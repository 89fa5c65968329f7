#include "imaging/quantizer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <limits>
#include <new>

#include "imaging/fixed_palette.h"

namespace rzt2 {

namespace {

// The RGB parts of the searchable entries, unpacked once per call so that a
// search runs over three small arrays instead of packed palette entries.
class PaletteRgb {
 public:
  explicit PaletteRgb(const ColorPalette& palette) : count_(std::min(palette.Count(), kMaxPaletteEntries)) {
    for (uint32_t i = 0; i < count_; ++i) {
      red_[i] = static_cast<int32_t>(RedOf(palette.entries[i]));
      green_[i] = static_cast<int32_t>(GreenOf(palette.entries[i]));
      blue_[i] = static_cast<int32_t>(BlueOf(palette.entries[i]));
    }
  }

  // The nearest entry from 1 on over the full 8-bit channels, the lowest
  // index on ties; 0 when there is no such entry. Rare, so kept out of the
  // row loop.
  [[gnu::noinline]] uint8_t Search(uint32_t argb) const {
    const auto r = static_cast<int32_t>(RedOf(argb));
    const auto g = static_cast<int32_t>(GreenOf(argb));
    const auto b = static_cast<int32_t>(BlueOf(argb));
    int32_t best = std::numeric_limits<int32_t>::max();
    uint32_t bestIndex = 0;
    for (uint32_t i = 1; i < count_; ++i) {
      const int32_t dr = red_[i] - r;
      const int32_t dg = green_[i] - g;
      const int32_t db = blue_[i] - b;
      const int32_t d = dr * dr + dg * dg + db * db;
      if (d < best) {
        best = d;
        bestIndex = i;
        if (d == 0) break;
      }
    }
    return static_cast<uint8_t>(bestIndex);
  }

 private:
  uint32_t count_;
  std::array<int32_t, kMaxPaletteEntries> red_;
  std::array<int32_t, kMaxPaletteEntries> green_;
  std::array<int32_t, kMaxPaletteEntries> blue_;
};

// One Argb32 pixel as stored: a little-endian 0xAARRGGBB.
inline uint32_t LoadArgb(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The memo answers almost every pixel; a search runs once per key. A result
// of 0 (palettes of fewer than two entries) leaves the slot empty, which
// only repeats a search that finds nothing.
inline uint8_t Lookup(uint32_t argb, const PaletteRgb& rgb, uint8_t* memo) {
  if (AlphaOf(argb) < 128) return kTransparentIndex;
  uint8_t& slot = memo[QuantizerWorkArea::Key(argb)];
  if (slot == 0) slot = rgb.Search(argb);
  return slot;
}

// Work area entries as FrameQuantizer's steps share them: Commit writes
// while scans on other threads read.
inline uint8_t LoadEntry(const uint8_t* memo, uint32_t key) {
  return std::atomic_ref<uint8_t>(const_cast<uint8_t&>(memo[key])).load(std::memory_order_relaxed);
}

// A row is handled in runs: first the memo keys and translucency masks of
// the whole run, a loop the compiler vectorizes, then the entries in pixel
// order (entry(key)), leaving the loop only on a miss (miss(pixel, key)
// gives the index). Translucent pixels read an entry they ignore.
template <typename Entry, typename Miss>
inline void MapRow(const uint8_t* in, uint8_t* out, int32_t width, Entry&& entry, Miss&& miss) {
  constexpr int32_t kRunLength = 256;
  std::array<uint32_t, kRunLength> keys;
  std::array<uint8_t, kRunLength> translucent;  // 0xFF for alpha below 128, else 0
  for (int32_t start = 0; start < width; start += kRunLength) {
    const auto count = static_cast<size_t>(std::min(kRunLength, width - start));
    const uint8_t* runIn = in + 4 * static_cast<size_t>(start);
    uint8_t* runOut = out + start;
    for (size_t i = 0; i < count; ++i) {
      const uint32_t argb = LoadArgb(runIn + 4 * i);
      keys[i] = QuantizerWorkArea::Key(argb);
      translucent[i] = static_cast<uint8_t>((argb >> 31) - 1);
    }
    for (size_t i = 0; i < count; ++i) {
      auto index = static_cast<uint8_t>(entry(keys[i]) | translucent[i]);
      if (index == 0) [[unlikely]] {
        index = miss(runIn + 4 * i, keys[i]);
      }
      runOut[i] = index;
    }
  }
}

// Kept out of line: inlined into QuantizeInto, the loops ran markedly slower.
[[gnu::noinline]] void QuantizeRow(const uint8_t* in, uint8_t* out, int32_t width, const PaletteRgb& rgb,
                                   uint8_t* memo) {
  MapRow(
      in, out, width, [memo](uint32_t key) { return memo[key]; },
      [&](const uint8_t* pixel, uint32_t) { return Lookup(LoadArgb(pixel), rgb, memo); });
}

// QuantizeRow without writing the memo: a pixel whose key has no entry
// gets 0, and its key is listed once with the pixel.
[[gnu::noinline]] void ScanRow(const uint8_t* in, uint8_t* out, int32_t width, const uint8_t* memo,
                               std::vector<uint64_t>& seen, std::vector<uint32_t>& firstPixels) {
  MapRow(
      in, out, width, [memo](uint32_t key) { return LoadEntry(memo, key); },
      [&](const uint8_t* pixel, uint32_t key) {
        uint64_t& word = seen[key / 64];
        const uint64_t bit = uint64_t{1} << (key % 64);
        if ((word & bit) == 0) {
          word |= bit;
          firstPixels.push_back(LoadArgb(pixel));
        }
        return uint8_t{0};
      });
}

bool FitsFrame(const Bitmap& source, const Bitmap& destination) {
  return source.Format() == PixelFormat::Argb32 && destination.Format() == PixelFormat::Indexed8 &&
         source.Width() == destination.Width() && source.Height() == destination.Height();
}

}  // namespace

Status FrameQuantizer::Scan(const Bitmap& source, Bitmap& destination, const ColorPalette& palette,
                            const QuantizerWorkArea& workArea) {
  firstPixels_.clear();
  indexes_.clear();
  if (!workArea || !FitsFrame(source, destination)) return Status::InvalidParameter;
  return GuardMemory([&] {
    seen_.resize(QuantizerWorkArea::kSize / 64);
    for (int32_t y = 0; y < source.Height(); ++y) {
      ScanRow(source.Row(y), destination.MutableRow(y), source.Width(), workArea.Data(), seen_, firstPixels_);
    }
    const PaletteRgb rgb(palette);
    indexes_.reserve(firstPixels_.size());
    for (const uint32_t argb : firstPixels_) {
      indexes_.push_back(rgb.Search(argb));
      const uint32_t key = QuantizerWorkArea::Key(argb);
      seen_[key / 64] &= ~(uint64_t{1} << (key % 64));
    }
    return Status::Ok;
  });
}

void FrameQuantizer::Commit(QuantizerWorkArea& workArea) const {
  if (!workArea) return;
  for (size_t i = 0; i < indexes_.size(); ++i) {
    std::atomic_ref<uint8_t> entry(workArea.Data()[QuantizerWorkArea::Key(firstPixels_[i])]);
    // An entry an earlier frame decided stays; 0 (no entry to choose) is never stored.
    if (entry.load(std::memory_order_relaxed) == 0) entry.store(indexes_[i], std::memory_order_relaxed);
  }
}

void FrameQuantizer::Finish(const Bitmap& source, Bitmap& destination, const ColorPalette& palette,
                            const QuantizerWorkArea& workArea) const {
  if (firstPixels_.empty() || !workArea || !FitsFrame(source, destination)) return;
  const PaletteRgb rgb(palette);
  for (int32_t y = 0; y < source.Height(); ++y) {
    const uint8_t* in = source.Row(y);
    uint8_t* out = destination.MutableRow(y);
    for (int32_t x = 0; x < source.Width(); ++x) {
      if (out[x] != 0) continue;
      const uint32_t argb = LoadArgb(in + 4 * static_cast<size_t>(x));
      const uint8_t index = LoadEntry(workArea.Data(), QuantizerWorkArea::Key(argb));
      out[x] = index != 0 ? index : rgb.Search(argb);
    }
  }
}

QuantizerWorkArea QuantizerWorkArea::Create() {
  QuantizerWorkArea area;
  area.memo_.reset(new (std::nothrow) uint8_t[kSize]());
  return area;
}

uint8_t NearestIndex(uint32_t argb, const ColorPalette& palette, QuantizerWorkArea& workArea) {
  uint8_t* memo = workArea.Data();
  if (memo == nullptr) {
    return AlphaOf(argb) < 128 ? kTransparentIndex : PaletteRgb(palette).Search(argb);
  }
  return Lookup(argb, PaletteRgb(palette), memo);
}

void QuantizeRows(
    ImageHandle& source, ImageHandle& destination, bool memoValid,
    const std::function<void(const uint8_t* argb, uint8_t* indexes, int32_t width)>& quantizeRow) {
  const uint32_t width = source.Width();
  const uint32_t height = source.Height();
  if (width == 0 || height == 0) return;  // the failed query is the source's status
  if (!memoValid) {
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
  const uint8_t* in = sourceLock.Scan0();
  uint8_t* out = destinationLock.Scan0();
  for (int32_t y = 0; y < rect.height; ++y) {
    quantizeRow(in, out, rect.width);
    in += sourceLock.Stride();
    out += destinationLock.Stride();
  }
  sourceLock.Unlock();
  destinationLock.Unlock();
}

void QuantizeInto(ImageHandle& source, ImageHandle& destination, const ColorPalette& palette,
                  QuantizerWorkArea& workArea) {
  const PaletteRgb rgb(palette);
  uint8_t* memo = workArea.Data();
  QuantizeRows(source, destination, memo != nullptr, [&](const uint8_t* in, uint8_t* out, int32_t width) {
    QuantizeRow(in, out, width, rgb, memo);
  });
}

ImageHandle QuantizedCopy(ImageHandle& source, const ColorPalette& palette, QuantizerWorkArea& workArea) {
  const uint32_t width = source.Width();
  const uint32_t height = source.Height();
  // A failed size query gives 0, which the creation refuses.
  ImageHandle copy = ImageHandle::CreateBlank(static_cast<int32_t>(width), static_cast<int32_t>(height),
                                              PixelFormat::Indexed8);
  if (!copy) return copy;
  copy.SetPalette(palette);
  QuantizeInto(source, copy, palette, workArea);
  return copy;
}

ImageHandle QuantizeImage(ImageHandle& source) {
  const ColorPalette palette = PaletteForImage(source);
  QuantizerWorkArea workArea = QuantizerWorkArea::Create();
  if (palette.Count() == 0 || !workArea) return ImageHandle::Failed(Status::OutOfMemory);
  return QuantizedCopy(source, palette, workArea);
}

}  // namespace rzt2
