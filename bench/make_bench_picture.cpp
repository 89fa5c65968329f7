// Writes the benchmarks' input: a map-like picture of the given size as PNG.
//   make_bench_picture OUT.png [WIDTH HEIGHT [SEED]]
#include <cstdio>
#include <cstdlib>

#include "raster/codecs/encoder_list.h"
#include "support/test_support.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_bench_picture OUT.png [WIDTH HEIGHT [SEED]]\n");
    return 2;
  }
  const int32_t width = argc > 3 ? std::atoi(argv[2]) : 8000;
  const int32_t height = argc > 3 ? std::atoi(argv[3]) : 6000;
  const uint32_t seed = argc > 4 ? static_cast<uint32_t>(std::atoi(argv[4])) : 1;
  const auto picture = rzt2::test::MakeMapLikeBitmap(width, height, rzt2::PixelFormat::Rgb24, seed);
  rzt2::ClassId png;
  rzt2::FindEncoder("image/png", png);
  if (!picture || rzt2::SaveImageToFile(*picture, argv[1], png) != rzt2::Status::Ok) {
    std::fprintf(stderr, "could not write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
