#include "imaging/fixed_palette.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>

#include "raster/codecs/codecs.h"
#include "raster/scratch_stream.h"
#include "support/test_support.h"

namespace rzt2 {
namespace {

// FixedPalette as published, RRGGBB, entries 0 to 255.
// clang-format off
constexpr std::array<uint32_t, 256> kPublishedColours = {
    // 0-9: the first static colours of the Windows default palette
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080,
    0x800080, 0x008080, 0xC0C0C0, 0xC0DCC0, 0xA6CAF0,
    // 10-21: 40 degrees
    0xFFF0D4, 0xFFE2B1, 0xFFD48E, 0xFFC66B, 0xFFB848, 0xFFAA25,
    0xFFAA00, 0xDC9200, 0xB97A00, 0x966200, 0x734A00, 0x503200,
    // 22-33: 20 degrees
    0xFFE3D4, 0xFFC7B1, 0xFFAB8E, 0xFF8F6B, 0xFF7348, 0xFF5725,
    0xFF5500, 0xDC4900, 0xB93D00, 0x963100, 0x732500, 0x501900,
    // 34-45: 0 degrees
    0xFFD4D4, 0xFFB1B1, 0xFF8E8E, 0xFF6B6B, 0xFF4848, 0xFF2525,
    0xFE0000, 0xDC0000, 0xB90000, 0x960000, 0x730000, 0x500000,
    // 46-57: 340 degrees
    0xFFD4E3, 0xFFB1C7, 0xFF8EAB, 0xFF6B8F, 0xFF4873, 0xFF2557,
    0xFF0055, 0xDC0049, 0xB9003D, 0x960031, 0x730025, 0x500019,
    // 58-69: 320 degrees
    0xFFD4F0, 0xFFB1E2, 0xFF8ED4, 0xFF6BC6, 0xFF48B8, 0xFF25AA,
    0xFF00AA, 0xDC0092, 0xB9007A, 0x960062, 0x73004A, 0x500032,
    // 70-81: 300 degrees
    0xFFD4FF, 0xFFB1FF, 0xFF8EFF, 0xFF6BFF, 0xFF48FF, 0xFF25FF,
    0xFE00FE, 0xDC00DC, 0xB900B9, 0x960096, 0x730073, 0x500050,
    // 82-93: 280 degrees
    0xF0D4FF, 0xE2B1FF, 0xD48EFF, 0xC66BFF, 0xB848FF, 0xAA25FF,
    0xAA00FF, 0x9200DC, 0x7A00B9, 0x620096, 0x4A0073, 0x320050,
    // 94-105: 260 degrees
    0xE3D4FF, 0xC7B1FF, 0xAB8EFF, 0x8F6BFF, 0x7348FF, 0x5725FF,
    0x5500FF, 0x4900DC, 0x3D00B9, 0x310096, 0x250073, 0x190050,
    // 106-117: 240 degrees
    0xD4D4FF, 0xB1B1FF, 0x8E8EFF, 0x6B6BFF, 0x4848FF, 0x2525FF,
    0x0000FE, 0x0000DC, 0x0000B9, 0x000096, 0x000073, 0x000050,
    // 118-129: 220 degrees
    0xD4E3FF, 0xB1C7FF, 0x8EABFF, 0x6B8FFF, 0x4873FF, 0x2557FF,
    0x0055FF, 0x0049DC, 0x003DB9, 0x003196, 0x002573, 0x001950,
    // 130-141: 200 degrees
    0xD4F0FF, 0xB1E2FF, 0x8ED4FF, 0x6BC6FF, 0x48B8FF, 0x25AAFF,
    0x00AAFF, 0x0092DC, 0x007AB9, 0x006296, 0x004A73, 0x003250,
    // 142-153: 180 degrees
    0xD4FFFF, 0xB1FFFF, 0x8EFFFF, 0x6BFFFF, 0x48FFFF, 0x25FFFF,
    0x00FEFE, 0x00DCDC, 0x00B9B9, 0x009696, 0x007373, 0x005050,
    // 154-165: 160 degrees
    0xD4FFF0, 0xB1FFE2, 0x8EFFD4, 0x6BFFC6, 0x48FFB8, 0x25FFAA,
    0x00FFAA, 0x00DC92, 0x00B97A, 0x009662, 0x00734A, 0x005032,
    // 166-177: 140 degrees
    0xD4FFE3, 0xB1FFC7, 0x8EFFAB, 0x6BFF8F, 0x48FF73, 0x25FF57,
    0x00FF55, 0x00DC49, 0x00B93D, 0x009631, 0x007325, 0x005019,
    // 178-189: 120 degrees
    0xD4FFD4, 0xB1FFB1, 0x8EFF8E, 0x6BFF6B, 0x48FF48, 0x25FF25,
    0x00FE00, 0x00DC00, 0x00B900, 0x009600, 0x007300, 0x005000,
    // 190-201: 100 degrees
    0xE3FFD4, 0xC7FFB1, 0xABFF8E, 0x8FFF6B, 0x73FF48, 0x57FF25,
    0x55FF00, 0x49DC00, 0x3DB900, 0x319600, 0x257300, 0x195000,
    // 202-213: 80 degrees
    0xF0FFD4, 0xE2FFB1, 0xD4FF8E, 0xC6FF6B, 0xB8FF48, 0xAAFF25,
    0xAAFF00, 0x92DC00, 0x7AB900, 0x629600, 0x4A7300, 0x325000,
    // 214-225: 60 degrees
    0xFFFFD4, 0xFFFFB1, 0xFFFF8E, 0xFFFF6B, 0xFFFF48, 0xFFFF25,
    0xFEFE00, 0xDCDC00, 0xB9B900, 0x969600, 0x737300, 0x505000,
    // 226-245: greys
    0xF2F2F2, 0xE6E6E6, 0xDADADA, 0xCECECE, 0xC2C2C2, 0xB6B6B6, 0xAAAAAA,
    0x9E9E9E, 0x929292, 0x868686, 0x7A7A7A, 0x6E6E6E, 0x626262, 0x565656,
    0x4A4A4A, 0x3E3E3E, 0x323232, 0x262626, 0x1A1A1A, 0x0E0E0E,
    // 246-255: the last static colours of the Windows default palette
    0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000, 0x00FF00,
    0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};
// clang-format on

TEST(FixedPaletteTest, EqualsThePublishedTable) {
  const ColorPalette palette = MakeFixedPalette();
  EXPECT_EQ(palette.flags, 0u);
  ASSERT_EQ(palette.Count(), 256u);
  for (size_t i = 0; i < kPublishedColours.size(); ++i) {
    EXPECT_EQ(palette.entries[i], 0xFF000000 | kPublishedColours[i]) << "entry " << i;
  }
}

// A picture carrying a palette of `count` entries, some of them translucent.
ImageHandle PictureWithPalette(uint32_t count, bool withAlpha, ColorPalette& palette) {
  palette = {};
  palette.flags = withAlpha ? kPaletteHasAlpha : 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t alpha = withAlpha ? (i * 37) & 0xFF : 0xFF;
    palette.entries.push_back(Argb(alpha, i & 0xFF, (i * 5) & 0xFF, 255 - (i & 0xFF)));
  }
  ImageHandle image(test::MakeIndexedBitmap(16, 16));
  image.SetPalette(palette);
  return image;
}

TEST(PaletteForImageTest, KeepsAPaletteOfExactly256Entries) {
  ColorPalette own;
  ImageHandle image = PictureWithPalette(256, true, own);
  EXPECT_EQ(PaletteForImage(image), own);
  EXPECT_EQ(image.LastStatus(), Status::Ok);
}

TEST(PaletteForImageTest, UsesFixedPaletteForOtherCountsAndTrueColour) {
  const ColorPalette fixed = MakeFixedPalette();
  for (const uint32_t count : {0u, 2u, 16u, 255u, 257u}) {
    ColorPalette own;
    ImageHandle image = PictureWithPalette(count, false, own);
    EXPECT_EQ(PaletteForImage(image), fixed) << count << " entries";
  }
  for (const PixelFormat format : {PixelFormat::Rgb24, PixelFormat::Argb32}) {
    ImageHandle image = ImageHandle::CreateBlank(8, 8, format);
    EXPECT_EQ(PaletteForImage(image), fixed);
    EXPECT_EQ(image.LastStatus(), Status::Ok);
  }
}

TEST(PaletteForImageTest, FailedQueryGivesFixedPaletteAndStaysOnTheHandle) {
  ImageHandle empty;
  EXPECT_EQ(PaletteForImage(empty), MakeFixedPalette());
  EXPECT_EQ(empty.LastStatus(), Status::InvalidParameter);
}

// Encodes the bitmap and decodes it again through ImageHandle. Sets
// `status` to the first failure.
ImageHandle EncodeAndDecode(EncodeFunction encode, const Bitmap& bitmap, Status& status) {
  ScratchStream stream;
  status = encode(bitmap, stream);
  if (status != Status::Ok) return {};
  ImageHandle decoded = ImageHandle::FromMemory(stream.Data());
  status = decoded.LastStatus();
  return decoded;
}

// The decoders keep palette pictures as Indexed8 with their stored entry
// count, so PaletteForImage sees what the file holds.
class DecodedPaletteTest : public ::testing::Test {
 protected:
  void ExpectPalette(EncodeFunction encode, uint32_t count, bool withAlpha, bool expectOwn) {
    ColorPalette own;
    ImageHandle source = PictureWithPalette(count, withAlpha, own);
    Status status = Status::Ok;
    ImageHandle decoded = EncodeAndDecode(encode, *source.GetBitmap(), status);
    if (status == Status::NotImplemented) GTEST_SKIP() << "codec not available yet";
    ASSERT_EQ(status, Status::Ok) << StatusText(status);
    const ColorPalette result = PaletteForImage(decoded);
    if (expectOwn) {
      EXPECT_EQ(result.entries, own.entries);
    } else {
      EXPECT_EQ(result, MakeFixedPalette());
    }
  }
};

TEST_F(DecodedPaletteTest, Gif256KeepsItsPalette) { ExpectPalette(EncodeGif, 256, false, true); }
TEST_F(DecodedPaletteTest, Png256KeepsItsPaletteWithAlpha) { ExpectPalette(EncodePng, 256, true, true); }
TEST_F(DecodedPaletteTest, Gif16GetsFixedPalette) { ExpectPalette(EncodeGif, 16, false, false); }
TEST_F(DecodedPaletteTest, JpegGetsFixedPalette) { ExpectPalette(EncodeJpeg, 256, false, false); }

}  // namespace
}  // namespace rzt2
