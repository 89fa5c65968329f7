#include "imaging/adaptive_palette.h"

#include <libimagequant.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <numeric>
#include <vector>

#include "base/task_group.h"
#include "imaging/fixed_palette.h"
#include "imaging/liq_arena.h"
#include "raster/pyramid.h"

namespace rzt2 {

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kOpaque = 0xFF000000;
constexpr size_t kFittedEntries = 254;  // entries 1 to 254
// libimagequant's share of a large picture: enough rows that rare colours
// still count, few enough that fitting stays a small part of a conversion.
constexpr uint64_t kSamplePixels = uint64_t{1} << 17;

// The colour a frame shows for the pixel: composed on white, as the writer
// composes (premultiplied, then the rest of white added), 0x00RRGGBB.
uint32_t OnWhite(uint32_t argb) {
  const uint32_t a = AlphaOf(argb);
  if (a == 255) return argb & kWhite;
  const uint32_t p = Premultiply(argb);
  const uint32_t rest = 255 - a;
  return (RedOf(p) + rest) << 16 | (GreenOf(p) + rest) << 8 | (BlueOf(p) + rest);
}

// The distinct colours other than white, as long as there are at most
// kFittedEntries of them: a small open-addressing set.
class FewColors {
 public:
  // False once there are too many colours to keep.
  bool Add(uint32_t rgb) {
    if (full_ || rgb == kWhite) return !full_;
    size_t slot = (rgb * 2654435761u) >> 22;  // 10 bits: a quarter full at most
    while (slots_[slot] != 0 && slots_[slot] != (rgb | kOpaque)) slot = (slot + 1) % slots_.size();
    if (slots_[slot] == 0) {
      if (count_ == kFittedEntries) {
        full_ = true;
        return false;
      }
      slots_[slot] = rgb | kOpaque;
      ++count_;
    }
    return true;
  }
  bool Full() const { return full_; }
  void AddAll(const FewColors& other) {
    for (uint32_t color : other.slots_) {
      if (color != 0 && !Add(color & kWhite)) return;
    }
    if (other.full_) full_ = true;
  }
  // Opaque, in ascending order.
  std::vector<uint32_t> Colors() const {
    std::vector<uint32_t> colors;
    std::copy_if(slots_.begin(), slots_.end(), std::back_inserter(colors), [](uint32_t c) { return c != 0; });
    std::sort(colors.begin(), colors.end());
    return colors;
  }

 private:
  std::array<uint32_t, 1024> slots_{};  // 0: empty, else the colour made opaque
  size_t count_ = 0;
  bool full_ = false;
};

// What one pass over the picture gathers: its few colours, or that it has
// more, and every step-th row composed on white as RGBA bytes for
// libimagequant.
struct Survey {
  int32_t width = 0;
  int32_t step = 1;
  std::vector<uint8_t> sample;
  std::vector<FewColors> bands;
  std::atomic<bool> tooManyColors{false};

  // Rows [top, bottom) into band.
  void Scan(const Bitmap& picture, int32_t top, int32_t bottom, FewColors& band) {
    std::vector<uint32_t> row(static_cast<size_t>(width));
    for (int32_t y = top; y < bottom; ++y) {
      // Once the colours are too many to keep, only the sampled rows count.
      if (y % step != 0 && tooManyColors.load(std::memory_order_relaxed)) continue;
      picture.ReadArgb(0, y, width, row.data());
      for (uint32_t& argb : row) argb = OnWhite(argb);
      if (!tooManyColors.load(std::memory_order_relaxed)) {
        uint32_t last = kWhite;
        for (const uint32_t rgb : row) {
          if (rgb != last && !band.Add(rgb)) {
            tooManyColors = true;
            break;
          }
          last = rgb;
        }
      }
      if (y % step != 0) continue;
      uint8_t* out = &sample[static_cast<size_t>(y / step) * 4 * row.size()];
      for (const uint32_t rgb : row) {
        *out++ = static_cast<uint8_t>(rgb >> 16);
        *out++ = static_cast<uint8_t>(rgb >> 8);
        *out++ = static_cast<uint8_t>(rgb);
        *out++ = 255;
      }
    }
  }
};

// The survey's bands, scanned on the pool's threads and the caller's.
Status SurveyBands(const Bitmap& picture, ThreadPool* pool, Survey& survey) {
  const int32_t height = picture.Height();
  const int32_t bandCount = std::min(height, pool != nullptr ? pool->Threads() + 1 : 1);
  survey.bands.resize(static_cast<size_t>(bandCount));
  const auto bandTop = [height, bandCount](int32_t band) {
    return static_cast<int32_t>(int64_t{height} * band / bandCount);
  };
  TaskGroup bands(pool, "palette survey");
  for (int32_t band = 0; band < bandCount; ++band) {
    bands.Run([&picture, &survey, band, top = bandTop(band), bottom = bandTop(band + 1)] {
      survey.Scan(picture, top, bottom, survey.bands[static_cast<size_t>(band)]);
      return Status::Ok;
    });
  }
  return bands.Wait();
}

struct LiqDelete {
  void operator()(liq_attr* attr) const { liq_attr_destroy(attr); }
  void operator()(liq_image* image) const { liq_image_destroy(image); }
  void operator()(liq_result* result) const { liq_result_destroy(result); }
};
using LiqAttr = std::unique_ptr<liq_attr, LiqDelete>;
using LiqImage = std::unique_ptr<liq_image, LiqDelete>;
using LiqResult = std::unique_ptr<liq_result, LiqDelete>;

// Up to kFittedEntries colours besides white, fitted by libimagequant to
// the sampled rows with white as a colour of its own.
Status Quantize(Survey& survey, std::vector<uint32_t>& colors) {
  const auto rowBytes = 4 * static_cast<size_t>(survey.width);
  const size_t rowCount = survey.sample.size() / rowBytes;
  std::vector<void*> rows(rowCount);
  for (size_t i = 0; i < rowCount; ++i) rows[i] = &survey.sample[i * rowBytes];
  LiqArena arena;  // before the handles: they go first
  if (const Status status = LiqArena::Reserve(rowCount * static_cast<size_t>(survey.width), arena);
      status != Status::Ok) {
    return status;
  }
  const LiqAttr attr(liq_attr_create_with_allocator(LiqArena::Allocate, LiqArena::Free));
  if (!attr || liq_set_max_colors(attr.get(), kFittedEntries + 1) != LIQ_OK) return Status::OutOfMemory;
  const LiqImage image(
      liq_image_create_rgba_rows(attr.get(), rows.data(), survey.width, static_cast<int>(rowCount), 0));
  if (!image || liq_image_add_fixed_color(image.get(), liq_color{255, 255, 255, 255}) != LIQ_OK) {
    return Status::OutOfMemory;
  }
  // libimagequant sums its colours per OpenMP thread: one thread makes the
  // palette the same on every machine.
  omp_set_num_threads(1);
  liq_result* raw = nullptr;
  const liq_error error = liq_image_quantize(image.get(), attr.get(), &raw);
  const LiqResult result(raw);
  if (error != LIQ_OK || !result)
    return error == LIQ_OUT_OF_MEMORY ? Status::OutOfMemory : Status::GenericError;
  const liq_palette* palette = liq_get_palette(result.get());
  for (unsigned i = 0; i < palette->count; ++i) {
    const liq_color c = palette->entries[i];
    const uint32_t rgb = uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b;
    if (rgb != kWhite && colors.size() < kFittedEntries) colors.push_back(kOpaque | rgb);
  }
  return Status::Ok;
}

Status Fit(const Bitmap& picture, ThreadPool* pool, ColorPalette& out) {
  Survey survey;
  survey.width = picture.Width();
  const uint64_t pixels =
      uint64_t{static_cast<uint32_t>(picture.Width())} * static_cast<uint32_t>(picture.Height());
  survey.step = static_cast<int32_t>((pixels + kSamplePixels - 1) / kSamplePixels);
  survey.step = std::max(survey.step, 1);
  const auto sampleRows = static_cast<size_t>((picture.Height() + survey.step - 1) / survey.step);
  survey.sample.resize(sampleRows * 4 * static_cast<size_t>(picture.Width()));
  if (const Status status = SurveyBands(picture, pool, survey); status != Status::Ok) return status;

  FewColors all;
  for (const FewColors& band : survey.bands) all.AddAll(band);
  std::vector<uint32_t> colors;
  if (!all.Full()) {
    colors = all.Colors();
  } else if (const Status status = Quantize(survey, colors); status != Status::Ok) {
    return status;
  }
  out.flags = 0;
  out.entries.assign(256, colors.empty() ? kOpaque | kWhite : colors.front());
  out.entries[0] = kOpaque;
  std::copy(colors.begin(), colors.end(), out.entries.begin() + 1);
  out.entries[255] = kOpaque | kWhite;
  return Status::Ok;
}

}  // namespace

Status FitPalette(const Bitmap& picture, ThreadPool* pool, ColorPalette& out) {
  out = {};
  if (picture.Width() <= 0 || picture.Height() <= 0) return Status::InvalidParameter;
  const Status status = GuardMemory([&] { return Fit(picture, pool, out); });
  if (status != Status::Ok) out = {};
  return status;
}

bool KeepsItsOwnPalette(const Bitmap& picture) { return picture.Palette().Count() == 256; }

std::array<uint8_t, 256> LightnessOrder(const ColorPalette& palette) {
  std::array<uint8_t, 256> byLightness{};
  std::iota(byLightness.begin(), byLightness.end(), 0);
  const auto lightness = [&](uint8_t index) {
    return LightnessOf(index < palette.entries.size() ? palette.entries[index] : 0);
  };
  std::stable_sort(byLightness.begin() + 1, byLightness.end() - 1,
                   [&](uint8_t a, uint8_t b) { return lightness(a) < lightness(b); });
  std::array<uint8_t, 256> order{};
  for (size_t position = 0; position < order.size(); ++position) {
    order[byLightness[position]] = static_cast<uint8_t>(position);
  }
  return order;
}

bool TakesFittedPalette(const Bitmap& picture, bool adaptive) {
  return adaptive && !KeepsItsOwnPalette(picture);
}

Status PaletteForMap(ImageHandle& image, bool adaptive, ThreadPool* pool, ColorPalette& out) {
  const Bitmap* picture = image.GetBitmap();
  if (picture != nullptr && TakesFittedPalette(*picture, adaptive)) {
    return FitPalette(*picture, pool, out);
  }
  out = PaletteForImage(image);
  return out.Count() == 0 ? Status::OutOfMemory : Status::Ok;
}

}  // namespace rzt2
