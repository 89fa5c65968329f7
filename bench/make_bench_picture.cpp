// Writes the benchmarks' input: a map-like picture of the given size as PNG,
// or into a folder the hostile files a conversion must refuse at once.
//   make_bench_picture OUT.png [WIDTH HEIGHT [SEED]]
//   make_bench_picture --bombs FOLDER   thin.png (12 KB, 100,000,000 x 1),
//                                       cut.jpg (629 bytes claiming 32000 x 32000)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "hostile/hostile_files.h"
#include "raster/codecs/image_formats.h"
#include "support/test_support.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_bench_picture OUT.png [WIDTH HEIGHT [SEED]] | --bombs FOLDER\n");
    return 2;
  }
  if (std::strcmp(argv[1], "--bombs") == 0 && argc == 3) {
    const std::filesystem::path folder = argv[2];
    rzt2::test::WriteFileBytes(folder / "thin.png", rzt2::test::ZeroPng(100'000'000, 1, 1, 0));
    rzt2::test::WriteFileBytes(folder / "cut.jpg", rzt2::test::JpegClaiming(32000, 32000, false));
    return 0;
  }
  const int32_t width = argc > 3 ? std::atoi(argv[2]) : 8000;
  const int32_t height = argc > 3 ? std::atoi(argv[3]) : 6000;
  const uint32_t seed = argc > 4 ? static_cast<uint32_t>(std::atoi(argv[4])) : 1;
  const auto picture = rzt2::test::MakeMapLikeBitmap(width, height, rzt2::PixelFormat::Rgb24, seed);
  if (!picture ||
      rzt2::SaveImageToFile(*picture, argv[1], *rzt2::FindFrameFormat("png")) != rzt2::Status::Ok) {
    std::fprintf(stderr, "could not write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
