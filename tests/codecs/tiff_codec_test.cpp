// TIFF beyond what every codec promises: the tags written, variants that
// only libtiff writes, and headers that lie.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <functional>
#include <tuple>
#include <vector>

#include "support/test_support.h"

namespace rzt2 {
namespace {

Status Decode(std::span<const uint8_t> bytes, std::unique_ptr<Bitmap>& out, const DecodeLimits& limits = {}) {
  return test::DecodeWith(DecodeTiff, bytes, out, limits);
}

template <typename T>
T TagOf(const std::vector<uint8_t>& bytes, uint32_t tag) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "picture.tif", bytes);
  TIFF* tif = TIFFOpen((dir / "picture.tif").c_str(), "r");
  T value{};
  EXPECT_EQ(TIFFGetField(tif, tag, &value), 1) << tag;
  TIFFClose(tif);
  return value;
}

TEST(TiffEncode, WritesLzwPalettesAndAlpha) {
  const auto indexed = test::Encode(EncodeTiff, *test::MakeIndexedBitmap(9, 5));
  EXPECT_EQ(TagOf<uint16_t>(indexed, TIFFTAG_COMPRESSION), COMPRESSION_LZW);
  EXPECT_EQ(TagOf<uint16_t>(indexed, TIFFTAG_PHOTOMETRIC), PHOTOMETRIC_PALETTE);
  const auto argb = test::Encode(EncodeTiff, *test::MakeMapLikeBitmap(9, 5, PixelFormat::Argb32));
  EXPECT_EQ(TagOf<uint16_t>(argb, TIFFTAG_SAMPLESPERPIXEL), 4);
}

TEST(TiffDecode, OldPalettesOrientationAndAssociatedAlpha) {
  // 4-bit palette with an 8-bit colour map, stored bottom row first.
  const auto palette = test::WriteWithLibtiff([](TIFF* tif) {
    std::vector<uint16_t> red(16), green(16), blue(16);
    for (uint16_t i = 0; i < 16; ++i) std::tie(red[i], green[i], blue[i]) = std::tuple(i * 10, 255 - i, i);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 3);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 2);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 4);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_BOTLEFT);
    TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    uint8_t rows[2][2] = {{0x12, 0x30}, {0x45, 0x60}};
    for (uint32_t y = 0; y < 2; ++y) TIFFWriteScanline(tif, rows[y], y, 0);
  });
  std::unique_ptr<Bitmap> out;
  ASSERT_EQ(Decode(palette, out), Status::Ok);
  ASSERT_EQ(out->Format(), PixelFormat::Indexed8);
  EXPECT_EQ(std::vector<uint8_t>(out->Row(0), out->Row(0) + 3), (std::vector<uint8_t>{4, 5, 6}));
  EXPECT_EQ(std::vector<uint8_t>(out->Row(1), out->Row(1) + 3), (std::vector<uint8_t>{1, 2, 3}));
  ASSERT_EQ(out->Palette().Count(), 16u);
  EXPECT_EQ(out->Palette().entries[5], Argb(255, 50, 250, 5));

  // Premultiplied alpha comes back straight.
  const auto associated = test::WriteWithLibtiff([](TIFF* tif) {
    const uint16_t extra = EXTRASAMPLE_ASSOCALPHA;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 1);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 1);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    uint8_t pixel[4] = {50, 25, 0, 128};
    TIFFWriteScanline(tif, pixel, 0, 0);
  });
  ASSERT_EQ(Decode(associated, out), Status::Ok);
  ASSERT_EQ(out->Format(), PixelFormat::Argb32);
  EXPECT_EQ(out->PixelArgb(0, 0), Argb(128, 100, 50, 0));
}

// An 8-bit grey TIFF with one strip, built by hand so that any field can lie.
std::vector<uint8_t> GreyTiff(uint32_t width, uint32_t height, uint32_t offset, uint32_t byteCount,
                              uint32_t stripCount = 1, uint32_t compression = COMPRESSION_NONE) {
  const std::vector<std::tuple<uint16_t, uint16_t, uint32_t, uint32_t>> entries = {
      {256, 4, 1, width},       {257, 4, 1, height}, {258, 3, 1, 8},
      {259, 3, 1, compression}, {262, 3, 1, 1},      {273, 4, stripCount, offset},
      {277, 3, 1, 1},           {278, 4, 1, height}, {279, 4, stripCount, byteCount}};
  std::vector<uint8_t> out = {'I', 'I', 42, 0, 8, 0, 0, 0, static_cast<uint8_t>(entries.size()), 0};
  auto put = [&out](uint32_t v, int size) {
    for (int i = 0; i < size; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  for (auto [tag, type, count, value] : entries) {
    put(tag, 2);
    put(type, 2);
    put(count, 4);
    put(value, 4);
  }
  put(0, 4);
  out.resize(out.size() + 64, 0x55);  // room for an 8x8 strip
  return out;
}

TEST(TiffHostileInput, LyingHeadersFailQuietlyWithAStatus) {
  std::unique_ptr<Bitmap> out;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Decode(GreyTiff(8, 8, 122, 64), out), Status::Ok);
  EXPECT_EQ(Decode(GreyTiff(100000, 100000, 122, 64), out), Status::OverPixelCeiling);
  EXPECT_EQ(Decode(GreyTiff(8, 8, 0xFFFFFF00, 64), out), Status::CorruptData);
  EXPECT_EQ(Decode(GreyTiff(8, 8, 122, 0xFFFFFFFF, 1, COMPRESSION_LZW), out), Status::CorruptData);
  EXPECT_EQ(Decode(GreyTiff(8, 8, 0x100, 64, 0x10000000), out), Status::CorruptData);
  EXPECT_EQ(Decode(GreyTiff(3000, 3000, 122, 64), out, {.maxPixels = 1 << 24}), Status::CorruptData);
  EXPECT_EQ(Decode(GreyTiff(0, 8, 122, 64), out), Status::CorruptData);
  const std::vector<uint8_t> garbage = {'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3};
  EXPECT_EQ(Decode(garbage, out), Status::CorruptData);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace rzt2
