// Writes the benchmarks' input: a map-like picture of the given size as PNG,
// or as JPEG (quality 90) row by row, so that pictures larger than memory
// can be made; or into a folder the hostile files a conversion must refuse
// at once.
//   make_bench_picture OUT.png|OUT.jpg [WIDTH HEIGHT [SEED]]
//   make_bench_picture --bombs FOLDER   thin.png (12 KB, 100,000,000 x 1),
//                                       huge.jpg (629 bytes claiming 50000 x 50000)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "hostile/hostile_files.h"
#include "raster/codecs/image_formats.h"
#include "support/test_support.h"

namespace {

bool WriteJpeg(const char* path, int32_t width, int32_t height, uint32_t seed) {
  const std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "wb"), std::fclose);
  if (!file) return false;
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);  // exits on error: a tool, not a library
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file.get());
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  const rzt2::test::MapLikePattern pattern(width, height, seed);
  std::vector<uint8_t> row(3 * static_cast<size_t>(width));
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      bool road = false;
      const uint32_t argb = pattern.Argb(x, y, road);
      uint8_t* rgb = &row[3 * static_cast<size_t>(x)];
      rgb[0] = static_cast<uint8_t>(argb >> 16);
      rgb[1] = static_cast<uint8_t>(argb >> 8);
      rgb[2] = static_cast<uint8_t>(argb);
    }
    JSAMPROW rows[] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return std::ferror(file.get()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: make_bench_picture OUT.png|OUT.jpg [WIDTH HEIGHT [SEED]] | --bombs FOLDER\n");
    return 2;
  }
  if (std::strcmp(argv[1], "--bombs") == 0 && argc == 3) {
    const std::filesystem::path folder = argv[2];
    rzt2::test::WriteFileBytes(folder / "thin.png", rzt2::test::ZeroPng(100'000'000, 1, 1, 0));
    rzt2::test::WriteFileBytes(folder / "huge.jpg", rzt2::test::JpegClaiming(50000, 50000, false));
    return 0;
  }
  const int32_t width = argc > 3 ? std::atoi(argv[2]) : 8000;
  const int32_t height = argc > 3 ? std::atoi(argv[3]) : 6000;
  const uint32_t seed = argc > 4 ? static_cast<uint32_t>(std::atoi(argv[4])) : 1;
  if (std::filesystem::path(argv[1]).extension() == ".jpg") {
    if (width > 0 && height > 0 && WriteJpeg(argv[1], width, height, seed)) return 0;
    std::fprintf(stderr, "could not write %s\n", argv[1]);
    return 1;
  }
  const auto picture = rzt2::test::MakeMapLikeBitmap(width, height, rzt2::PixelFormat::Rgb24, seed);
  if (!picture || rzt2::SaveImageToFile(*picture, argv[1], *rzt2::FindFrameFormat("png"),
                                        rzt2::EarlierFile::Replace) != rzt2::Status::Ok) {
    std::fprintf(stderr, "could not write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
