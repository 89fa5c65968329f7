// Decoding one PNG file held in memory, three ways: this program's decoder
// (the whole image data inflated at once by libdeflate, rows unfiltered as
// they come), libpng (zlib's streaming inflate, row by row) and libspng.
// Best of five runs each, on one thread.
//   png_decoders FILE.png
#include <png.h>
#include <spng.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <vector>

#include "raster/codecs/image_formats.h"

namespace {

double BestSeconds(const std::function<bool()>& decode) {
  double best = 1e9;
  for (int run = 0; run < 5; ++run) {
    const auto start = std::chrono::steady_clock::now();
    if (!decode()) return -1;
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

bool DecodeWithLibpng(const std::vector<uint8_t>& file) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&image, file.data(), file.size()) == 0) return false;
  image.format = PNG_FORMAT_BGR;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  const bool done = png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) != 0;
  png_image_free(&image);
  return done;
}

bool DecodeWithSpng(const std::vector<uint8_t>& file) {
  const std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> context(spng_ctx_new(0), spng_ctx_free);
  size_t size = 0;
  if (!context || spng_set_png_buffer(context.get(), file.data(), file.size()) != 0 ||
      spng_decoded_image_size(context.get(), SPNG_FMT_RGB8, &size) != 0) {
    return false;
  }
  std::vector<uint8_t> pixels(size);
  return spng_decode_image(context.get(), pixels.data(), size, SPNG_FMT_RGB8, 0) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: png_decoders FILE.png\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const struct {
    const char* name;
    std::function<bool()> decode;
  } decoders[] = {
      {"rzt2 (libdeflate, whole data)",
       [&] {
         std::unique_ptr<rzt2::Bitmap> bitmap;
         return rzt2::DecodeImage(file, {}, bitmap) == rzt2::Status::Ok;
       }},
      {"libpng (zlib, row by row)", [&] { return DecodeWithLibpng(file); }},
      {"libspng", [&] { return DecodeWithSpng(file); }},
  };
  for (const auto& decoder : decoders) {
    const double seconds = BestSeconds(decoder.decode);
    if (seconds < 0) {
      std::printf("%-32s failed\n", decoder.name);
      return 1;
    }
    std::printf("%-32s %7.3f s\n", decoder.name, seconds);
  }
  return 0;
}
