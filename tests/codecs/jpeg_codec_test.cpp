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
  // Per channel, on average: thin dark lines ring (3.8 measured).
  for (const auto& map : {test::MakeMapLikeBitmap(128, 96, PixelFormat::Rgb24),
                          test::MakeMapLikeBitmap(61, 43, PixelFormat::Argb32),  // partial blocks
                          test::MakeIndexedBitmap(128, 96)}) {
    const auto back = test::Decoded(DecodeJpeg, Encode(*map));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->Format(), PixelFormat::Rgb24);
    EXPECT_LE(test::MeanRgbDifference(*map, *back), 5.0) << static_cast<int>(map->Format());
  }
}

// libjpeg would fill what is missing with grey and only warn.
TEST(JpegHostileInput, ScansCutShortOrDamagedFail) {
  const auto jpeg = Encode(*test::MakeMapLikeBitmap(64, 64, PixelFormat::Rgb24));
  const size_t sos = FindMarker(jpeg, 0xDA);
  ASSERT_NE(sos, 0u);
  // Cut inside the scan, but ended properly.
  std::vector<uint8_t> cutThenEnd(jpeg.begin(),
                                  jpeg.begin() + static_cast<std::ptrdiff_t>((sos + jpeg.size()) / 2));
  cutThenEnd.insert(cutThenEnd.end(), {0xFF, 0xD9});
  std::vector<uint8_t> extraneous = jpeg;
  extraneous.insert(extraneous.begin() + static_cast<std::ptrdiff_t>(sos), {0x12, 0x34, 0x56});
  std::unique_ptr<Bitmap> out;
  for (const auto* bytes : {&cutThenEnd, &extraneous}) {
    EXPECT_EQ(Decode(*bytes, out), Status::CorruptData) << bytes->size() << " bytes";
  }
  std::vector<uint8_t> newerJfif = jpeg;
  newerJfif[11] = 2;  // an unknown version is no damage
  EXPECT_EQ(Decode(newerJfif, out), Status::Ok);
}

TEST(JpegHostileInput, FrameHeaderSizesAreChecked) {
  auto jpeg = Encode(*test::MakeMapLikeBitmap(40, 30, PixelFormat::Rgb24));
  std::unique_ptr<Bitmap> out;
  const size_t sof = FindMarker(jpeg, 0xC0);
  ASSERT_NE(sof, 0u);
  for (size_t i : {5u, 6u, 7u, 8u}) jpeg[sof + i] = 0xFD;  // 65021 x 65021
  EXPECT_EQ(Decode(jpeg, out), Status::OverPixelCeiling);
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

TEST(JpegHostileInput, EndlessScansFail) {
  std::unique_ptr<Bitmap> out;
  EXPECT_EQ(Decode(ManyScans(), out), Status::CorruptData);
}

}  // namespace
}  // namespace rzt2
