// The built-in palette against its published table, and the choice of
// palette for a picture.
#include "imaging/fixed_palette.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace rzt2 {
namespace {

// FixedPalette as published, RRGGBB, entries 0 to 255: the first static
// colours of the Windows default palette; twelve shades of each hue from 40
// degrees down in steps of 20, round to 60; twenty greys; the last static
// colours of the Windows default palette.
const char* const kPublished[] = {
    "000000 800000 008000 808000 000080 800080 008080 C0C0C0 C0DCC0 A6CAF0",
    "FFF0D4 FFE2B1 FFD48E FFC66B FFB848 FFAA25 FFAA00 DC9200 B97A00 966200 734A00 503200",
    "FFE3D4 FFC7B1 FFAB8E FF8F6B FF7348 FF5725 FF5500 DC4900 B93D00 963100 732500 501900",
    "FFD4D4 FFB1B1 FF8E8E FF6B6B FF4848 FF2525 FE0000 DC0000 B90000 960000 730000 500000",
    "FFD4E3 FFB1C7 FF8EAB FF6B8F FF4873 FF2557 FF0055 DC0049 B9003D 960031 730025 500019",
    "FFD4F0 FFB1E2 FF8ED4 FF6BC6 FF48B8 FF25AA FF00AA DC0092 B9007A 960062 73004A 500032",
    "FFD4FF FFB1FF FF8EFF FF6BFF FF48FF FF25FF FE00FE DC00DC B900B9 960096 730073 500050",
    "F0D4FF E2B1FF D48EFF C66BFF B848FF AA25FF AA00FF 9200DC 7A00B9 620096 4A0073 320050",
    "E3D4FF C7B1FF AB8EFF 8F6BFF 7348FF 5725FF 5500FF 4900DC 3D00B9 310096 250073 190050",
    "D4D4FF B1B1FF 8E8EFF 6B6BFF 4848FF 2525FF 0000FE 0000DC 0000B9 000096 000073 000050",
    "D4E3FF B1C7FF 8EABFF 6B8FFF 4873FF 2557FF 0055FF 0049DC 003DB9 003196 002573 001950",
    "D4F0FF B1E2FF 8ED4FF 6BC6FF 48B8FF 25AAFF 00AAFF 0092DC 007AB9 006296 004A73 003250",
    "D4FFFF B1FFFF 8EFFFF 6BFFFF 48FFFF 25FFFF 00FEFE 00DCDC 00B9B9 009696 007373 005050",
    "D4FFF0 B1FFE2 8EFFD4 6BFFC6 48FFB8 25FFAA 00FFAA 00DC92 00B97A 009662 00734A 005032",
    "D4FFE3 B1FFC7 8EFFAB 6BFF8F 48FF73 25FF57 00FF55 00DC49 00B93D 009631 007325 005019",
    "D4FFD4 B1FFB1 8EFF8E 6BFF6B 48FF48 25FF25 00FE00 00DC00 00B900 009600 007300 005000",
    "E3FFD4 C7FFB1 ABFF8E 8FFF6B 73FF48 57FF25 55FF00 49DC00 3DB900 319600 257300 195000",
    "F0FFD4 E2FFB1 D4FF8E C6FF6B B8FF48 AAFF25 AAFF00 92DC00 7AB900 629600 4A7300 325000",
    "FFFFD4 FFFFB1 FFFF8E FFFF6B FFFF48 FFFF25 FEFE00 DCDC00 B9B900 969600 737300 505000",
    "F2F2F2 E6E6E6 DADADA CECECE C2C2C2 B6B6B6 AAAAAA 9E9E9E 929292 868686",
    "7A7A7A 6E6E6E 626262 565656 4A4A4A 3E3E3E 323232 262626 1A1A1A 0E0E0E",
    "FFFBF0 A0A0A4 808080 FF0000 00FF00 FFFF00 0000FF FF00FF 00FFFF FFFFFF",
};

TEST(FixedPaletteTest, EqualsThePublishedTableEntryForEntry) {
  std::vector<uint32_t> published;
  for (const char* row : kPublished) {
    std::istringstream words(row);
    for (std::string word; words >> word;)
      published.push_back(0xFF000000 | static_cast<uint32_t>(std::stoul(word, nullptr, 16)));
  }
  const ColorPalette palette = MakeFixedPalette();
  EXPECT_EQ(palette.flags, 0u);
  ASSERT_EQ(palette.Count(), 256u);
  ASSERT_EQ(published.size(), 256u);
  for (size_t i = 0; i < 256; ++i) EXPECT_EQ(palette.entries[i], published[i]) << "entry " << i;
}

TEST(PaletteForImageTest, KeepsOnlyPalettesOfExactly256Entries) {
  const ColorPalette fixed = MakeFixedPalette();
  for (const uint32_t count : {0u, 2u, 255u, 256u, 257u}) {
    // Some entries translucent.
    ColorPalette own{kPaletteHasAlpha, {}};
    for (uint32_t i = 0; i < count; ++i)
      own.entries.push_back(Argb((i * 37) & 0xFF, i & 0xFF, (i * 5) & 0xFF, 9));
    ImageHandle image(test::MakeIndexedBitmap(16, 16));
    image.SetPalette(own);
    EXPECT_EQ(PaletteForImage(image), count == 256 ? own : fixed) << count << " entries";
    EXPECT_EQ(image.LastStatus(), Status::Ok);
  }
  for (const PixelFormat format : {PixelFormat::Rgb24, PixelFormat::Argb32}) {
    ImageHandle image = ImageHandle::CreateBlank(8, 8, format);
    EXPECT_EQ(PaletteForImage(image), fixed);
  }
  // A failed query gives the built-in palette and stays on the handle.
  ImageHandle empty;
  EXPECT_EQ(PaletteForImage(empty), fixed);
  EXPECT_EQ(empty.LastStatus(), Status::InvalidParameter);
}

}  // namespace
}  // namespace rzt2
