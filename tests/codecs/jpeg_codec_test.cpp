// JPEG beyond what every codec promises: closeness after a round trip, and
// frame headers and scans that lie.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "hostile/hostile_files.h"
#include "support/test_support.h"

namespace rzt2 {
namespace {

std::vector<uint8_t> Encode(const Bitmap& bitmap) { return test::Encode(EncodeJpeg, bitmap); }

Status Decode(std::span<const uint8_t> bytes, std::unique_ptr<Bitmap>& out) {
  return test::DecodeWith(DecodeJpeg, bytes, out);
}

// Gentle gradients, where quality 75 loses little.
std::unique_ptr<Bitmap> Smooth(int32_t width, int32_t height, PixelFormat format) {
  std::unique_ptr<Bitmap> bitmap;
  EXPECT_EQ(Bitmap::Create(width, height, format, bitmap), Status::Ok);
  const size_t step = static_cast<size_t>(BytesPerPixel(format));
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = bitmap->MutableRow(y) + static_cast<size_t>(x) * step;
      p[0] = static_cast<uint8_t>(60 + x * 120 / width);
      p[1] = static_cast<uint8_t>(90 + y * 100 / height);
      p[2] = static_cast<uint8_t>(200 - (x + y) * 80 / (width + height));
      if (step == 4) p[3] = static_cast<uint8_t>(x * 7);  // dropped by the encoder
    }
  }
  return bitmap;
}

// The byte offset of the first marker `code` after SOI, or 0.
size_t FindMarker(const std::vector<uint8_t>& jpeg, uint8_t code) {
  for (size_t i = 2; i + 3 < jpeg.size();) {
    if (jpeg[i] != 0xFF) return 0;
    if (jpeg[i + 1] == code) return i;
    if (jpeg[i + 1] == 0xDA) return 0;  // image data follows
    i += 2 + static_cast<size_t>(jpeg[i + 2] << 8 | jpeg[i + 3]);
  }
  return 0;
}

TEST(JpegRoundTrip, StaysCloseForEveryPixelFormat) {
  // Per channel: 8 at worst on smooth pictures (5 measured); on average 5 on
  // map-like ones, whose thin dark lines ring (3.8 measured, 3.7 from
  // palette colours).
  const auto opaque = Smooth(61, 43, PixelFormat::Rgb24);  // partial blocks on both edges
  for (PixelFormat format : {PixelFormat::Rgb24, PixelFormat::Argb32}) {
    const auto back = test::Decoded(DecodeJpeg, Encode(*Smooth(61, 43, format)));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->Format(), PixelFormat::Rgb24);
    EXPECT_LE(test::MaxChannelDifference(*opaque, *back), 8);
  }
  for (const auto& map :
       {test::MakeMapLikeBitmap(128, 96, PixelFormat::Rgb24), test::MakeIndexedBitmap(128, 96)}) {
    const auto back = test::Decoded(DecodeJpeg, Encode(*map));
    ASSERT_NE(back, nullptr);
    EXPECT_LE(test::MeanRgbDifference(*map, *back), 5.0) << static_cast<int>(map->Format());
  }
}

// libjpeg would fill what is missing with grey and only warn.
TEST(JpegHostileInput, ScansCutShortOrDamagedFail) {
  const auto jpeg = Encode(*Smooth(64, 64, PixelFormat::Rgb24));
  const size_t sos = FindMarker(jpeg, 0xDA);
  ASSERT_NE(sos, 0u);
  std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>((sos + jpeg.size()) / 2));
  std::vector<uint8_t> cutThenEnd = cut;
  cutThenEnd.insert(cutThenEnd.end(), {0xFF, 0xD9});
  std::vector<uint8_t> extraneous = jpeg;
  extraneous.insert(extraneous.begin() + static_cast<std::ptrdiff_t>(sos), {0x12, 0x34, 0x56});
  std::unique_ptr<Bitmap> out;
  for (const auto* bytes : {&cut, &cutThenEnd, &extraneous}) {
    EXPECT_EQ(Decode(*bytes, out), Status::CorruptData) << bytes->size() << " bytes";
  }
  std::vector<uint8_t> newerJfif = jpeg;
  newerJfif[11] = 2;  // an unknown version is no damage
  EXPECT_EQ(Decode(newerJfif, out), Status::Ok);
}

TEST(JpegHostileInput, FrameHeaderSizesAreChecked) {
  auto jpeg = Encode(*Smooth(40, 30, PixelFormat::Rgb24));
  std::unique_ptr<Bitmap> out;
  const size_t sof = FindMarker(jpeg, 0xC0);
  ASSERT_NE(sof, 0u);
  for (size_t i : {5u, 6u, 7u, 8u}) jpeg[sof + i] = 0xFD;  // 65021 x 65021
  EXPECT_EQ(Decode(jpeg, out), Status::OverPixelCeiling);
  jpeg[sof + 5] = jpeg[sof + 6] = 0;  // zero rows
  EXPECT_EQ(Decode(jpeg, out), Status::CorruptData);
}

// Hand-made progressive file with 568 valid scans: one coefficient at a time,
// refined bit by bit. The decoder gives up after 500 scans.
std::vector<uint8_t> ManyScans() {
  std::vector<jpeg_scan_info> scans;
  scans.push_back({1, {0}, 0, 0, 0, 0});
  for (int k = 1; k < 64; ++k) {
    scans.push_back({1, {0}, k, k, 0, 8});
    for (int al = 7; al >= 0; --al) scans.push_back({1, {0}, k, k, al + 1, al});
  }
  return test::CompressJpeg(8, 8, 1, [&scans](jpeg_compress_struct& cinfo) {
    cinfo.scan_info = scans.data();
    cinfo.num_scans = static_cast<int>(scans.size());
  });
}

TEST(JpegHostileInput, EndlessScansAndGarbageAfterTheMarkerFail) {
  std::unique_ptr<Bitmap> out;
  EXPECT_EQ(Decode(ManyScans(), out), Status::CorruptData);
  std::vector<uint8_t> garbage = {0xFF, 0xD8};
  for (int i = 0; i < 300; ++i) garbage.push_back(static_cast<uint8_t>(i * 37));
  EXPECT_EQ(Decode(garbage, out), Status::CorruptData);
}

}  // namespace
}  // namespace rzt2
