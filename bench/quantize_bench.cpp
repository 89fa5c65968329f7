// QuantizeInto on a large map-like picture with FixedPalette and a fresh
// memo, against a plain copy of the same pixel bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "imaging/fixed_palette.h"
#include "imaging/quantizer.h"
#include "support/test_support.h"

namespace {

constexpr int32_t kWidth = 8000;
constexpr int32_t kHeight = 6000;
constexpr double kPixels = kWidth * static_cast<double>(kHeight);

rzt2::ImageHandle& Source() {
  static rzt2::ImageHandle source(rzt2::test::MakeMapLikeBitmap(kWidth, kHeight, rzt2::PixelFormat::Argb32));
  return source;
}

// Pixels per second of CPU time: "px/s=900M/s" reads as 900 megapixels a second.
void ReportRate(benchmark::State& state) {
  state.counters["px/s"] =
      benchmark::Counter(kPixels * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_CopyPixels(benchmark::State& state) {
  const rzt2::Bitmap& bitmap = *Source().GetBitmap();
  const size_t bytes = bitmap.Stride() * static_cast<size_t>(kHeight);
  std::vector<uint8_t> copy(bytes);
  for (auto _ : state) {
    std::memcpy(copy.data(), bitmap.Row(0), bytes);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  ReportRate(state);
}

void BM_QuantizeInto(benchmark::State& state) {
  const rzt2::ColorPalette palette = rzt2::MakeFixedPalette();
  rzt2::ImageHandle destination =
      rzt2::ImageHandle::CreateBlank(kWidth, kHeight, rzt2::PixelFormat::Indexed8);
  for (auto _ : state) {
    rzt2::QuantizerWorkArea workArea = rzt2::QuantizerWorkArea::Create();
    rzt2::QuantizeInto(Source(), destination, palette, workArea);
    benchmark::ClobberMemory();
  }
  if (destination.LastStatus() != rzt2::Status::Ok) state.SkipWithError("QuantizeInto failed");
  ReportRate(state);
}

}  // namespace

BENCHMARK(BM_CopyPixels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuantizeInto)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
