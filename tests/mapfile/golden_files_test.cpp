// Map files must keep their bytes through refactoring and parallel work:
// a fixed set of pictures, in every frame format, gives files whose
// fingerprints (the random block, bytes 64 to 103, left out) were taken
// from the one-thread writer. A change here means the written files changed.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "imaging/adaptive_palette.h"
#include "mapfile/map_test_helpers.h"

namespace rzt2::test {
namespace {

// FNV-1a over the file with the random block zeroed.
uint64_t Fingerprint(std::vector<uint8_t> bytes) {
  for (size_t i = 64; i < 104 && i < bytes.size(); ++i) bytes[i] = 0;
  uint64_t hash = 0xcbf29ce484222325u;
  for (const uint8_t byte : bytes) hash = (hash ^ byte) * 0x100000001b3u;
  return hash;
}

struct GoldenCase {
  const char* picture;
  int32_t frameW, frameH, zoomMask;
  uint64_t fingerprints[5];  // by frame format: gif, jpeg, png, bmp, tiff
};

ImageHandle MakePicture(const std::string& name) {
  if (name == "map 1000x700") return MapLikePicture(1000, 700, 3);
  if (name == "indexed 333x517") return ImageHandle(MakeIndexedBitmap(333, 517, 5));
  if (name == "translucent 517x333") {
    // Clear to opaque across the picture, so that frames blend into white.
    auto bitmap = MakeMapLikeBitmap(517, 333, PixelFormat::Argb32, 9);
    for (int32_t y = 0; y < bitmap->Height(); ++y) {
      uint8_t* row = bitmap->MutableRow(y);
      for (int32_t x = 0; x < bitmap->Width(); ++x) row[4 * x + 3] = static_cast<uint8_t>(x * 255 / 516);
    }
    return ImageHandle(std::move(bitmap));
  }
  return MapLikePicture(37, 23, 7);  // "small 37x23": the preview enlarges it
}

constexpr GoldenCase kCases[] = {
    {"map 1000x700",
     160,
     160,
     255,
     {0x385222aa84941cd, 0xe5079947a96ab472, 0xc1740cec96d4438b, 0xb20845f489fc0e87, 0xe4fc664a86cd3959}},
    {"indexed 333x517",
     96,
     128,
     253,
     {0xf984048dfa83b445, 0xff5e686d6b933ba1, 0xb3f8200cb7b4b12f, 0x4e71f8ac9726030d, 0x4cab6bf6613a87d3}},
    {"small 37x23",
     32,
     512,
     0,
     {0xe36931dc02ab9f57, 0x6068c87ab5999ef7, 0x6366301dd24650c3, 0x6459e33c5ec3c3b6, 0xddd852e27d6181e9}},
};

// The fingerprint of the file written with the writer's thread and a pool
// of poolThreads more.
uint64_t WriteAndFingerprint(const TempDir& dir, const std::string& picture, const EncoderParams& params,
                             int poolThreads) {
  ImageHandle image = MakePicture(picture);
  ThreadPool pool(poolThreads);
  ColorPalette palette;
  if (PaletteForMap(image, params.PaletteMode == kPaletteAdaptive, &pool, palette) != Status::Ok) return 0;
  auto writer = MapWriter::Create(params, &palette, nullptr, {}, &pool);
  const auto path = dir / "golden.rzt2";
  std::filesystem::remove(path);
  if (!writer || writer->WriteMapFile(image, path) != Status::Ok) return 0;
  return Fingerprint(ReadFileBytes(path));
}

TEST(GoldenFilesTest, WrittenFilesKeepTheirBytes) {
  TempDir dir;
  for (const GoldenCase& c : kCases) {
    for (int32_t code = 0; code < kFrameFormatCount; ++code) {
      const EncoderParams params{
          .FrameSizeX = c.frameW, .FrameSizeY = c.frameH, .ZoomLevelsMask = c.zoomMask, .EncoderCode = code};
      const uint64_t fingerprint = WriteAndFingerprint(dir, c.picture, params, 0);
      EXPECT_EQ(fingerprint, c.fingerprints[code])
          << c.picture << " format " << code << ": 0x" << std::hex << fingerprint;
    }
  }
}

// Frames are drawn, quantized and encoded on several threads: 1, 2 and 8 threads in
// all write the same files, opaque (whose inner frames keep a trace of the
// frame before them), translucent, indexed and enlarged pictures alike,
// with the built-in palette in every format and with fitted palettes.
TEST(GoldenFilesTest, ThreadsDoNotChangeTheBytes) {
  constexpr struct {
    const char* picture;
    int32_t frameW, frameH, zoomMask;
  } kThreadCases[] = {
      {"map 1000x700", 64, 48, 0x55},
      {"translucent 517x333", 64, 48, 0x7F},
      {"indexed 333x517", 96, 128, 253},
      {"small 37x23", 32, 512, 0},
  };
  TempDir dir;
  for (const auto& c : kThreadCases) {
    for (int32_t code = 0; code < kFrameFormatCount; ++code) {
      const EncoderParams params{
          .FrameSizeX = c.frameW, .FrameSizeY = c.frameH, .ZoomLevelsMask = c.zoomMask, .EncoderCode = code};
      const uint64_t one = WriteAndFingerprint(dir, c.picture, params, 0);
      ASSERT_NE(one, 0u) << c.picture << " format " << code;
      for (const int poolThreads : {1, 7}) {
        EXPECT_EQ(WriteAndFingerprint(dir, c.picture, params, poolThreads), one)
            << c.picture << " format " << code << " with " << poolThreads + 1 << " threads";
      }
    }
    const EncoderParams adaptive{.FrameSizeX = c.frameW,
                                 .FrameSizeY = c.frameH,
                                 .ZoomLevelsMask = c.zoomMask,
                                 .EncoderCode = 2,
                                 .PaletteMode = kPaletteAdaptive};
    const uint64_t one = WriteAndFingerprint(dir, c.picture, adaptive, 0);
    ASSERT_NE(one, 0u) << c.picture << " adaptive";
    for (const int poolThreads : {1, 7}) {
      EXPECT_EQ(WriteAndFingerprint(dir, c.picture, adaptive, poolThreads), one)
          << c.picture << " adaptive with " << poolThreads + 1 << " threads";
    }
  }
}

}  // namespace
}  // namespace rzt2::test
