// PNG beyond what every codec promises: palette alpha, Go's broken files,
// and chunks that are skipped.
#include <gtest/gtest.h>

#include <vector>

#include "hostile/hostile_files.h"
#include "support/test_support.h"

namespace rzt2 {
namespace {

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
  for (const char* name : {"invalid-crc32.png", "invalid-zlib.png"}) {  // truncations: codec_properties
    const auto bytes = test::ReadFileBytes(test::kGoPngData / name);
    ASSERT_FALSE(bytes.empty()) << name;
    std::unique_ptr<Bitmap> out;
    EXPECT_EQ(test::DecodeWith(DecodePng, bytes, out), Status::CorruptData) << name;
  }
  // Legal in our model: they read as opaque black, as Go's decoder shows them.
  const auto bitmap = test::Decoded(DecodePng, test::ReadFileBytes(test::kGoPngData / "invalid-palette.png"));
  ASSERT_NE(bitmap, nullptr);
  ASSERT_EQ(bitmap->Format(), PixelFormat::Indexed8);
  EXPECT_GE(bitmap->Row(15)[15], bitmap->Palette().Count());
}

TEST(PngHostileInput, AncillaryChunksAreSkippedEvenWhenBroken) {
  const auto picture = test::MakeMapLikeBitmap(24, 24, PixelFormat::Rgb24);
  std::vector<uint8_t> file = test::Encode(EncodePng, *picture);
  const std::vector<uint8_t> brokenProfile = {'x', 0, 0, 0xDE, 0xAD, 0xBE, 0xEF};
  const std::vector<uint8_t> bigPrivate(3 << 20, 0x55);
  for (const auto& chunk : {test::PngChunk("iCCP", brokenProfile), test::PngChunk("prVt", bigPrivate)}) {
    file.insert(file.begin() + 33, chunk.begin(), chunk.end());  // right after IHDR
  }
  const auto decoded = test::Decoded(DecodePng, file);
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(test::PixelDifference(*picture, *decoded), "");
}

}  // namespace
}  // namespace rzt2
