// PNG beyond what every codec promises: palette alpha, Go's broken files,
// sizes checked before allocating, and chunks that are skipped.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <vector>

#include "support/test_support.h"

namespace rzt2 {
namespace {

const std::filesystem::path kGoPngData = "/usr/share/go-1.19/src/image/png/testdata";

TEST(PngRoundTrip, KeepsPartialAndFullTransparencyOfPaletteEntries) {
  ColorPalette palette = test::GradientPalette(256);
  palette.entries[0] = Argb(0, 0, 0, 0);
  palette.entries[7] = Argb(128, 10, 20, 30);
  palette.flags = kPaletteHasAlpha;
  const auto picture = test::PatternedIndexed(40, 40, palette, 3);
  const auto back = test::Decoded(DecodePng, test::Encode(EncodePng, *picture));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(test::PixelDifference(*picture, *back), "");
  EXPECT_EQ(back->Palette(), palette);
}

TEST(PngHostileInput, BrokenFilesOfGoTestDataFailButIndexesPastThePaletteDecode) {
  for (const char* name :
       {"invalid-crc32.png", "invalid-noend.png", "invalid-trunc.png", "invalid-zlib.png"}) {
    const auto bytes = test::ReadFileBytes(kGoPngData / name);
    ASSERT_FALSE(bytes.empty()) << name;
    std::unique_ptr<Bitmap> out;
    EXPECT_EQ(test::DecodeWith(DecodePng, bytes, out), Status::CorruptData) << name;
  }
  // Legal in our model: they read as opaque black, as Go's decoder shows them.
  const auto bitmap = test::Decoded(DecodePng, test::ReadFileBytes(kGoPngData / "invalid-palette.png"));
  ASSERT_NE(bitmap, nullptr);
  ASSERT_EQ(bitmap->Format(), PixelFormat::Indexed8);
  EXPECT_GE(bitmap->Row(15)[15], bitmap->Palette().Count());
}

std::vector<uint8_t> Chunk(const char* type, std::vector<uint8_t> body) {
  std::vector<uint8_t> chunk;
  const auto put32 = [&chunk](uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) chunk.push_back(static_cast<uint8_t>(value >> shift));
  };
  put32(static_cast<uint32_t>(body.size()));
  chunk.insert(chunk.end(), type, type + 4);
  chunk.insert(chunk.end(), body.begin(), body.end());
  put32(static_cast<uint32_t>(crc32(0, chunk.data() + 4, static_cast<uInt>(body.size() + 4))));
  return chunk;
}

TEST(PngHostileInput, HeaderSizesAreCheckedBeforeAllocating) {
  const struct {
    uint32_t width, height;
    Status expected;
  } cases[] = {{100000, 100000, Status::OverPixelCeiling},
               {30000, 30000, Status::CorruptData},  // far more than 45 bytes inflate to
               {0, 10, Status::CorruptData},
               {0x80000000u, 1, Status::CorruptData}};
  for (const auto& c : cases) {
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    for (uint32_t value : {c.width, c.height}) {
      for (int shift = 24; shift >= 0; shift -= 8) ihdr.push_back(static_cast<uint8_t>(value >> shift));
    }
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA
    for (const auto& chunk : {Chunk("IHDR", ihdr), Chunk("IEND", {})})
      file.insert(file.end(), chunk.begin(), chunk.end());
    std::unique_ptr<Bitmap> out;
    EXPECT_EQ(test::DecodeWith(DecodePng, file, out), c.expected) << c.width << "x" << c.height;
  }
}

TEST(PngHostileInput, AncillaryChunksAreSkippedEvenWhenBroken) {
  const auto picture = test::MakeMapLikeBitmap(24, 24, PixelFormat::Rgb24);
  std::vector<uint8_t> file = test::Encode(EncodePng, *picture);
  const std::vector<uint8_t> brokenProfile = {'x', 0, 0, 0xDE, 0xAD, 0xBE, 0xEF};
  const std::vector<uint8_t> bigPrivate(3 << 20, 0x55);
  for (const auto& chunk : {Chunk("iCCP", brokenProfile), Chunk("prVt", bigPrivate)}) {
    file.insert(file.begin() + 33, chunk.begin(), chunk.end());  // right after IHDR
  }
  const auto decoded = test::Decoded(DecodePng, file);
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(test::PixelDifference(*picture, *decoded), "");
}

}  // namespace
}  // namespace rzt2
