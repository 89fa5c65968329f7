// Colour quantization: worked examples of the nearest-colour rules and the
// memo, whole pictures in visiting order, and failures that write nothing.
#include "imaging/quantizer.h"

#include <gtest/gtest.h>

#include <algorithm>
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
      std::count_if(memo, memo + QuantizerWorkArea::kSize, [](uint8_t s) { return s != 0; }));
}

class QuantizerTest : public ::testing::Test {
 protected:
  const ColorPalette fixed_ = MakeFixedPalette();
  QuantizerWorkArea memo_ = QuantizerWorkArea::Create();
};

TEST_F(QuantizerTest, WorkedExamplesWithAFreshMemoOrNone) {
  const struct {
    uint32_t argb;
    uint8_t index;
  } cases[] = {{Opaque(0xFFFFFF), 255}, {Opaque(0xFF0000), 249}, {Opaque(0xFC0000), 40},
               {Opaque(0x000000), 245}, {0x80FF0000, 249},  // alpha 128 counts as opaque
               {0x7FFF0000, 255},       {0x00000000, 255},       {0x000E0E0E, 255}};
  for (const auto& c : cases) {
    QuantizerWorkArea fresh = QuantizerWorkArea::Create();
    QuantizerWorkArea none;
    EXPECT_EQ(NearestIndex(c.argb, fixed_, fresh), c.index) << std::hex << c.argb;
    EXPECT_EQ(NearestIndex(c.argb, fixed_, none), c.index) << std::hex << c.argb;
    // Translucent pixels leave the memo alone.
    EXPECT_EQ(FilledSlots(fresh), AlphaOf(c.argb) < 128 ? 0u : 1u) << std::hex << c.argb;
  }
}

TEST_F(QuantizerTest, TheFirstPixelOfAKeyDecidesForLaterOnesInEitherOrder) {
  EXPECT_EQ(NearestIndex(Opaque(0xFF0000), fixed_, memo_), 249);
  EXPECT_EQ(NearestIndex(Opaque(0xFC0000), fixed_, memo_), 249);
  EXPECT_EQ(memo_.Data()[size_t{0xFF >> 2} * 4096], 249);

  QuantizerWorkArea other = QuantizerWorkArea::Create();
  EXPECT_EQ(NearestIndex(Opaque(0xFC0000), fixed_, other), 40);
  EXPECT_EQ(NearestIndex(Opaque(0xFF0000), fixed_, other), 40);
  // A decided slot answers without a search.
  other.Data()[QuantizerWorkArea::Key(Opaque(0x808080))] = 17;
  EXPECT_EQ(NearestIndex(Opaque(0x838081), fixed_, other), 17);
}

TEST_F(QuantizerTest, SmallPalettesEntryZeroAndTies) {
  const ColorPalette none;
  const ColorPalette one{0, {Opaque(0x102030)}};
  for (const uint32_t rgb : {0x102030u, 0xFFFFFFu, 0x000000u}) {
    EXPECT_EQ(NearestIndex(Opaque(rgb), none, memo_), 0);
    EXPECT_EQ(NearestIndex(Opaque(rgb), one, memo_), 0);
  }
  EXPECT_EQ(NearestIndex(0x7F102030, one, memo_), 255);

  ColorPalette palette{0, std::vector<uint32_t>(256, Opaque(0xFFFFFF))};
  palette.entries[0] = Opaque(0x3F4F5F);
  palette.entries[7] = 0x00405060;  // entry alpha plays no part
  palette.entries[200] = Opaque(0x405060);
  palette.entries[3] = Opaque(0x000010);
  palette.entries[5] = Opaque(0x000030);
  const std::pair<uint32_t, uint8_t> cases[] = {{0x405060, 7}, {0x3F4F5F, 7}, {0x000020, 3}};
  for (const auto& [rgb, index] : cases) {
    QuantizerWorkArea fresh = QuantizerWorkArea::Create();
    EXPECT_EQ(NearestIndex(Opaque(rgb), palette, fresh), index) << std::hex << rgb;
  }
}

ImageHandle ArgbPicture(int32_t width, int32_t height, const std::vector<uint32_t>& pixels) {
  ImageHandle image = ImageHandle::CreateBlank(width, height, PixelFormat::Argb32);
  for (int32_t y = 0; y < height; ++y) {
    std::copy_n(pixels.begin() + static_cast<ptrdiff_t>(y) * width, width,
                reinterpret_cast<uint32_t*>(image.GetBitmap()->MutableRow(y)));
  }
  return image;
}

std::vector<uint8_t> IndexesOf(const ImageHandle& image) {
  const Bitmap& bitmap = *image.GetBitmap();
  std::vector<uint8_t> indexes;
  for (int32_t y = 0; y < bitmap.Height(); ++y)
    indexes.insert(indexes.end(), bitmap.Row(y), bitmap.Row(y) + bitmap.Width());
  return indexes;
}

// NearestIndex of every pixel, rows from the top, with a fresh memo.
std::vector<uint8_t> ExpectedIndexes(const Bitmap& source, const ColorPalette& palette) {
  QuantizerWorkArea memo = QuantizerWorkArea::Create();
  std::vector<uint8_t> indexes;
  for (int32_t y = 0; y < source.Height(); ++y) {
    for (int32_t x = 0; x < source.Width(); ++x)
      indexes.push_back(NearestIndex(source.PixelArgb(x, y), palette, memo));
  }
  return indexes;
}

// A map-like picture with some random, partly translucent pixels mixed in.
ImageHandle NoisyMapPicture(PixelFormat format) {
  std::unique_ptr<Bitmap> bitmap = test::MakeMapLikeBitmap(300, 61, format, 7);
  std::mt19937 random(3);
  for (int i = 0; format == PixelFormat::Argb32 && i < 800; ++i) {
    auto* row = reinterpret_cast<uint32_t*>(bitmap->MutableRow(static_cast<int32_t>(random() % 61)));
    row[random() % 300] = static_cast<uint32_t>(random());
  }
  return ImageHandle(std::move(bitmap));
}

TEST_F(QuantizerTest, EverySourceFormatGivesTheIndexesOfNearestIndex) {
  for (const PixelFormat format : {PixelFormat::Argb32, PixelFormat::Rgb24, PixelFormat::Indexed8}) {
    ImageHandle source = NoisyMapPicture(format);
    QuantizerWorkArea memo = QuantizerWorkArea::Create();
    ImageHandle copy = QuantizedCopy(source, fixed_, memo);
    ASSERT_FALSE(copy.IsNull());
    EXPECT_EQ(copy.GetBitmap()->Palette(), fixed_);
    EXPECT_EQ(IndexesOf(copy), ExpectedIndexes(*source.GetBitmap(), fixed_)) << static_cast<int>(format);
  }
  // QuantizeImage: an indexed picture keeps its palette and, its colours
  // being distinct, its indexes but 0.
  ImageHandle indexed(test::MakeIndexedBitmap(40, 30));
  ImageHandle result = QuantizeImage(indexed);
  EXPECT_EQ(result.GetBitmap()->Palette(), indexed.GetBitmap()->Palette());
  const std::vector<uint8_t> before = IndexesOf(indexed), after = IndexesOf(result);
  for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(after[i], before[i] == 0 ? after[i] : before[i]) << i;
}

// Frames quantized in steps give the indexes of one memo run over them in
// order, however the scans interleave with the commits: here every scan
// comes before any commit (each sees an empty memo), and the frames finish
// last first. Two keys are met first in the earlier frame with a colour
// whose nearest entry differs from the later frame's.
TEST_F(QuantizerTest, FramesQuantizedInStepsGiveTheIndexesOfOneRunInOrder) {
  ImageHandle picture = NoisyMapPicture(PixelFormat::Argb32);
  const Bitmap& whole = *picture.GetBitmap();
  constexpr int32_t kFrameRows = 16;
  std::vector<ImageHandle> frames, expected, indexed;
  QuantizerWorkArea sequential = QuantizerWorkArea::Create();
  for (int32_t top = 0; top < whole.Height(); top += kFrameRows) {
    const int32_t rows = std::min(kFrameRows, whole.Height() - top);
    std::vector<uint32_t> pixels(static_cast<size_t>(whole.Width() * rows));
    for (int32_t y = 0; y < rows; ++y)
      whole.ReadArgb(0, top + y, whole.Width(),
                     &pixels[static_cast<size_t>(y) * static_cast<size_t>(whole.Width())]);
    if (frames.size() == 1) pixels.back() = Opaque(0xFC0000);  // nearest 40; 0xFF0000's is 249
    if (frames.size() == 2) pixels.front() = Opaque(0xFF0000);
    frames.push_back(ArgbPicture(whole.Width(), rows, pixels));
    expected.push_back(QuantizedCopy(frames.back(), fixed_, sequential));
    indexed.push_back(ImageHandle::CreateBlank(whole.Width(), rows, PixelFormat::Indexed8));
  }
  std::vector<FrameQuantizer> steps(frames.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(steps[i].Scan(*frames[i].GetBitmap(), *indexed[i].GetBitmap(), fixed_, memo_), Status::Ok);
  }
  for (const FrameQuantizer& step : steps) step.Commit(memo_);
  for (size_t i = frames.size(); i-- > 0;) {
    steps[i].Finish(*frames[i].GetBitmap(), *indexed[i].GetBitmap(), fixed_, memo_);
    EXPECT_EQ(IndexesOf(indexed[i]), IndexesOf(expected[i])) << "frame " << i;
  }
  EXPECT_EQ(IndexesOf(indexed[2])[0], 40);
  QuantizerWorkArea none;
  EXPECT_EQ(steps[0].Scan(*frames[0].GetBitmap(), *indexed[0].GetBitmap(), fixed_, none),
            Status::InvalidParameter);
  EXPECT_EQ(steps[0].Scan(*indexed[0].GetBitmap(), *indexed[0].GetBitmap(), fixed_, memo_),
            Status::InvalidParameter);
}

// Every failure leaves its status on the handle concerned, writes no pixel
// and leaves both pictures unlocked.
TEST_F(QuantizerTest, FailuresWriteNothingAndKeepTheirCause) {
  const auto prefilled = [](int32_t width, int32_t height, PixelFormat format) {
    ImageHandle image = ImageHandle::CreateBlank(width, height, format);
    for (int32_t y = 0; y < height; ++y)
      std::fill_n(image.GetBitmap()->MutableRow(y), image.GetBitmap()->Stride(), 0x77);
    return image;
  };
  ImageHandle source = ArgbPicture(2, 2, std::vector<uint32_t>(4, Opaque(0x123456)));
  ImageHandle missing;
  QuantizerWorkArea none;
  struct {
    const char* what;
    ImageHandle* source;
    ImageHandle destination;
    QuantizerWorkArea* memo;
    bool lockSource, lockDestination;
    Status sourceStatus, destinationStatus;
  } cases[] = {
      {"destination not indexed", &source, prefilled(2, 2, PixelFormat::Argb32), &memo_, false, false,
       Status::Ok, Status::NotImplemented},
      {"destination too small", &source, prefilled(2, 1, PixelFormat::Indexed8), &memo_, false, false,
       Status::Ok, Status::InvalidParameter},
      {"destination locked", &source, prefilled(2, 2, PixelFormat::Indexed8), &memo_, false, true, Status::Ok,
       Status::WrongState},
      {"source locked", &source, prefilled(2, 2, PixelFormat::Indexed8), &memo_, true, false,
       Status::WrongState, Status::Ok},
      {"no source", &missing, prefilled(2, 2, PixelFormat::Indexed8), &memo_, false, false,
       Status::InvalidParameter, Status::Ok},
      {"no work area", &source, prefilled(2, 2, PixelFormat::Indexed8), &none, false, false, Status::Ok,
       Status::InvalidParameter},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    {
      PixelLock held;
      if (c.lockSource) c.source->LockBits({0, 0, 1, 1}, LockMode::Read, PixelFormat::Argb32, held);
      if (c.lockDestination)
        c.destination.LockBits({0, 0, 1, 1}, LockMode::Read, PixelFormat::Indexed8, held);
      QuantizeInto(*c.source, c.destination, fixed_, *c.memo);
    }
    EXPECT_EQ(c.source->LastStatus(), c.sourceStatus);
    EXPECT_EQ(c.destination.LastStatus(), c.destinationStatus);
    const Bitmap& bitmap = *c.destination.GetBitmap();
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
      EXPECT_TRUE(
          std::all_of(bitmap.Row(y), bitmap.Row(y) + bitmap.Stride(), [](uint8_t b) { return b == 0x77; }));
    }
    PixelLock lock;
    EXPECT_EQ(c.destination.LockBits({0, 0, 1, 1}, LockMode::Read, PixelFormat::Argb32, lock), Status::Ok);
  }
  EXPECT_EQ(FilledSlots(memo_), 0u);
  EXPECT_TRUE(QuantizedCopy(missing, fixed_, memo_).IsNull());
  EXPECT_TRUE(QuantizeImage(missing).IsNull());
}

}  // namespace
}  // namespace rzt2
