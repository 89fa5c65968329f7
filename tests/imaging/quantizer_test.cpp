#include "imaging/quantizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "imaging/fixed_palette.h"
#include "support/test_support.h"

namespace rzt2 {
namespace {

constexpr uint32_t Opaque(uint32_t rgb) { return 0xFF000000 | rgb; }

size_t FilledSlots(const QuantizerWorkArea& workArea) {
  const uint8_t* memo = workArea.Data();
  return static_cast<size_t>(
      std::count_if(memo, memo + QuantizerWorkArea::kSize, [](uint8_t slot) { return slot != 0; }));
}

class NearestIndexTest : public ::testing::Test {
 protected:
  const ColorPalette fixed_ = MakeFixedPalette();
  QuantizerWorkArea memo_ = QuantizerWorkArea::Create();
};

TEST_F(NearestIndexTest, WorkedExamplesWithAFreshMemo) {
  const struct {
    uint32_t rgb;
    uint8_t index;
  } cases[] = {{0xFFFFFF, 255}, {0xFF0000, 249}, {0xFC0000, 40}, {0x000000, 245}};
  for (const auto& c : cases) {
    QuantizerWorkArea fresh = QuantizerWorkArea::Create();
    ASSERT_TRUE(fresh);
    EXPECT_EQ(FilledSlots(fresh), 0u);
    EXPECT_EQ(NearestIndex(Opaque(c.rgb), fixed_, fresh), c.index) << std::hex << c.rgb;
  }
  // Without a memo every pixel is searched, as with a fresh one.
  QuantizerWorkArea none;
  EXPECT_EQ(NearestIndex(Opaque(0xFC0000), fixed_, none), 40);
}

TEST_F(NearestIndexTest, FirstPixelOfAKeyDecidesForLaterOnes) {
  EXPECT_EQ(NearestIndex(Opaque(0xFF0000), fixed_, memo_), 249);
  EXPECT_EQ(NearestIndex(Opaque(0xFC0000), fixed_, memo_), 249);

  QuantizerWorkArea other = QuantizerWorkArea::Create();
  EXPECT_EQ(NearestIndex(Opaque(0xFC0000), fixed_, other), 40);
  EXPECT_EQ(NearestIndex(Opaque(0xFF0000), fixed_, other), 40);
}

TEST_F(NearestIndexTest, MemoSlotIsTheKeyOfTheTopSixBits) {
  EXPECT_EQ(NearestIndex(Opaque(0x12345B), fixed_, memo_), NearestIndex(Opaque(0x12345B), fixed_, memo_));
  EXPECT_EQ(FilledSlots(memo_), 1u);
  EXPECT_NE(memo_.Data()[(0x12 >> 2) * 4096 + (0x34 >> 2) * 64 + (0x5B >> 2)], 0);
  // A decided slot answers without a search.
  memo_.Data()[QuantizerWorkArea::Key(Opaque(0x808080))] = 17;
  EXPECT_EQ(NearestIndex(Opaque(0x838081), fixed_, memo_), 17);
}

TEST_F(NearestIndexTest, TranslucentPixelsGive255AndLeaveTheMemoAlone) {
  for (const uint32_t alpha : {0u, 127u}) {
    for (const uint32_t rgb : {0xFF0000u, 0x000000u, 0x0E0E0Eu}) {
      EXPECT_EQ(NearestIndex(alpha << 24 | rgb, fixed_, memo_), 255) << alpha << " " << rgb;
    }
  }
  EXPECT_EQ(FilledSlots(memo_), 0u);
  EXPECT_EQ(NearestIndex(0x80FF0000, fixed_, memo_), 249);
  EXPECT_EQ(memo_.Data()[QuantizerWorkArea::Key(0xFF0000)], 249);
}

TEST_F(NearestIndexTest, PalettesOfNoOrOneEntryGiveZero) {
  const ColorPalette none;
  const ColorPalette one{0, {Opaque(0x102030)}};
  for (const uint32_t rgb : {0x102030u, 0xFFFFFFu, 0x000000u}) {
    EXPECT_EQ(NearestIndex(Opaque(rgb), none, memo_), 0);
    EXPECT_EQ(NearestIndex(Opaque(rgb), one, memo_), 0);
  }
  EXPECT_EQ(NearestIndex(0x7F102030, one, memo_), 255);
}

TEST_F(NearestIndexTest, SkipsEntryZeroAndPrefersTheLowestIndex) {
  ColorPalette palette{0, std::vector<uint32_t>(256, Opaque(0xFFFFFF))};
  palette.entries[0] = Opaque(0x3F4F5F);
  palette.entries[7] = 0x00405060;  // entry alpha plays no part
  palette.entries[200] = Opaque(0x405060);
  palette.entries[3] = Opaque(0x000010);
  palette.entries[5] = Opaque(0x000030);
  const struct {
    uint32_t rgb;
    uint8_t index;
  } cases[] = {{0x405060, 7}, {0x3F4F5F, 7}, {0x000020, 3}};
  for (const auto& c : cases) {
    QuantizerWorkArea fresh = QuantizerWorkArea::Create();
    EXPECT_EQ(NearestIndex(Opaque(c.rgb), palette, fresh), c.index) << std::hex << c.rgb;
  }
}

// Pictures and expectations for the whole-picture operations.
ImageHandle ArgbPicture(int32_t width, int32_t height, const std::vector<uint32_t>& pixels) {
  ImageHandle image = ImageHandle::CreateBlank(width, height, PixelFormat::Argb32);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = image.GetBitmap()->MutableRow(y);
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t argb = pixels[static_cast<size_t>(y * width + x)];
      for (int i = 0; i < 4; ++i) row[4 * x + i] = static_cast<uint8_t>(argb >> (8 * i));
    }
  }
  return image;
}

std::vector<uint8_t> IndexesOf(const ImageHandle& image) {
  const Bitmap& bitmap = *image.GetBitmap();
  std::vector<uint8_t> indexes;
  for (int32_t y = 0; y < bitmap.Height(); ++y) {
    indexes.insert(indexes.end(), bitmap.Row(y), bitmap.Row(y) + bitmap.Width());
  }
  return indexes;
}

// NearestIndex of every pixel, rows from the top, with a fresh memo.
std::vector<uint8_t> ExpectedIndexes(const Bitmap& source, const ColorPalette& palette) {
  QuantizerWorkArea memo = QuantizerWorkArea::Create();
  std::vector<uint8_t> indexes;
  for (int32_t y = 0; y < source.Height(); ++y) {
    for (int32_t x = 0; x < source.Width(); ++x) {
      indexes.push_back(NearestIndex(source.PixelArgb(x, y), palette, memo));
    }
  }
  return indexes;
}

// A map-like picture with some random, partly translucent pixels mixed in.
ImageHandle NoisyMapPicture(PixelFormat format) {
  std::unique_ptr<Bitmap> bitmap = test::MakeMapLikeBitmap(300, 61, format, 7);
  if (format == PixelFormat::Argb32) {
    std::mt19937 random(3);
    for (int i = 0; i < 800; ++i) {
      const auto x = static_cast<int32_t>(random() % 300);
      const auto y = static_cast<int32_t>(random() % 61);
      const uint32_t argb = static_cast<uint32_t>(random());
      for (int b = 0; b < 4; ++b) bitmap->MutableRow(y)[4 * x + b] = static_cast<uint8_t>(argb >> (8 * b));
    }
  }
  return ImageHandle(std::move(bitmap));
}

class QuantizeIntoTest : public NearestIndexTest {};

TEST_F(QuantizeIntoTest, VisitsRowsFromTheTopEachLeftToRight) {
  // FF0000/FC0000 and 00FF00/00FC00 share keys; whichever comes first decides.
  const uint32_t green = Opaque(0x00FF00);
  ImageHandle source =
      ArgbPicture(3, 2, {Opaque(0xFF0000), Opaque(0xFC0000), Opaque(0x00FC00), green, green, green});
  ImageHandle destination = ImageHandle::CreateBlank(3, 2, PixelFormat::Indexed8);
  QuantizeInto(source, destination, fixed_, memo_);
  EXPECT_EQ(IndexesOf(destination), (std::vector<uint8_t>{249, 249, 184, 184, 184, 184}));

  // The memo carries over to the next picture.
  ImageHandle red = ArgbPicture(1, 1, {Opaque(0xFC0000)});
  QuantizeInto(red, destination, fixed_, memo_);
  EXPECT_EQ(IndexesOf(destination)[0], 249);
}

TEST_F(QuantizeIntoTest, MatchesNearestIndexForEverySourceFormat) {
  for (const PixelFormat format : {PixelFormat::Argb32, PixelFormat::Rgb24, PixelFormat::Indexed8}) {
    ImageHandle source = NoisyMapPicture(format);
    ImageHandle destination = ImageHandle::CreateBlank(300, 61, PixelFormat::Indexed8);
    QuantizerWorkArea memo = QuantizerWorkArea::Create();
    QuantizeInto(source, destination, fixed_, memo);
    EXPECT_EQ(IndexesOf(destination), ExpectedIndexes(*source.GetBitmap(), fixed_))
        << "format " << static_cast<int>(format);
    EXPECT_EQ(source.LastStatus(), Status::Ok);
    EXPECT_EQ(destination.LastStatus(), Status::Ok);
  }
}

TEST_F(QuantizeIntoTest, WritesOnlyTheSourceAreaOfALargerDestination) {
  ImageHandle source = ArgbPicture(2, 1, {Opaque(0xFFFFFF), Opaque(0x000000)});
  ImageHandle destination = ImageHandle::CreateBlank(3, 2, PixelFormat::Indexed8);
  QuantizeInto(source, destination, fixed_, memo_);
  EXPECT_EQ(IndexesOf(destination), (std::vector<uint8_t>{255, 245, 0, 0, 0, 0}));
}

// Every failure leaves the destination's pixels as they were and both
// pictures unlocked.
class QuantizeIntoFailureTest : public NearestIndexTest {
 protected:
  ImageHandle source_ = ArgbPicture(2, 2, std::vector<uint32_t>(4, Opaque(0x123456)));

  static ImageHandle Prefilled(int32_t width, int32_t height, PixelFormat format) {
    ImageHandle image = ImageHandle::CreateBlank(width, height, format);
    for (int32_t y = 0; y < height; ++y) {
      uint8_t* row = image.GetBitmap()->MutableRow(y);
      std::fill(row, row + image.GetBitmap()->Stride(), uint8_t{0x77});
    }
    return image;
  }

  static void ExpectUntouched(const ImageHandle& image) {
    const Bitmap& bitmap = *image.GetBitmap();
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
      EXPECT_TRUE(std::all_of(bitmap.Row(y), bitmap.Row(y) + bitmap.Stride(),
                              [](uint8_t byte) { return byte == 0x77; }));
    }
  }

  static void ExpectUnlocked(ImageHandle& image) {
    PixelLock lock;
    EXPECT_EQ(image.LockBits({0, 0, 1, 1}, LockMode::Read, PixelFormat::Argb32, lock), Status::Ok);
  }
};

TEST_F(QuantizeIntoFailureTest, DestinationThatCannotBeLockedForWriting) {
  ImageHandle notIndexed = Prefilled(2, 2, PixelFormat::Argb32);
  ImageHandle tooSmall = Prefilled(2, 1, PixelFormat::Indexed8);
  for (ImageHandle* destination : {&notIndexed, &tooSmall}) {
    QuantizeInto(source_, *destination, fixed_, memo_);
    EXPECT_NE(destination->LastStatus(), Status::Ok);
    ExpectUntouched(*destination);
    ExpectUnlocked(*destination);
  }
  ImageHandle missing;
  QuantizeInto(source_, missing, fixed_, memo_);
  EXPECT_NE(missing.LastStatus(), Status::Ok);

  ImageHandle busy = Prefilled(2, 2, PixelFormat::Indexed8);
  {
    PixelLock held;
    ASSERT_EQ(busy.LockBits({0, 0, 2, 2}, LockMode::Read, PixelFormat::Indexed8, held), Status::Ok);
    QuantizeInto(source_, busy, fixed_, memo_);
    EXPECT_EQ(busy.LastStatus(), Status::WrongState);
  }
  ExpectUntouched(busy);
  EXPECT_EQ(source_.LastStatus(), Status::Ok);
  ExpectUnlocked(source_);
  EXPECT_EQ(FilledSlots(memo_), 0u);
}

TEST_F(QuantizeIntoFailureTest, SourceWithoutSizeOrLock) {
  ImageHandle destination = Prefilled(2, 2, PixelFormat::Indexed8);
  ImageHandle missing;
  QuantizeInto(missing, destination, fixed_, memo_);
  EXPECT_EQ(missing.LastStatus(), Status::InvalidParameter);
  {
    PixelLock held;
    ASSERT_EQ(source_.LockBits({0, 0, 1, 1}, LockMode::Read, PixelFormat::Argb32, held), Status::Ok);
    QuantizeInto(source_, destination, fixed_, memo_);
    EXPECT_EQ(source_.LastStatus(), Status::WrongState);
  }
  EXPECT_EQ(destination.LastStatus(), Status::Ok);
  ExpectUntouched(destination);
  ExpectUnlocked(destination);
}

TEST_F(QuantizeIntoFailureTest, MissingWorkArea) {
  ImageHandle destination = Prefilled(2, 2, PixelFormat::Indexed8);
  QuantizerWorkArea none;
  QuantizeInto(source_, destination, fixed_, none);
  EXPECT_EQ(destination.LastStatus(), Status::InvalidParameter);
  ExpectUntouched(destination);
}

class QuantizedCopyTest : public NearestIndexTest {};

TEST_F(QuantizedCopyTest, CarriesThePaletteAndTheIndexes) {
  ImageHandle source = NoisyMapPicture(PixelFormat::Argb32);
  ImageHandle copy = QuantizedCopy(source, fixed_, memo_);
  ASSERT_FALSE(copy.IsNull());
  EXPECT_EQ(copy.GetBitmap()->Format(), PixelFormat::Indexed8);
  EXPECT_EQ(copy.GetBitmap()->Palette(), fixed_);
  EXPECT_EQ(IndexesOf(copy), ExpectedIndexes(*source.GetBitmap(), fixed_));

  ImageHandle missing;
  ImageHandle failed = QuantizedCopy(missing, fixed_, memo_);
  EXPECT_TRUE(failed.IsNull());
  EXPECT_NE(failed.LastStatus(), Status::Ok);
  EXPECT_EQ(missing.LastStatus(), Status::InvalidParameter);
}

TEST(QuantizeImageTest, TrueColourPictureGetsFixedPalette) {
  const ColorPalette fixed = MakeFixedPalette();
  ImageHandle source = NoisyMapPicture(PixelFormat::Argb32);
  ImageHandle result = QuantizeImage(source);
  ASSERT_FALSE(result.IsNull());
  EXPECT_EQ(result.GetBitmap()->Format(), PixelFormat::Indexed8);
  EXPECT_EQ(result.GetBitmap()->Width(), 300);
  EXPECT_EQ(result.GetBitmap()->Height(), 61);
  EXPECT_EQ(result.GetBitmap()->Palette(), fixed);
  EXPECT_EQ(IndexesOf(result), ExpectedIndexes(*source.GetBitmap(), fixed));
}

TEST(QuantizeImageTest, IndexedPictureKeepsItsPaletteAndColours) {
  ImageHandle source(test::MakeIndexedBitmap(40, 30));
  ImageHandle result = QuantizeImage(source);
  ASSERT_FALSE(result.IsNull());
  EXPECT_EQ(result.GetBitmap()->Palette(), source.GetBitmap()->Palette());
  // Its colours are all distinct and exact matches; only entry 0 is never chosen.
  const std::vector<uint8_t> before = IndexesOf(source);
  const std::vector<uint8_t> after = IndexesOf(result);
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i] != 0) {
      EXPECT_EQ(after[i], before[i]) << "pixel " << i;
    }
  }

  ImageHandle missing;
  EXPECT_TRUE(QuantizeImage(missing).IsNull());
}

}  // namespace
}  // namespace rzt2
