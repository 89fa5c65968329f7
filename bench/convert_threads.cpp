// Whole map files written from a picture held in memory, with a given
// number of threads in all (the writer's and a pool of the rest): wall
// time, time per megapixel, the process's CPU time (which other work on the
// machine disturbs less) and the file's size. Decoding is left out.
//   convert_threads PICTURE|WIDTHxHEIGHT FORMAT THREADS...
// A size instead of a file draws a map-like picture of that size.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "imaging/fixed_palette.h"
#include "mapfile/map_writer.h"
#include "support/test_support.h"

namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace rzt2;
  const ImageFormat* format = argc > 2 ? FindFrameFormat(argv[2]) : nullptr;
  if (argc < 4 || format == nullptr) {
    std::fprintf(stderr, "usage: convert_threads PICTURE|WIDTHxHEIGHT gif|jpeg|png|bmp|tiff THREADS...\n");
    return 2;
  }
  int width = 0, height = 0;
  ImageHandle picture = std::sscanf(argv[1], "%dx%d", &width, &height) == 2
                            ? ImageHandle(test::MakeMapLikeBitmap(width, height, PixelFormat::Rgb24))
                            : ImageHandle::FromFile(argv[1]);
  if (picture.IsNull()) {
    std::fprintf(stderr, "cannot make or decode %s\n", argv[1]);
    return 1;
  }
  const double megapixels = double(picture.Width()) * picture.Height() / 1e6;
  const ColorPalette palette = PaletteForImage(picture);
  const EncoderParams params{.ZoomLevelsMask = 127, .EncoderCode = FrameCode(*format)};
  test::TempDir dir;
  for (int i = 3; i < argc; ++i) {
    const int threads = std::atoi(argv[i]);
    ThreadPool pool(threads - 1);
    auto writer = MapWriter::Create(params, &palette, nullptr, {}, &pool);
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = CpuSeconds();
    const Status status = writer ? writer->WriteMapFile(picture, dir / "bench.rzt2") : Status::OutOfMemory;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;
    if (status != Status::Ok) {
      std::fprintf(stderr, "conversion failed: %s\n", StatusText(status));
      return 1;
    }
    std::printf("%s %.1f Mpx, %.*s, %d thread(s): %.2f s, %.1f ms/Mpx, CPU %.2f s, %.1f ms/Mpx, %ju bytes\n",
                argv[1], megapixels, static_cast<int>(format->name.size()), format->name.data(), threads,
                seconds, 1000 * seconds / megapixels, cpu, 1000 * cpu / megapixels,
                static_cast<uintmax_t>(std::filesystem::file_size(dir / "bench.rzt2")));
    std::filesystem::remove(dir / "bench.rzt2");
  }
  return 0;
}
