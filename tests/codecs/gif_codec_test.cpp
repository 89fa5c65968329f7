#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <vector>

#include "raster/codecs/codecs.h"
#include "support/test_support.h"

namespace rzt2 {
namespace {

namespace fs = std::filesystem;

const fs::path kGoImageData = "/usr/share/go-1.19/src/image/testdata";

std::vector<uint8_t> EncodeToBytes(const Bitmap& bitmap) {
  ScratchStream stream;
  EXPECT_EQ(EncodeGif(bitmap, stream), Status::Ok);
  return {stream.Data().begin(), stream.Data().end()};
}

Status DecodeStatus(std::span<const uint8_t> bytes, std::unique_ptr<Bitmap>* out = nullptr,
                    const DecodeLimits& limits = {}) {
  std::unique_ptr<Bitmap> bitmap;
  const Status status = DecodeGif(bytes, limits, bitmap);
  EXPECT_EQ(bitmap != nullptr, status == Status::Ok);
  if (out != nullptr) *out = std::move(bitmap);
  return status;
}

std::unique_ptr<Bitmap> DecodeOk(std::span<const uint8_t> bytes) {
  std::unique_ptr<Bitmap> bitmap;
  EXPECT_EQ(DecodeStatus(bytes, &bitmap), Status::Ok);
  return bitmap;
}

ColorPalette GradientPalette(uint32_t count) {
  ColorPalette palette;
  for (uint32_t i = 0; i < count; ++i) {
    palette.entries.push_back(Argb(255, i * 255 / count, (i * 37) & 255, 255 - i * 255 / count));
  }
  return palette;
}

std::unique_ptr<Bitmap> RandomIndexed(int32_t width, int32_t height, const ColorPalette& palette,
                                      uint32_t seed) {
  std::unique_ptr<Bitmap> bitmap;
  EXPECT_EQ(Bitmap::Create(width, height, PixelFormat::Indexed8, bitmap), Status::Ok);
  std::minstd_rand random(seed);
  // Some frames are noise, some flat, some stripes: the prefix must not care.
  const uint32_t mode = seed % 3;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = bitmap->MutableRow(y);
    for (uint32_t x = 0; x < static_cast<uint32_t>(width); ++x) {
      const uint32_t value = mode == 0   ? static_cast<uint32_t>(random())
                             : mode == 1 ? seed
                                         : x / 16 + static_cast<uint32_t>(y) * seed;
      row[x] = static_cast<uint8_t>(value % palette.Count());
    }
  }
  bitmap->SetPalette(palette);
  return bitmap;
}

void ExpectSamePixels(const Bitmap& expected, const Bitmap& actual) {
  ASSERT_EQ(actual.Format(), PixelFormat::Indexed8);
  ASSERT_EQ(actual.Width(), expected.Width());
  ASSERT_EQ(actual.Height(), expected.Height());
  for (int32_t y = 0; y < expected.Height(); ++y) {
    ASSERT_TRUE(std::equal(expected.Row(y), expected.Row(y) + expected.Stride(), actual.Row(y)))
        << "row " << y;
  }
}

TEST(GifRoundTrip, KeepsPixelsAndPowerOfTwoPalettes) {
  ColorPalette transparent = GradientPalette(16);
  transparent.entries[3] = Argb(0, 9, 8, 7);
  transparent.flags = kPaletteHasAlpha;
  for (const ColorPalette& palette :
       {GradientPalette(256), GradientPalette(16), GradientPalette(2), transparent}) {
    SCOPED_TRACE(testing::Message() << palette.Count() << " entries");
    const auto picture = RandomIndexed(37, 21, palette, 3);
    const auto decoded = DecodeOk(EncodeToBytes(*picture));
    ASSERT_NE(decoded, nullptr);
    ExpectSamePixels(*picture, *decoded);
    EXPECT_EQ(decoded->Palette(), palette);
  }
  const auto mapLike = test::MakeIndexedBitmap(160, 160, 9);
  const auto decoded = DecodeOk(EncodeToBytes(*mapLike));
  ASSERT_NE(decoded, nullptr);
  ExpectSamePixels(*mapLike, *decoded);
}

TEST(GifRoundTrip, PadsPalettesWithBlackAndKeepsOnlyFullTransparency) {
  ColorPalette palette = GradientPalette(5);
  palette.entries[1] = Argb(0, 1, 1, 1);
  palette.entries[2] = Argb(0, 2, 2, 2);    // only the first clear entry is transparent
  palette.entries[4] = Argb(100, 4, 4, 4);  // GIF has no partial alpha
  const auto picture = RandomIndexed(8, 8, palette, 0);
  const auto decoded = DecodeOk(EncodeToBytes(*picture));
  ASSERT_NE(decoded, nullptr);
  ExpectSamePixels(*picture, *decoded);
  const std::vector<uint32_t> expected = {palette.entries[0], Argb(0, 1, 1, 1),   Argb(255, 2, 2, 2),
                                          palette.entries[3], Argb(255, 4, 4, 4), Argb(255, 0, 0, 0),
                                          Argb(255, 0, 0, 0), Argb(255, 0, 0, 0)};
  EXPECT_EQ(decoded->Palette().entries, expected);
  EXPECT_EQ(decoded->Palette().flags, kPaletteHasAlpha);
}

TEST(GifRoundTrip, AppendsAtThePositionAndRefusesWhatItCannotWrite) {
  ScratchStream stream;
  ASSERT_EQ(stream.Write("head", 4), Status::Ok);
  const auto picture = test::MakeIndexedBitmap(16, 16);
  ASSERT_EQ(EncodeGif(*picture, stream), Status::Ok);
  const auto decoded = DecodeOk(stream.Data().subspan(4));
  ASSERT_NE(decoded, nullptr);
  ExpectSamePixels(*picture, *decoded);

  const uint64_t size = stream.Size();
  std::unique_ptr<Bitmap> bare;
  ASSERT_EQ(Bitmap::Create(4, 4, PixelFormat::Indexed8, bare), Status::Ok);
  EXPECT_EQ(EncodeGif(*bare, stream), Status::InvalidParameter);
  EXPECT_EQ(EncodeGif(*test::MakeMapLikeBitmap(4, 4, PixelFormat::Rgb24), stream), Status::InvalidParameter);
  EXPECT_EQ(EncodeGif(*test::MakeMapLikeBitmap(4, 4, PixelFormat::Argb32), stream), Status::InvalidParameter);
  EXPECT_EQ(stream.Size(), size);
  EXPECT_EQ(stream.Position(), size);
}

TEST(GifSharedPrefix, FramesOfOneSizeAndPaletteShareTheirFirst784Bytes) {
  ColorPalette transparent = GradientPalette(256);
  transparent.entries[17] = Argb(0, 0, 0, 0);
  transparent.flags = kPaletteHasAlpha;
  for (const ColorPalette& palette : {GradientPalette(256), transparent}) {
    std::vector<uint8_t> first;
    size_t common = SIZE_MAX;
    for (uint32_t seed = 1; seed <= 50; ++seed) {
      const auto file = EncodeToBytes(*RandomIndexed(160, 160, palette, seed));
      if (first.empty()) first = file;
      const auto mismatch = std::mismatch(first.begin(), first.end(), file.begin(), file.end());
      common = std::min(common, static_cast<size_t>(mismatch.first - first.begin()));
    }
    EXPECT_GE(common, 784u);
  }
}

TEST(GifConformance, GoTestPicturesDecode) {
  const auto reference = test::ReadFileBytes(kGoImageData / "video-001.png");
  std::unique_ptr<Bitmap> truth;
  ASSERT_EQ(DecodePng(reference, {}, truth), Status::Ok);

  const auto plain = DecodeOk(test::ReadFileBytes(kGoImageData / "video-001.gif"));
  const auto interlaced = DecodeOk(test::ReadFileBytes(kGoImageData / "video-001.interlaced.gif"));
  const auto fewColors = DecodeOk(test::ReadFileBytes(kGoImageData / "video-001.5bpp.gif"));
  ASSERT_TRUE(plain && interlaced && fewColors);
  for (const Bitmap* decoded : {plain.get(), interlaced.get(), fewColors.get()}) {
    ASSERT_EQ(decoded->Width(), truth->Width());
    ASSERT_EQ(decoded->Height(), truth->Height());
  }
  ExpectSamePixels(*plain, *interlaced);
  EXPECT_EQ(plain->Palette(), interlaced->Palette());
  EXPECT_EQ(plain->Palette().Count(), 256u);
  EXPECT_EQ(fewColors->Palette().Count(), 32u);
  // The tolerances Go's decode_test.go allows for these files.
  EXPECT_LE(test::MaxChannelDifference(*truth, *plain), 64);
  EXPECT_LE(test::MaxChannelDifference(*truth, *interlaced), 64);
  EXPECT_LE(test::MaxChannelDifference(*truth, *fewColors), 128);

  const auto triangle = DecodeOk(test::ReadFileBytes(kGoImageData / "triangle-001.gif"));
  ASSERT_NE(triangle, nullptr);
  EXPECT_EQ(triangle->Width(), 256);
  EXPECT_EQ(triangle->Height(), 128);
  EXPECT_EQ(triangle->Palette().Count(), 256u);
}

// A file of our own encoder with its fields at known places: a 4-entry
// colour table, so the image descriptor follows at 13 + 12 + 8.
class HandMadeGif {
 public:
  explicit HandMadeGif(bool transparentEntry = false) {
    ColorPalette palette = GradientPalette(4);
    if (transparentEntry) palette.entries[0] = Argb(0, 0, 0, 0);
    std::unique_ptr<Bitmap> picture;
    EXPECT_EQ(Bitmap::Create(4, 3, PixelFormat::Indexed8, picture), Status::Ok);
    for (int32_t y = 0; y < 3; ++y) std::fill_n(picture->MutableRow(y), 4, 2 + y % 2);
    picture->SetPalette(palette);
    bytes = EncodeToBytes(*picture);
  }
  void Put16(size_t at, int value) {
    bytes[at] = static_cast<uint8_t>(value & 255);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
  }
  void SetScreen(int width, int height) {
    Put16(6, width);
    Put16(8, height);
  }
  void SetImage(int left, int top, int width, int height) {
    Put16(kImage + 1, left);
    Put16(kImage + 3, top);
    Put16(kImage + 5, width);
    Put16(kImage + 7, height);
  }

  static constexpr size_t kImage = 13 + 12 + 8;
  std::vector<uint8_t> bytes;
};

TEST(GifDecode, PixelsOutsideTheImageTakeTransparentOrBackgroundIndex) {
  for (const bool transparent : {false, true}) {
    SCOPED_TRACE(transparent ? "transparent" : "opaque");
    HandMadeGif gif(transparent);
    gif.SetScreen(8, 6);
    gif.SetImage(2, 1, 4, 3);
    gif.bytes[11] = 1;  // background index
    const auto bitmap = DecodeOk(gif.bytes);
    ASSERT_NE(bitmap, nullptr);
    ASSERT_EQ(bitmap->Width(), 8);
    ASSERT_EQ(bitmap->Height(), 6);
    const int outside = transparent ? 0 : 1;
    for (int32_t y = 0; y < 6; ++y) {
      for (int32_t x = 0; x < 8; ++x) {
        const bool inside = x >= 2 && x < 6 && y >= 1 && y < 4;
        EXPECT_EQ(bitmap->Row(y)[x], inside ? 2 + (y - 1) % 2 : outside) << x << "," << y;
      }
    }
    EXPECT_EQ(bitmap->Palette().flags, transparent ? kPaletteHasAlpha : 0u);
  }
}

TEST(GifDecode, LocalColorTableWinsOverTheGlobalOne) {
  HandMadeGif gif;
  const std::vector<uint8_t> local = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  gif.bytes[HandMadeGif::kImage + 9] |= 0x81;  // a local table of 4 entries follows
  gif.bytes.insert(gif.bytes.begin() + HandMadeGif::kImage + 10, local.begin(), local.end());
  const auto bitmap = DecodeOk(gif.bytes);
  ASSERT_NE(bitmap, nullptr);
  const std::vector<uint32_t> expected = {Argb(255, 1, 2, 3), Argb(255, 4, 5, 6), Argb(255, 7, 8, 9),
                                          Argb(255, 10, 11, 12)};
  EXPECT_EQ(bitmap->Palette().entries, expected);
  EXPECT_EQ(bitmap->Row(0)[0], 2);
}

TEST(GifHostileInput, ImpossibleGeometryIsRefused) {
  struct Case {
    const char* name;
    int screenWidth, screenHeight, left, top, width, height;
    Status expected;
  };
  for (const Case& c : {
           Case{"image wider than screen", 3, 3, 0, 0, 4, 3, Status::CorruptData},
           Case{"image past the bottom", 4, 3, 0, 1, 4, 3, Status::CorruptData},
           Case{"image past the right", 8, 8, 5, 0, 4, 3, Status::CorruptData},
           Case{"zero-height image", 4, 3, 0, 0, 4, 0, Status::CorruptData},
           Case{"zero-width screen", 0, 3, 0, 0, 4, 3, Status::CorruptData},
           Case{"huge screen", 65535, 65535, 0, 0, 4, 3, Status::TooLarge},
       }) {
    SCOPED_TRACE(c.name);
    HandMadeGif gif;
    gif.SetScreen(c.screenWidth, c.screenHeight);
    gif.SetImage(c.left, c.top, c.width, c.height);
    EXPECT_EQ(DecodeStatus(gif.bytes), c.expected);
  }
  HandMadeGif gif;
  EXPECT_EQ(DecodeStatus(gif.bytes, nullptr, DecodeLimits{11}), Status::TooLarge);
  EXPECT_EQ(DecodeStatus(gif.bytes, nullptr, DecodeLimits{12}), Status::Ok);
}

TEST(GifHostileInput, MissingPartsAreRefused) {
  HandMadeGif noColorMap;
  noColorMap.bytes[10] &= 0x7F;  // no global table, and the image has none
  noColorMap.bytes.erase(noColorMap.bytes.begin() + 13, noColorMap.bytes.begin() + 25);
  EXPECT_EQ(DecodeStatus(noColorMap.bytes), Status::CorruptData);

  HandMadeGif noImage;
  noImage.bytes.resize(HandMadeGif::kImage);
  noImage.bytes.push_back(';');
  EXPECT_EQ(DecodeStatus(noImage.bytes), Status::CorruptData);

  HandMadeGif badRecord;
  badRecord.bytes[HandMadeGif::kImage] = 'x';
  EXPECT_EQ(DecodeStatus(badRecord.bytes), Status::CorruptData);

  const std::vector<uint8_t> garbage = {0x89, 'P', 'N', 'G', 1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(DecodeStatus(garbage), Status::UnknownImageFormat);
  EXPECT_EQ(DecodeStatus({}), Status::UnknownImageFormat);
}

TEST(GifHostileInput, EveryTruncationFails) {
  // Only the final trailer byte may go: the picture is complete without it.
  const auto ours = EncodeToBytes(*test::MakeIndexedBitmap(24, 24));
  for (size_t length = 0; length + 1 < ours.size(); ++length) {
    ASSERT_EQ(DecodeStatus(std::span(ours).first(length)),
              length < 6 ? Status::UnknownImageFormat : Status::CorruptData)
        << "length " << length;
  }
  const auto interlaced = test::ReadFileBytes(kGoImageData / "video-001.interlaced.gif");
  ASSERT_GT(interlaced.size(), 1000u);
  for (size_t length = 6; length + 1 < interlaced.size(); length += 97) {
    ASSERT_EQ(DecodeStatus(std::span(interlaced).first(length)), Status::CorruptData) << "length " << length;
  }
}

TEST(GifHostileInput, DamagedBytesNeverCrash) {
  // LZW data carries no checksum, so damage may well decode; it must stay inside the picture.
  const auto original = EncodeToBytes(*test::MakeIndexedBitmap(20, 20));
  std::mt19937 random(11);
  for (size_t at = 6; at < original.size(); ++at) {
    std::vector<uint8_t> damaged = original;
    damaged[at] ^= static_cast<uint8_t>(1 + random() % 255);
    std::unique_ptr<Bitmap> bitmap;
    if (DecodeStatus(damaged, &bitmap) == Status::Ok) {
      EXPECT_EQ(bitmap->Width(), damaged[6] | damaged[7] << 8);
      EXPECT_EQ(bitmap->Height(), damaged[8] | damaged[9] << 8);
    }
  }
}

}  // namespace
}  // namespace rzt2
