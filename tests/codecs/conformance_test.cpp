// Our BMP, TIFF and JPEG decoders against the pictures and reference PNGs
// that Debian ships with the Go sources (golang-golang-x-image-dev,
// golang-1.19-src). The references are decoded with our PNG decoder.
//
// Tolerances, per channel on 0..255:
//  - BMP and TIFF: none; every pixel must match (video-001-paletted.tiff,
//    quantized, only 5 on average against the original).
//  - JPEG against the PNG that Go decoded from the same file: 2 on average
//    and 40 at worst, since Go upsamples chroma and rounds its IDCT
//    differently from libjpeg (video-001.rgb.jpeg: 5 and 100).
//  - JPEG variants (quality 50, other subsamplings, progressive) against
//    the lossless original: 8 on average.
// video-001.progressive.truncated.jpeg is not cut inside a scan: it ends
// with an end marker after its first scans, so it decodes.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "raster/codecs/codecs.h"
#include "support/test_support.h"

namespace rzt2 {
namespace {

namespace fs = std::filesystem;

const fs::path kXImage = "/usr/share/gocode/src/golang.org/x/image/testdata";
const fs::path kGoImage = "/usr/share/go-1.19/src/image/testdata";

struct Difference {
  double mean = 0;
  int max = 0;
};

// Per channel, RGB only: our decoders give opaque pictures as Rgb24.
Difference Compare(const Bitmap& a, const Bitmap& b) {
  std::vector<uint32_t> rowA(static_cast<size_t>(a.Width())), rowB(rowA.size());
  Difference d;
  double sum = 0;
  for (int32_t y = 0; y < a.Height(); ++y) {
    a.ReadArgb(0, y, a.Width(), rowA.data());
    b.ReadArgb(0, y, b.Width(), rowB.data());
    for (size_t x = 0; x < rowA.size(); ++x) {
      for (int shift = 0; shift < 24; shift += 8) {
        const int diff =
            std::abs(static_cast<int>((rowA[x] >> shift) & 255) - static_cast<int>((rowB[x] >> shift) & 255));
        sum += diff;
        d.max = std::max(d.max, diff);
      }
    }
  }
  d.mean = sum / (3.0 * a.Width() * a.Height());
  return d;
}

class Conformance : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kXImage) || !fs::exists(kGoImage)) GTEST_SKIP() << "Go test pictures not installed";
  }

  // The reference picture, or null with the test skipped while our PNG
  // decoder is not there yet.
  std::unique_ptr<Bitmap> Reference(const fs::path& png) {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(png);
    std::unique_ptr<Bitmap> bitmap;
    const Status status = DecodePng(bytes, {}, bitmap);
    if (status == Status::NotImplemented) return nullptr;
    EXPECT_EQ(status, Status::Ok) << png;
    return bitmap;
  }

  std::unique_ptr<Bitmap> Decode(DecodeFunction decode, const fs::path& file) {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(file);
    EXPECT_FALSE(bytes.empty()) << file;
    std::unique_ptr<Bitmap> bitmap;
    EXPECT_EQ(decode(bytes, {}, bitmap), Status::Ok) << file;
    return bitmap;
  }

  void ExpectIdentical(DecodeFunction decode, const fs::path& file, const fs::path& png) {
    auto reference = Reference(png);
    if (!reference) GTEST_SKIP() << "DecodePng not implemented yet";
    auto actual = Decode(decode, file);
    ASSERT_TRUE(reference && actual) << file;
    EXPECT_EQ(test::MaxChannelDifference(*reference, *actual), 0) << file;
  }

  void ExpectClose(DecodeFunction decode, const fs::path& file, const fs::path& png, double mean, int max) {
    auto reference = Reference(png);
    if (!reference) GTEST_SKIP() << "DecodePng not implemented yet";
    auto actual = Decode(decode, file);
    ASSERT_TRUE(reference && actual) << file;
    ASSERT_EQ(actual->Width(), reference->Width()) << file;
    ASSERT_EQ(actual->Height(), reference->Height()) << file;
    const Difference d = Compare(*reference, *actual);
    EXPECT_LE(d.mean, mean) << file;
    EXPECT_LE(d.max, max) << file;
  }
};

TEST_F(Conformance, BmpMatchesReferences) {
  for (const char* name : {"colormap", "video-001", "yellow_rose-small", "yellow_rose-small-v5"}) {
    ExpectIdentical(DecodeBmp, kXImage / (std::string(name) + ".bmp"),
                    kXImage / (std::string(name) + ".png"));
  }
  auto colormap = Decode(DecodeBmp, kXImage / "colormap.bmp");
  ASSERT_TRUE(colormap);
  EXPECT_EQ(colormap->Format(), PixelFormat::Indexed8);
  EXPECT_EQ(colormap->Palette().Count(), 256u);
  // A V5 header with an alpha mask and real alpha; a plain header's 4th byte is not alpha.
  EXPECT_EQ(Decode(DecodeBmp, kXImage / "yellow_rose-small-v5.bmp")->Format(), PixelFormat::Argb32);
  EXPECT_EQ(Decode(DecodeBmp, kXImage / "yellow_rose-small.bmp")->Format(), PixelFormat::Rgb24);
}

TEST_F(Conformance, TiffMatchesReferences) {
  for (const char* name : {"video-001.tiff", "video-001-strip-64.tiff", "video-001-tile-64x64.tiff",
                           "video-001-16bit.tiff", "video-001-uncompressed.tiff"}) {
    ExpectIdentical(DecodeTiff, kXImage / name, kXImage / "video-001.png");
  }
  ExpectIdentical(DecodeTiff, kXImage / "blue-purple-pink.lzwcompressed.tiff",
                  kXImage / "blue-purple-pink.png");
  for (const char* name : {"bw-uncompressed.tiff", "bw-deflate.tiff", "bw-packbits.tiff",
                           "bw-gopher_ccittGroup3.tiff", "bw-gopher_ccittGroup4.tiff"}) {
    ExpectIdentical(DecodeTiff, kXImage / name, kXImage / "bw-gopher.png");
  }
}

TEST_F(Conformance, TiffVariantsAgreeWithEachOther) {
  auto gray = Decode(DecodeTiff, kXImage / "video-001-gray.tiff");
  auto gray16 = Decode(DecodeTiff, kXImage / "video-001-gray-16bit.tiff");
  ASSERT_TRUE(gray && gray16);
  EXPECT_EQ(test::MaxChannelDifference(*gray, *gray16), 0);
  EXPECT_EQ(gray->PixelArgb(40, 40) & 0xFF, (gray->PixelArgb(40, 40) >> 8) & 0xFF);

  // Quantized to 256 colours, so only close to the original.
  auto paletted = Decode(DecodeTiff, kXImage / "video-001-paletted.tiff");
  ASSERT_TRUE(paletted);
  EXPECT_EQ(paletted->Format(), PixelFormat::Indexed8);
  EXPECT_EQ(paletted->Palette().Count(), 256u);
  auto reference = Reference(kXImage / "video-001.png");
  if (reference) {
    EXPECT_LE(Compare(*reference, *paletted).mean, 5.0);
  }

  // Neither has a RowsPerStrip or Compression tag; both hold the same picture.
  auto noRps = Decode(DecodeTiff, kXImage / "no_rps.tiff");
  auto noCompress = Decode(DecodeTiff, kXImage / "no_compress.tiff");
  ASSERT_TRUE(noRps && noCompress);
  EXPECT_EQ(noRps->Format(), PixelFormat::Argb32);
  EXPECT_EQ(test::MaxChannelDifference(*noRps, *noCompress), 0);
}

TEST_F(Conformance, JpegMatchesGoDecodingOfTheSameFile) {
  for (const char* name :
       {"video-001.221212", "video-001.cmyk", "video-005.gray", "video-001.progressive.truncated"}) {
    ExpectClose(DecodeJpeg, kGoImage / (std::string(name) + ".jpeg"), kGoImage / (std::string(name) + ".png"),
                2.0, 40);
  }
  // Its G and B planes are subsampled: Go repeats their pixels, libjpeg interpolates.
  ExpectClose(DecodeJpeg, kGoImage / "video-001.rgb.jpeg", kGoImage / "video-001.rgb.png", 5.0, 100);
}

TEST_F(Conformance, JpegVariantsStayCloseToTheOriginal) {
  for (const char* name :
       {"video-001.jpeg", "video-001.progressive.jpeg", "video-001.q50.410.jpeg", "video-001.q50.411.jpeg",
        "video-001.q50.420.jpeg", "video-001.q50.422.jpeg", "video-001.q50.440.jpeg",
        "video-001.q50.444.jpeg", "video-001.q50.410.progressive.jpeg", "video-001.q50.411.progressive.jpeg",
        "video-001.q50.420.progressive.jpeg", "video-001.q50.422.progressive.jpeg",
        "video-001.q50.440.progressive.jpeg", "video-001.q50.444.progressive.jpeg",
        "video-001.separate.dc.progression.jpeg", "video-001.separate.dc.progression.progressive.jpeg"}) {
    ExpectClose(DecodeJpeg, kGoImage / name, kGoImage / "video-001.png", 8.0, 255);
  }
  for (const char* name :
       {"video-005.gray.q50.jpeg", "video-005.gray.q50.2x2.jpeg", "video-005.gray.q50.progressive.jpeg",
        "video-005.gray.q50.2x2.progressive.jpeg"}) {
    ExpectClose(DecodeJpeg, kGoImage / name, kGoImage / "video-005.gray.png", 8.0, 255);
  }
}

}  // namespace
}  // namespace rzt2
