// Fitted palettes and their full-precision memo: a picture of few colours
// keeps each of them, one of many gets a palette close to it, and neither
// depends on the threads.
#include "imaging/adaptive_palette.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>

#include "imaging/exact_color_memo.h"
#include "imaging/fixed_palette.h"
#include "imaging/quantizer.h"
#include "support/test_support.h"

namespace rzt2 {
namespace {

constexpr uint32_t kOpaqueWhite = 0xFFFFFFFF;

// 200 colours in pairs one level apart in one channel, so that both of a
// pair share a key of the 6-bit memo; then a row of clear pixels and one
// of a colour at alpha 128, which frames show composed on white.
std::unique_ptr<Bitmap> FewColorPicture(std::vector<uint32_t>& colors) {
  for (uint32_t i = 0; i < 100; ++i) {
    const uint32_t base = Argb(255, 4 * (i % 50) + 40, 8 * (i / 50) + 60, 200 - i);
    const uint32_t channel = 8 * (i % 3);  // blue, green or red one level up
    colors.push_back(base & ~(uint32_t{3} << channel));
    colors.push_back((base & ~(uint32_t{3} << channel)) + (uint32_t{1} << channel));
  }
  std::unique_ptr<Bitmap> picture;
  EXPECT_EQ(Bitmap::Create(200, 12, PixelFormat::Argb32, picture), Status::Ok);
  for (int32_t y = 0; y < 12; ++y) {
    for (int32_t x = 0; x < 200; ++x) {
      const uint32_t argb = y == 10 ? 0 : y == 11 ? 0x80102030u : colors[static_cast<size_t>((x + y) % 200)];
      std::memcpy(picture->MutableRow(y) + 4 * x, &argb, 4);
    }
  }
  return picture;
}

TEST(AdaptivePaletteTest, FewColorsKeepTheirOwnEntriesWhichTheSixBitMemoWouldMerge) {
  std::vector<uint32_t> colors;
  ImageHandle image(FewColorPicture(colors));
  const uint32_t translucent = Argb(255, 0x10 / 2 + 127, 0x20 / 2 + 127, 0x30 / 2 + 127);  // on white
  ColorPalette palette;
  ASSERT_EQ(PaletteForMap(image, true, nullptr, palette), Status::Ok);
  ASSERT_EQ(palette.Count(), 256u);
  EXPECT_EQ(palette.entries[255], kOpaqueWhite);
  std::set<uint32_t> expected(colors.begin(), colors.end());
  expected.insert(translucent);
  EXPECT_EQ(std::set<uint32_t>(palette.entries.begin() + 1, palette.entries.begin() + 202), expected);

  ExactColorMemo memo = ExactColorMemo::Create();
  for (const uint32_t color : expected) {
    const uint8_t index = memo.Index(color, palette);
    EXPECT_TRUE(index >= 1 && index <= 201 && palette.entries[index] == color) << std::hex << color;
  }
  EXPECT_EQ(memo.Index(0x7F102030, palette), 255);
  EXPECT_EQ(memo.Index(kOpaqueWhite, palette), 255);
  // The memo of the built-in rules gives both colours of a pair one entry.
  QuantizerWorkArea sixBits = QuantizerWorkArea::Create();
  EXPECT_EQ(NearestIndex(colors[0], palette, sixBits), NearestIndex(colors[1], palette, sixBits));

  // A picture with a small palette of its own gets a fitted palette that
  // holds each of its colours.
  const ColorPalette own = test::GradientPalette(16);
  ImageHandle small(test::PatternedIndexed(64, 16, own, 3));
  ASSERT_EQ(PaletteForMap(small, true, nullptr, palette), Status::Ok);
  ASSERT_EQ(palette.Count(), 256u);
  for (const uint32_t color : own.entries) {
    EXPECT_NE(std::find(palette.entries.begin() + 1, palette.entries.end() - 1, color),
              palette.entries.end() - 1)
        << std::hex << color;
  }

  // A palette of 256 entries is the picture's own; without adaptive, the
  // built-in palette.
  image.GetBitmap()->SetPalette(test::GradientPalette(256));
  ASSERT_EQ(PaletteForMap(image, true, nullptr, palette), Status::Ok);
  EXPECT_EQ(palette, test::GradientPalette(256));
  image.GetBitmap()->SetPalette({});
  ASSERT_EQ(PaletteForMap(image, false, nullptr, palette), Status::Ok);
  EXPECT_EQ(palette, MakeFixedPalette());
}

// The memo searches only the entries that can be nearest to a colour's
// 6-bit key; it must find what a search of every entry finds, ties included.
TEST(AdaptivePaletteTest, TheMemoFindsTheNearestEntryOfAFullSearch) {
  std::mt19937 random(5);
  ColorPalette palette;
  for (int i = 0; i < 256; ++i) palette.entries.push_back(0xFF000000 | (random() & 0xF0F0F0));  // ties
  ExactColorMemo memo = ExactColorMemo::Create();
  for (int n = 0; n < 20000; ++n) {
    const uint32_t color = 0xFF000000 | (random() & 0xFFFFFF);
    uint32_t best = UINT32_MAX, bestIndex = 0;
    for (uint32_t i = 1; i < 256; ++i) {
      const auto d = [&](int shift) {
        const int delta = static_cast<int>((palette.entries[i] >> shift) & 0xFF) -
                          static_cast<int>((color >> shift) & 0xFF);
        return static_cast<uint32_t>(delta * delta);
      };
      if (d(16) + d(8) + d(0) < best) {
        best = d(16) + d(8) + d(0);
        bestIndex = i;
      }
    }
    ASSERT_EQ(memo.Index(color, palette), bestIndex) << std::hex << color;
  }
}

// Mean error of the picture reduced through the palette.
double MeanError(ImageHandle& image, const ColorPalette& palette) {
  ExactColorMemo memo = ExactColorMemo::Create();
  ImageHandle indexed = memo.QuantizedCopy(image, palette);
  std::unique_ptr<Bitmap> argb;
  EXPECT_EQ(
      Bitmap::Create(image.GetBitmap()->Width(), image.GetBitmap()->Height(), PixelFormat::Argb32, argb),
      Status::Ok);
  for (int32_t y = 0; y < argb->Height(); ++y) {
    indexed.GetBitmap()->ReadArgb(0, y, argb->Width(), reinterpret_cast<uint32_t*>(argb->MutableRow(y)));
  }
  return test::MeanRgbDifference(*image.GetBitmap(), *argb);
}

TEST(AdaptivePaletteTest, ManyColorsAreFittedCloselyAndAlikeWithAnyPool) {
  ImageHandle image(test::MakeMapLikeBitmap(900, 700, PixelFormat::Rgb24, 4));
  ColorPalette alone;
  ASSERT_EQ(FitPalette(*image.GetBitmap(), nullptr, alone), Status::Ok);
  ASSERT_EQ(alone.Count(), 256u);
  EXPECT_EQ(alone.entries[255], kOpaqueWhite);
  EXPECT_GT(std::set<uint32_t>(alone.entries.begin() + 1, alone.entries.end() - 1).size(), 200u);
  for (const int threads : {1, 3}) {
    ThreadPool pool(threads);
    ColorPalette pooled;
    ASSERT_EQ(FitPalette(*image.GetBitmap(), &pool, pooled), Status::Ok);
    EXPECT_EQ(pooled, alone) << threads << " threads";
  }
  const double fitted = MeanError(image, alone);
  const double builtIn = MeanError(image, MakeFixedPalette());
  EXPECT_LT(fitted, 2.5);
  EXPECT_LT(fitted * 3, builtIn);
}

}  // namespace
}  // namespace rzt2
