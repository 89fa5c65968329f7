// GIF beyond what every codec promises: palette padding and transparency,
// the logical screen around the image (and grown to hold it), local colour
// tables, and missing parts.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "support/test_support.h"

namespace rzt2 {
namespace {

TEST(GifRoundTrip, PadsPalettesWithBlackAndKeepsOnlyFullTransparency) {
  ColorPalette palette = test::GradientPalette(5);
  palette.entries[1] = Argb(100, 1, 1, 1);  // GIF has no partial alpha
  palette.entries[2] = Argb(0, 2, 2, 2);
  palette.entries[4] = Argb(0, 4, 4, 4);  // only the first clear entry is transparent
  const auto picture = test::PatternedIndexed(8, 8, palette, 0);
  const auto decoded = test::Decoded(DecodeGif, test::Encode(EncodeGif, *picture));
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(test::PixelDifference(*picture, *decoded), "");
  std::vector<uint32_t> expected = {palette.entries[0], Argb(255, 1, 1, 1), Argb(0, 2, 2, 2),
                                    palette.entries[3], Argb(255, 4, 4, 4)};
  expected.resize(8, Argb(255, 0, 0, 0));
  EXPECT_EQ(decoded->Palette().entries, expected);
  EXPECT_EQ(decoded->Palette().flags, kPaletteHasAlpha);
}

// A 4 x 3 file of our own encoder with its fields at known places: a
// 4-entry colour table, so the image descriptor follows at 13 + 12 + 8.
struct HandMadeGif {
  static constexpr size_t kImage = 13 + 12 + 8;
  std::vector<uint8_t> bytes;

  explicit HandMadeGif(bool transparentEntry = false) {
    ColorPalette palette = test::GradientPalette(4);
    if (transparentEntry) palette.entries[0] = Argb(0, 0, 0, 0);
    std::unique_ptr<Bitmap> picture;
    EXPECT_EQ(Bitmap::Create(4, 3, PixelFormat::Indexed8, picture), Status::Ok);
    for (int32_t y = 0; y < 3; ++y) std::fill_n(picture->MutableRow(y), 4, 2 + y % 2);
    picture->SetPalette(palette);
    bytes = test::Encode(EncodeGif, *picture);
  }
  // The screen's width and height, then the image's left, top, width and height.
  void Place(std::array<int, 6> values) {
    const size_t at[] = {6, 8, kImage + 1, kImage + 3, kImage + 5, kImage + 7};
    for (size_t i = 0; i < 6; ++i) {
      bytes[at[i]] = static_cast<uint8_t>(values[i] & 255);
      bytes[at[i] + 1] = static_cast<uint8_t>(values[i] >> 8);
    }
  }
};

TEST(GifDecode, LocalColorTableWinsOverTheGlobalOne) {
  HandMadeGif gif;
  const std::vector<uint8_t> local = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  gif.bytes[HandMadeGif::kImage + 9] |= 0x81;  // a local table of 4 entries follows
  gif.bytes.insert(gif.bytes.begin() + HandMadeGif::kImage + 10, local.begin(), local.end());
  const auto bitmap = test::Decoded(DecodeGif, gif.bytes);
  ASSERT_NE(bitmap, nullptr);
  const std::vector<uint32_t> expected = {Argb(255, 1, 2, 3), Argb(255, 4, 5, 6), Argb(255, 7, 8, 9),
                                          Argb(255, 10, 11, 12)};
  EXPECT_EQ(bitmap->Palette().entries, expected);
  EXPECT_EQ(bitmap->Row(0)[0], 2);
}

// Pixels outside the image take the transparent index, or else the
// background one; a screen too small for the image grows to hold it.
TEST(GifDecode, TheLogicalScreenAroundTheImage) {
  struct Case {
    std::array<int, 6> place;  // screen width, height; image left, top, width, height
    bool transparent;
    Status status;
    int32_t width, height;
  };
  const Case cases[] = {
      {{8, 6, 2, 1, 4, 3}, false, Status::Ok, 8, 6},
      {{8, 6, 2, 1, 4, 3}, true, Status::Ok, 8, 6},
      {{3, 3, 0, 0, 4, 3}, false, Status::Ok, 4, 3},  // image wider than the screen
      {{4, 3, 0, 1, 4, 3}, false, Status::Ok, 4, 4},  // past the bottom
      {{8, 8, 5, 0, 4, 3}, false, Status::Ok, 9, 8},  // past the right
      {{0, 0, 1, 2, 4, 3}, false, Status::Ok, 5, 5},  // no screen at all
      {{4, 3, 0, 0, 4, 0}, false, Status::CorruptData, 0, 0},
      {{65535, 65535, 0, 0, 4, 3}, false, Status::OverPixelCeiling, 0, 0},
  };
  for (const Case& c : cases) {
    const auto [left, top] = std::pair{c.place[2], c.place[3]};
    SCOPED_TRACE(testing::Message() << c.place[0] << "x" << c.place[1] << " " << left << "," << top << " "
                                    << c.place[4] << "x" << c.place[5] << " " << c.transparent);
    HandMadeGif gif(c.transparent);
    gif.Place(c.place);
    gif.bytes[11] = 1;  // background index
    std::unique_ptr<Bitmap> out;
    ASSERT_EQ(test::DecodeWith(DecodeGif, gif.bytes, out), c.status);
    if (c.status != Status::Ok) continue;
    ASSERT_EQ(out->Width(), c.width);
    ASSERT_EQ(out->Height(), c.height);
    for (int32_t y = 0; y < c.height; ++y) {
      for (int32_t x = 0; x < c.width; ++x) {
        const bool inside = x >= left && x < left + 4 && y >= top && y < top + 3;
        EXPECT_EQ(out->Row(y)[x], inside ? 2 + (y - top) % 2 : (c.transparent ? 0 : 1)) << x << "," << y;
      }
    }
    EXPECT_EQ(out->Palette().flags, c.transparent ? kPaletteHasAlpha : 0u);
  }
}

// An animated GIF: each frame decodes by its number, alone on the screen.
TEST(GifDecode, FramesDecodeByNumber) {
  HandMadeGif first, second;
  first.Place({8, 6, 0, 0, 4, 3});
  second.Place({8, 6, 4, 3, 4, 3});
  std::vector<uint8_t> animated(first.bytes.begin(), first.bytes.end() - 1);  // without the trailer
  animated.insert(animated.end(), second.bytes.begin() + HandMadeGif::kImage - 8, second.bytes.end());
  uint32_t count = 0;
  ASSERT_EQ(CountPages(animated, count), Status::Ok);
  EXPECT_EQ(count, 2u);
  std::unique_ptr<Bitmap> out;
  ASSERT_EQ(test::DecodeWith(DecodeGif, animated, out, DecodeLimits{.page = 2}), Status::Ok);
  EXPECT_EQ(out->Row(3)[4], 2);
  EXPECT_EQ(out->Row(0)[0], 0);
  EXPECT_EQ(test::DecodeWith(DecodeGif, animated, out, DecodeLimits{.page = 3}), Status::NoSuchPage);
}

TEST(GifHostileInput, MissingPartsAreRefused) {
  HandMadeGif noColorMap;
  noColorMap.bytes[10] &= 0x7F;  // no global table, and the image has none
  noColorMap.bytes.erase(noColorMap.bytes.begin() + 13, noColorMap.bytes.begin() + 25);
  std::unique_ptr<Bitmap> out;
  EXPECT_EQ(test::DecodeWith(DecodeGif, noColorMap.bytes, out), Status::CorruptData);

  HandMadeGif noImage;
  noImage.bytes.resize(HandMadeGif::kImage);
  noImage.bytes.push_back(';');
  EXPECT_EQ(test::DecodeWith(DecodeGif, noImage.bytes, out), Status::CorruptData);
}

}  // namespace
}  // namespace rzt2
