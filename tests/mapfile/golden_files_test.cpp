// Map files must keep their bytes through refactoring and parallel work:
// a fixed set of pictures, in every frame format, gives files whose
// fingerprints (the random block, bytes 64 to 103, left out) were taken
// from the one-thread writer. A change here means the written files changed.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "imaging/fixed_palette.h"
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
  return MapLikePicture(37, 23, 7);  // "small 37x23": the preview enlarges it
}

constexpr GoldenCase kCases[] = {
    {"map 1000x700",
     160,
     160,
     255,
     {0x385222aa84941cd, 0x124eff60e66e9eed, 0xd744d0646c5f0103, 0xb20845f489fc0e87, 0xe4fc664a86cd3959}},
    {"indexed 333x517",
     96,
     128,
     253,
     {0xf984048dfa83b445, 0x49d7c5fd850412eb, 0xbf669aca1c1d88ee, 0x4e71f8ac9726030d, 0x4cab6bf6613a87d3}},
    {"small 37x23",
     32,
     512,
     0,
     {0xe36931dc02ab9f57, 0x326d6c2eb45c184e, 0x6dfc4c582c90a3f3, 0x6459e33c5ec3c3b6, 0xddd852e27d6181e9}},
};

TEST(GoldenFilesTest, WrittenFilesKeepTheirBytes) {
  TempDir dir;
  for (const GoldenCase& c : kCases) {
    for (int32_t code = 0; code < 5; ++code) {
      ImageHandle picture = MakePicture(c.picture);
      const ColorPalette palette = PaletteForImage(picture);
      const EncoderParams params{
          .FrameSizeX = c.frameW, .FrameSizeY = c.frameH, .ZoomLevelsMask = c.zoomMask, .EncoderCode = code};
      auto writer = MapWriter::Create(params, &palette, nullptr);
      ASSERT_TRUE(writer);
      const auto path = dir / "golden.rzt2";
      std::filesystem::remove(path);
      ASSERT_EQ(writer->WriteMapFile(picture, path), Status::Ok);
      const uint64_t fingerprint = Fingerprint(ReadFileBytes(path));
      EXPECT_EQ(fingerprint, c.fingerprints[code])
          << c.picture << " format " << code << ": 0x" << std::hex << fingerprint;
    }
  }
}

}  // namespace
}  // namespace rzt2::test
