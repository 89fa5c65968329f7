// Frames per second of each frame codec on 160 x 160 indexed frames, and the
// time to draw every frame of each zoom level of an 8000 x 6000 picture.
//   build/release/bench/raster_bench --benchmark_filter=...
#include <benchmark/benchmark.h>

#include <vector>

#include "imaging/surface.h"
#include "raster/codecs/image_formats.h"
#include "support/test_support.h"

namespace rzt2 {
namespace {

constexpr int32_t kFrame = 160;

std::vector<std::unique_ptr<Bitmap>> MakeFrames() {
  // Frames cut from a map-like picture, as a level would give them.
  std::vector<std::unique_ptr<Bitmap>> frames;
  for (uint32_t seed = 1; seed <= 16; ++seed) frames.push_back(test::MakeIndexedBitmap(kFrame, kFrame, seed));
  return frames;
}

const ImageFormat& Encoder(int64_t code) { return *FrameFormat(static_cast<int32_t>(code)); }

void BM_EncodeFrame(benchmark::State& state) {
  const auto frames = MakeFrames();
  const ImageFormat& encoder = Encoder(state.range(0));
  ScratchStream stream;
  size_t i = 0, bytes = 0;
  for (auto _ : state) {
    stream.Reset();
    if (encoder.encode(*frames[i++ % frames.size()], stream) != Status::Ok)
      state.SkipWithError("encode failed");
    bytes += stream.Size();
  }
  state.SetLabel(std::string(encoder.name));
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["bytes/frame"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
}

void BM_DecodeFrame(benchmark::State& state) {
  const auto frames = MakeFrames();
  const ImageFormat& encoder = Encoder(state.range(0));
  std::vector<std::vector<uint8_t>> files;
  for (const auto& frame : frames) {
    ScratchStream stream;
    encoder.encode(*frame, stream);
    files.emplace_back(stream.Data().begin(), stream.Data().end());
  }
  size_t i = 0;
  for (auto _ : state) {
    std::unique_ptr<Bitmap> out;
    if (DecodeImage(files[i++ % files.size()], {}, out) != Status::Ok) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out);
  }
  state.SetLabel(std::string(encoder.name));
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// All frames of one zoom level, drawn as a map level draws them: each
// frame cleared to white where it reaches the edge, then the source
// rectangle scaled into it. Every iteration pays for the picture's
// reductions again.
void DrawLevel(benchmark::State& state, ImageHandle& picture) {
  const auto factor = static_cast<int32_t>(state.range(0));
  const int32_t source = kFrame * factor;
  const int32_t width = picture.GetBitmap()->Width(), height = picture.GetBitmap()->Height();
  const int32_t columns = (width - 1) / source + 1, rows = (height - 1) / source + 1;
  ImageHandle frame = ImageHandle::CreateBlank(kFrame, kFrame, PixelFormat::Argb32);
  Surface surface(frame);
  for (auto _ : state) {
    picture.GetBitmap()->MutableRow(0);  // drops the cached reductions
    for (int32_t row = 0; row < rows; ++row) {
      for (int32_t column = 0; column < columns; ++column) {
        if ((row == 0 && column == 0) || row == rows - 1 || column == columns - 1) surface.Clear(0xFFFFFFFF);
        surface.DrawImage(picture, Rect{0, 0, kFrame, kFrame},
                          Rect{column * source, row * source, source, source});
      }
    }
  }
  state.SetLabel("scale 1/" + std::to_string(factor) + ", " + std::to_string(columns * rows) + " frames");
}

void BM_DrawLevel8000x6000(benchmark::State& state) {
  static ImageHandle picture(test::MakeMapLikeBitmap(8000, 6000, PixelFormat::Rgb24));
  DrawLevel(state, picture);
}

// The largest factor must not cost more than the full-size level.
void BM_DrawLevel16000x16000(benchmark::State& state) {
  static ImageHandle picture(test::MakeMapLikeBitmap(16000, 16000, PixelFormat::Rgb24));
  DrawLevel(state, picture);
}

BENCHMARK(BM_EncodeFrame)->DenseRange(0, kFrameFormatCount - 1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeFrame)->DenseRange(0, kFrameFormatCount - 1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DrawLevel8000x6000)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(10)
    ->Arg(20)
    ->Arg(50)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_DrawLevel16000x16000)->Arg(1)->Arg(100)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
}  // namespace rzt2

BENCHMARK_MAIN();
