// Palette pictures compress best unfiltered unless neighbouring indexes
// have neighbouring colours, as a palette ordered by lightness gives on
// smooth maps (rain, heights); then the filter that leaves the smallest
// differences usually wins by far. Fast filters only pictures whose palette
// is so ordered, and trusts that measure only where it is clearly below the
// unfiltered rows' own, which costs a few passes over the rows; Small
// deflates each filter at a quick level and keeps the shortest.
#include "raster/codecs/png_rows.h"

#include <libdeflate.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace rzt2 {
namespace {

enum Filter : uint8_t { kNone, kSub, kUp, kAverage, kPaeth };
constexpr std::array<Filter, 5> kFilters{kNone, kSub, kUp, kAverage, kPaeth};

// On map frames, libdeflate's level 6 is much faster than zlib's default
// but looser; level 7 is the first at least as tight, in a little more
// time. 12 is its tightest. Filters are ranked at a quick level.
constexpr int kFastLevel = 7;
constexpr int kSmallLevel = 12;
constexpr int kRankLevel = 4;

struct CompressorDeleter {
  void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorDeleter>;

// One per thread and level, made on first use: frames are encoded on
// several threads at once, and making one costs more than compressing a frame.
libdeflate_compressor* ThreadCompressor(int level) {
  thread_local std::array<Compressor, kSmallLevel + 1> compressors;
  Compressor& compressor = compressors[static_cast<size_t>(level)];
  if (!compressor) compressor.reset(libdeflate_alloc_compressor(level));
  return compressor.get();
}

uint8_t Paeth(int left, int above, int aboveLeft) {
  const int estimate = left + above - aboveLeft;
  const int toLeft = std::abs(estimate - left);
  const int toAbove = std::abs(estimate - above);
  const int toAboveLeft = std::abs(estimate - aboveLeft);
  if (toLeft <= toAbove && toLeft <= toAboveLeft) return static_cast<uint8_t>(left);
  return static_cast<uint8_t>(toAbove <= toAboveLeft ? above : aboveLeft);
}

// One row filtered; a loop for each filter, so that each vectorizes.
void FilterRow(Filter filter, const uint8_t* row, const uint8_t* above, size_t width, uint8_t* out) {
  if (width == 0) return;
  switch (filter) {
    case kNone:
      std::memcpy(out, row, width);
      return;
    case kSub:
      out[0] = row[0];
      for (size_t x = 1; x < width; ++x) out[x] = static_cast<uint8_t>(row[x] - row[x - 1]);
      return;
    case kUp:
      for (size_t x = 0; x < width; ++x) out[x] = static_cast<uint8_t>(row[x] - above[x]);
      return;
    case kAverage:
      out[0] = static_cast<uint8_t>(row[0] - above[0] / 2);
      for (size_t x = 1; x < width; ++x) out[x] = static_cast<uint8_t>(row[x] - (row[x - 1] + above[x]) / 2);
      return;
    case kPaeth:
      out[0] = static_cast<uint8_t>(row[0] - above[0]);  // Paeth(0, above, 0) is above
      for (size_t x = 1; x < width; ++x) {
        out[x] = static_cast<uint8_t>(row[x] - Paeth(row[x - 1], above[x], above[x - 1]));
      }
      return;
  }
}

// The rows, each behind its filter byte, filtered with one filter.
void FilterRows(const Bitmap& bitmap, Filter filter, std::vector<uint8_t>& rows) {
  const auto width = static_cast<size_t>(bitmap.Width());
  rows.resize((width + 1) * static_cast<size_t>(bitmap.Height()));
  const std::vector<uint8_t> zeros(width, 0);
  for (int32_t y = 0; y < bitmap.Height(); ++y) {
    uint8_t* out = rows.data() + static_cast<size_t>(y) * (width + 1);
    out[0] = filter;
    FilterRow(filter, bitmap.Row(y), y > 0 ? bitmap.Row(y - 1) : zeros.data(), width, out + 1);
  }
}

// The sum of the filtered bytes taken as signed differences.
uint64_t DifferenceSum(const std::vector<uint8_t>& rows) {
  uint64_t sum = 0;
  for (const uint8_t byte : rows) sum += static_cast<uint32_t>(std::abs(static_cast<int8_t>(byte)));
  return sum;
}

Status Deflate(const std::vector<uint8_t>& rows, int level, std::vector<uint8_t>& zlib) {
  libdeflate_compressor* compressor = ThreadCompressor(level);
  if (compressor == nullptr) return Status::OutOfMemory;
  zlib.resize(libdeflate_zlib_compress_bound(compressor, rows.size()));
  const size_t size =
      libdeflate_zlib_compress(compressor, rows.data(), rows.size(), zlib.data(), zlib.size());
  if (size == 0) return Status::GenericError;  // the bound is always enough
  zlib.resize(size);
  return Status::Ok;
}

// Whether entries 1 to 254 grow lighter (LightnessOf) with their index.
bool OrderedByLightness(const ColorPalette& palette) {
  const std::vector<uint32_t>& entries = palette.entries;
  if (entries.size() != 256) return false;
  for (size_t i = 2; i < 255; ++i) {
    if (LightnessOf(entries[i - 1]) > LightnessOf(entries[i])) return false;
  }
  return true;
}

// The filter whose differences are smallest, when they are under half the
// unfiltered rows' (indexes far apart make large "differences" of their
// own, which deflate does not mind); else none.
Filter GuessFilter(const Bitmap& bitmap, std::vector<uint8_t>& rows) {
  if (!OrderedByLightness(bitmap.Palette())) return kNone;
  FilterRows(bitmap, kNone, rows);
  const uint64_t unfiltered = DifferenceSum(rows);
  Filter best = kNone;
  uint64_t bestSum = unfiltered / 2;
  for (const Filter filter : {kSub, kUp, kPaeth}) {
    FilterRows(bitmap, filter, rows);
    if (const uint64_t sum = DifferenceSum(rows); sum < bestSum) {
      best = filter;
      bestSum = sum;
    }
  }
  return best;
}

// The filter whose rows deflate shortest at a quick level.
Status RankFilters(const Bitmap& bitmap, std::vector<uint8_t>& rows, Filter& best) {
  std::vector<uint8_t> trial;
  size_t shortest = SIZE_MAX;
  for (const Filter filter : kFilters) {
    FilterRows(bitmap, filter, rows);
    if (const Status status = Deflate(rows, kRankLevel, trial); status != Status::Ok) return status;
    if (trial.size() < shortest) {
      shortest = trial.size();
      best = filter;
    }
  }
  return Status::Ok;
}

}  // namespace

Status DeflatePaletteRows(const Bitmap& bitmap, PngEffort effort, std::vector<uint8_t>& zlib) {
  std::vector<uint8_t> rows;
  Filter filter = kNone;
  if (effort == PngEffort::Small) {
    if (const Status status = RankFilters(bitmap, rows, filter); status != Status::Ok) return status;
  } else {
    filter = GuessFilter(bitmap, rows);
  }
  FilterRows(bitmap, filter, rows);
  return Deflate(rows, effort == PngEffort::Small ? kSmallLevel : kFastLevel, zlib);
}

}  // namespace rzt2
