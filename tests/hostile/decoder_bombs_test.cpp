// Decompression bombs: a few bytes claiming a picture of hundreds of
// megapixels, or of a shape whose decoding buffers dwarf its pixels, must
// fail with a status before the picture or the buffers are allocated, or
// stay within the limits; through a conversion, they fail as files that
// cannot be loaded.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <cstring>

#include "hostile/hostile_files.h"
#include "hostile/hostile_support.h"
#include "jobs/job_runner.h"
#include "raster/codecs/image_formats.h"
#include "support/test_support.h"

namespace rzt2 {
namespace {

using test::Bytes;

constexpr size_t kSmallAllocation = size_t{1} << 20;

// DecodeImage's status, with the largest allocation it made.
std::pair<Status, size_t> Decode(const Bytes& bytes, const DecodeLimits& limits = {}) {
  Status status = Status::Ok;
  const size_t largest = test::LargestAllocationDuring([&] {
    std::unique_ptr<Bitmap> out;
    status = DecodeImage(bytes, limits, out);
  });
  return {status, largest};
}

// An RGB TIFF of 8 or 16 bits per sample (the 16-bit one goes through
// libtiff's RGBA reader, in bands) with the given orientation.
Bytes RgbTiff(uint32_t width, uint32_t height, uint16_t bits, uint16_t orientation,
              uint32_t rowsPerStrip = 3) {
  return test::WriteWithLibtiff([&](TIFF* tif) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    const size_t bytes = bits / 8;
    Bytes row(size_t{width} * 3 * bytes);
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t i = 0; i < width * 3; ++i) {
        const uint32_t v = (i / 3 * 7 + y * 13 + i % 3 * 80) % 256 * (bits == 16 ? 257 : 1);
        std::memcpy(&row[i * bytes], &v, bytes);  // little-endian host
      }
      TIFFWriteScanline(tif, row.data(), y, 0);
    }
  });
}

TEST(DecoderBombTest, TiffsBeyondEightBitsDecodeInBandsWithoutASecondCopy) {
  for (uint16_t orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE(testing::Message() << "orientation " << orientation);
    std::unique_ptr<Bitmap> direct, banded;
    ASSERT_EQ(DecodeImage(RgbTiff(20, 35, 8, orientation), {}, direct), Status::Ok);
    ASSERT_EQ(DecodeImage(RgbTiff(20, 35, 16, orientation), {}, banded), Status::Ok);
    EXPECT_EQ(test::MaxChannelDifference(*direct, *banded), 0);
  }
  // The picture is the one large block: no RGBA copy of the whole of it.
  const Bytes tiff = RgbTiff(512, 512, 16, 1);
  std::unique_ptr<Bitmap> out;
  const size_t largest =
      test::LargestAllocationDuring([&] { ASSERT_EQ(DecodeImage(tiff, {}, out), Status::Ok); });
  EXPECT_EQ(largest, size_t{512} * 512 * 3);
}

// A few bytes claiming hundreds of megapixels, and shapes within the pixel
// limit whose decoders' buffers are not (rows of 8 bytes a pixel in libpng,
// a strip as large as the picture in libtiff's RGBA reader, the
// coefficients of a progressive JPEG): refused at the header, or failing on
// the missing data, with every block small; what is let through keeps every
// block within the byte limit.
TEST(DecoderBombTest, HeadersClaimingFarMoreThanTheFileHolds) {
  const DecodeLimits shapes{.maxPixels = 1 << 20, .maxBytes = 4 << 20};
  std::vector<std::tuple<std::string, Bytes, DecodeLimits, Status>> cases = {
      {"PNG over the pixel ceiling", test::PngHeader(65536, 32769), {}, Status::OverPixelCeiling},
      // At the ceiling: 8 GiB of pixels that 45 bytes cannot inflate to.
      {"PNG at the pixel ceiling", test::PngHeader(65536, 32768), {}, Status::CorruptData},
      {"PNG of 0 x 10", test::PngHeader(0, 10), {}, Status::CorruptData},
      {"PNG of 2^31 x 1", test::PngHeader(0x80000000u, 1), {}, Status::CorruptData},
      {"TIFF of 8 x 8", test::GreyTiff(8, 8, COMPRESSION_NONE), {}, Status::Ok},
      // 256 megapixels fit libjpeg's memory cap and fail on the missing scans;
      // 900 megapixels of coefficients do not fit it.
      {"progressive JPEG of 16000 x 16000", test::JpegClaiming(16000, 16000, true), {}, Status::CorruptData},
      {"progressive JPEG of 30000 x 30000", test::JpegClaiming(30000, 30000, true), {}, Status::TooLarge},
      {"PNG of 1M x 1", test::ZeroPng(1 << 20, 1, 8, 4), shapes, Status::TooLarge},
      {"PNG of 1 x 1M", test::ZeroPng(1, 1 << 20, 8, 0), shapes, Status::Ok},  // no array of row pointers
      {"TIFF of one strip", RgbTiff(1024, 1024, 16, 1, 1024), shapes, Status::TooLarge},
      {"progressive JPEG of 1024 x 1024", test::JpegClaiming(1024, 1024, true), shapes, Status::TooLarge},
      {"JPEG 2000 over the pixel ceiling",
       test::Jpeg2000Claiming(100000, 100000, 1024),
       {},
       Status::OverPixelCeiling},
      // OpenJPEG would hold the one tile in 32-bit samples.
      {"JPEG 2000 of one 40000 x 40000 tile",
       test::Jpeg2000Claiming(40000, 40000, 40000),
       {},
       Status::TooLarge},
      {"JPEG 2000 of 1024 x 1024 tiles, no data", test::Jpeg2000Claiming(40000, 40000, 1024), shapes,
       Status::TooLarge},
      {"JPEG 2000 of 16 x 16, no data", test::Jpeg2000Claiming(16, 16, 16), {}, Status::CorruptData},
  };
  for (const int compression :
       {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_PACKBITS}) {
    cases.emplace_back("TIFF of 30000 x 30000, compression " + std::to_string(compression),
                       test::GreyTiff(30000, 30000, static_cast<uint16_t>(compression)), DecodeLimits{},
                       Status::CorruptData);
  }
  for (const auto& [what, file, limits, expected] : cases) {
    SCOPED_TRACE(what);
    const auto [status, largest] = Decode(file, limits);
    EXPECT_EQ(status, expected);
    EXPECT_LE(largest, limits.maxBytes == shapes.maxBytes ? shapes.maxBytes : kSmallAllocation);
  }
}

// Working buffers live in memory whatever the budget, unlike the picture:
// a 96-byte JPEG 2000 of one 8000 x 8000 tile (OpenJPEG's tile in 32-bit
// samples and its code-blocks) and a 90-byte animated WebP on an 8192 x
// 8192 canvas (libwebpdemux's two canvases) are refused from their headers
// under a budget of 64 MiB, as is a progressive JPEG whose coefficients
// pass it; a budget of nothing still decodes small pictures.
TEST(DecoderBombTest, WorkingBuffersOverTheMemoryBudgetAreRefusedFromTheHeader) {
  const test::ScopedMemoryBudget budget(uint64_t{64} << 20);
  const std::pair<std::string, Bytes> cases[] = {
      {"JPEG 2000 of one 8000 x 8000 tile", test::Jpeg2000Claiming(8000, 8000, 8000)},
      {"animated WebP on an 8192 x 8192 canvas", test::WebpAnimationClaiming(8192, 8192)},
      {"progressive JPEG of 8000 x 8000", test::JpegClaiming(8000, 8000, true)},
  };
  for (const auto& [what, file] : cases) {
    SCOPED_TRACE(what);
    const auto [status, largest] = Decode(file);
    EXPECT_EQ(status, Status::OverMemoryAllowance);
    EXPECT_LT(largest, kSmallAllocation);
  }
  const test::ScopedMemoryBudget nothing(0);
  EXPECT_EQ(Decode(test::WebpAnimationClaiming(64, 64)).first, Status::Ok);
  EXPECT_EQ(Decode(test::Jpeg2000Claiming(64, 64, 64)).first, Status::CorruptData);  // past the header
}

// What a user meets: rzt2 converting them. Each is refused at its header,
// as a file that cannot be loaded, and nothing is written.
TEST(ConversionBombTest, FilesRefusedAtTheirHeaderFailToLoad) {
  // At the pixel limit, but its grid of 160 x 160 frames is not: a map
  // with those frames could not be read back.
  const uint64_t maxPixels = kPixelCeiling;
  const uint64_t side = static_cast<uint64_t>(std::sqrt(static_cast<double>(maxPixels)));
  const uint64_t width = side / 160 * 160 + 1;
  const uint64_t height = maxPixels / width;
  const std::pair<std::string, Bytes> files[] = {
      {"huge.jpg", test::JpegClaiming(50000, 50000, false)},  // over the pixel ceiling
      {"cut.jpg", test::JpegClaiming(32000, 32000, false)},   // 629 bytes, data for 16 x 16
      {"wide.png", test::ZeroPng(100'000'000, 1, 1, 0)},      // 12 KB
      {"framed.bmp", test::RleBmp(static_cast<int32_t>(width), static_cast<int32_t>(height))},
  };
  test::TempDir dir;
  test::CurrentFolder inside(dir.Path());
  JobRequest request;
  for (const auto& [name, bytes] : files) {
    test::WriteFileBytes(name, bytes);
    request.names.push_back(name);
  }
  SourceLoader loader;
  test::RecordingHost host;
  const size_t largest = test::LargestAllocationDuring([&] { RunJob(request, loader, host); });
  EXPECT_EQ(host.errors,
            (std::vector<std::string>{
                "Error loading file huge.jpg! (picture over the ceiling of 2147483648 pixels)",
                "Error loading file cut.jpg! (corrupt data)",
                "Error loading file wide.png! (" + std::string(StatusText(Status::TooLarge)) + ")",
                "Error loading file framed.bmp! (" + std::string(StatusText(Status::TooLarge)) + ")"}));
  EXPECT_EQ(test::Listing(dir.Path()), "cut.jpg framed.bmp huge.jpg wide.png");
  EXPECT_LT(largest, kSmallAllocation);
}

}  // namespace
}  // namespace rzt2
