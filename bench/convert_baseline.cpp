// The floor a conversion is measured against: decode the input picture and
// encode its full-size frames (drawn 1:1, quantized, encoded), nothing else.
//   convert_baseline PICTURE [gif|jpeg|png|bmp|tiff ...]
#include <chrono>
#include <cstdio>
#include <string>

#include "imaging/fixed_palette.h"
#include "imaging/quantizer.h"
#include "imaging/surface.h"
#include "mapfile/map_writer.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace rzt2;
  if (argc < 2) {
    std::fprintf(stderr, "usage: convert_baseline PICTURE [FORMAT...]\n");
    return 2;
  }
  const char* const names[] = {"gif", "jpeg", "png", "bmp", "tiff"};
  for (int code = 0; code < 5; ++code) {
    bool wanted = argc == 2;
    for (int i = 2; i < argc; ++i) wanted = wanted || std::string(argv[i]) == names[code];
    if (!wanted) continue;
    const auto start = std::chrono::steady_clock::now();
    ImageHandle picture = ImageHandle::FromFile(argv[1]);
    if (picture.IsNull()) {
      std::fprintf(stderr, "cannot decode %s\n", argv[1]);
      return 1;
    }
    const double decoded = Seconds(start);
    const ColorPalette palette = PaletteForImage(picture);
    auto writer = MapWriter::Create(EncoderParams{.EncoderCode = code}, &palette, nullptr);
    QuantizerWorkArea memo = QuantizerWorkArea::Create();
    ImageHandle frame = ImageHandle::CreateBlank(160, 160, PixelFormat::Argb32);
    ImageHandle indexed = ImageHandle::CreateBlank(160, 160, PixelFormat::Indexed8);
    indexed.SetPalette(palette);
    Surface surface(frame);
    FrameBuffer buffer(kFrameBufferSize);
    const auto width = static_cast<int32_t>(picture.Width()), height = static_cast<int32_t>(picture.Height());
    uint64_t bytes = 0;
    for (int32_t y = 0; y < height; y += 160) {
      for (int32_t x = 0; x < width; x += 160) {
        surface.Clear(0xFFFFFFFF);
        surface.DrawImage(picture, Rect{0, 0, 160, 160}, Rect{x, y, 160, 160});
        QuantizeInto(frame, indexed, palette, memo);
        uint32_t length = 0;
        writer->EncodeToBuffer(indexed, buffer, length);
        bytes += length;
      }
    }
    std::printf("%-5s decode %.2f s, decode + level-0 frames %.2f s (%llu bytes)\n", names[code], decoded,
                Seconds(start), static_cast<unsigned long long>(bytes));
  }
  return 0;
}
