// Decompression bombs through the sniffing decoder: a few bytes claiming a
// picture of hundreds of megapixels must fail with a status before the
// picture is allocated, or stay within the pixel limit.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>
#include <tiffio.h>
#include <zlib.h>

#include <cstdio>

#include "hostile/hostile_support.h"
#include "raster/codecs/codecs.h"
#include "support/test_support.h"

namespace rzt2 {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kSmallAllocation = size_t{1} << 20;

// DecodeImage's status, with the largest allocation it made.
std::pair<Status, size_t> Decode(const Bytes& bytes) {
  Status status = Status::Ok;
  const size_t largest = test::LargestAllocationDuring([&] {
    std::unique_ptr<Bitmap> out;
    status = DecodeImage(bytes, DecodeLimits{}, out);
  });
  return {status, largest};
}

void PutBigEndian(Bytes& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// Signature and IHDR only: 33 bytes, then an empty IDAT and IEND.
Bytes PngHeader(uint32_t width, uint32_t height) {
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  const auto chunk = [&out](const char* type, const Bytes& body) {
    PutBigEndian(out, static_cast<uint32_t>(body.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    PutBigEndian(out, static_cast<uint32_t>(crc32(0, &out[start], static_cast<uInt>(out.size() - start))));
  };
  Bytes ihdr;
  PutBigEndian(ihdr, width);
  PutBigEndian(ihdr, height);
  ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA
  chunk("IHDR", ihdr);
  chunk("IEND", {});
  return out;
}

// A grey TIFF of one strip of 64 bytes, claiming any size and compression.
Bytes GreyTiff(uint32_t width, uint32_t height, uint16_t compression) {
  const std::tuple<uint16_t, uint16_t, uint32_t> entries[] = {
      {256, 4, width}, {257, 4, height}, {258, 3, 8},      {259, 3, compression}, {262, 3, 1},
      {273, 4, 122},   {277, 3, 1},      {278, 4, height}, {279, 4, 64}};
  Bytes out = {'I', 'I', 42, 0, 8, 0, 0, 0, static_cast<uint8_t>(std::size(entries)), 0};
  const auto put = [&out](uint32_t value, int size) {
    for (int i = 0; i < size; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
  };
  for (const auto& [tag, type, value] : entries) {
    put(tag, 2);
    put(type, 2);
    put(1, 4);
    put(value, 4);
  }
  put(0, 4);
  out.resize(out.size() + 64, 0x80);
  return out;
}

// A progressive JPEG of 16 x 16 relabelled as width x height and cut inside
// its first scan: libjpeg reads every scan before the first row comes out.
Bytes ProgressiveJpegClaiming(uint16_t width, uint16_t height) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long length = 0;
  jpeg_mem_dest(&cinfo, &buffer, &length);
  cinfo.image_width = 16;
  cinfo.image_height = 16;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  Bytes row(16 * 3, 0x80);
  while (cinfo.next_scanline < 16) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes bytes(buffer, buffer + length);
  std::free(buffer);

  const auto marker = [&bytes](uint8_t code) {
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
      if (bytes[i] == 0xFF && bytes[i + 1] == code) return i;
    }
    return bytes.size();
  };
  const size_t sof = marker(0xC2);
  const size_t sos = marker(0xDA);
  EXPECT_LT(sos, bytes.size());
  bytes[sof + 5] = static_cast<uint8_t>(height >> 8);
  bytes[sof + 6] = static_cast<uint8_t>(height);
  bytes[sof + 7] = static_cast<uint8_t>(width >> 8);
  bytes[sof + 8] = static_cast<uint8_t>(width);
  bytes.resize(sos + 20);
  return bytes;
}

TEST(DecoderBombTest, PngHeadersClaimingGigapixels) {
  const Bytes twoGigapixels = PngHeader(65536, 32768);
  EXPECT_LE(twoGigapixels.size(), 45u);
  EXPECT_EQ(Decode(twoGigapixels), std::pair(Status::TooLarge, size_t{0}));
  // Just under the limit: 4 GiB of pixels that 45 bytes cannot inflate to.
  const auto [status, largest] = Decode(PngHeader(32768, 32767));
  EXPECT_EQ(status, Status::CorruptData);
  EXPECT_LT(largest, kSmallAllocation);
}

TEST(DecoderBombTest, TiffStripsClaimingFarMoreThanTheyHold) {
  for (const int compression :
       {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_PACKBITS}) {
    SCOPED_TRACE(testing::Message() << "compression " << compression);
    const Bytes tiff = GreyTiff(30000, 30000, static_cast<uint16_t>(compression));
    EXPECT_LT(tiff.size(), 200u);
    const auto [status, largest] = Decode(tiff);
    EXPECT_EQ(status, Status::CorruptData);
    EXPECT_LT(largest, kSmallAllocation) << "900 megapixels from " << tiff.size() << " bytes";
  }
  // What the strip can hold decodes: 64 bytes of LZW may well make 64 x 64 pixels.
  EXPECT_NE(Decode(GreyTiff(64, 64, COMPRESSION_LZW)).first, Status::TooLarge);
  EXPECT_EQ(Decode(GreyTiff(8, 8, COMPRESSION_NONE)).first, Status::Ok);
}

TEST(DecoderBombTest, ATruncatedProgressiveJpegFailsBeforeItsPictureIsAllocated) {
  // 256 megapixels fit libjpeg's memory cap and fail on the missing scans;
  // 900 megapixels of coefficients do not fit it.
  for (const auto& [side, expected] :
       {std::pair(uint16_t{16000}, Status::CorruptData), std::pair(uint16_t{30000}, Status::TooLarge)}) {
    SCOPED_TRACE(testing::Message() << side << " x " << side);
    const Bytes jpeg = ProgressiveJpegClaiming(side, side);
    const auto [status, largest] = Decode(jpeg);
    EXPECT_EQ(status, expected);
    EXPECT_LT(largest, kSmallAllocation) << "the picture allocated for " << jpeg.size() << " bytes";
  }
}

// An RGB TIFF of 8 or 16 bits per sample (the 16-bit one goes through
// libtiff's RGBA reader) with the given orientation, strips or tiles.
Bytes RgbTiff(uint32_t width, uint32_t height, uint16_t bits, uint16_t orientation, uint32_t tileSide) {
  test::TempDir dir;
  const std::filesystem::path path = dir / "t.tif";
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation);
  const auto sample = [](uint32_t x, uint32_t y, uint32_t c) { return (x * 7 + y * 13 + c * 80) % 256; };
  const size_t bytes = bits / 8;
  if (tileSide == 0) {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 3);
    Bytes row(width * 3 * bytes);
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t i = 0; i < width * 3; ++i) {
        const uint32_t v = sample(i / 3, y, i % 3) * (bits == 16 ? 257 : 1);
        std::memcpy(&row[i * bytes], &v, bytes);  // little-endian host
      }
      TIFFWriteScanline(tif, row.data(), y, 0);
    }
  } else {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, tileSide);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, tileSide);
    Bytes tile(tileSide * tileSide * 3 * bytes);
    for (uint32_t ty = 0; ty < height; ty += tileSide) {
      for (uint32_t tx = 0; tx < width; tx += tileSide) {
        for (uint32_t i = 0; i < tileSide * tileSide * 3; ++i) {
          const uint32_t v =
              sample(tx + i / 3 % tileSide, ty + i / 3 / tileSide, i % 3) * (bits == 16 ? 257 : 1);
          std::memcpy(&tile[i * bytes], &v, bytes);
        }
        TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0);
      }
    }
  }
  TIFFClose(tif);
  return test::ReadFileBytes(path);
}

TEST(DecoderBombTest, TiffsBeyondEightBitsDecodeInBandsWithoutASecondCopy) {
  for (const uint32_t tileSide : {0u, 16u}) {
    for (uint16_t orientation = 1; orientation <= 8; ++orientation) {
      SCOPED_TRACE(testing::Message() << "orientation " << orientation << ", tiles " << tileSide);
      std::unique_ptr<Bitmap> direct, banded;
      ASSERT_EQ(DecodeImage(RgbTiff(20, 35, 8, orientation, tileSide), {}, direct), Status::Ok);
      ASSERT_EQ(DecodeImage(RgbTiff(20, 35, 16, orientation, tileSide), {}, banded), Status::Ok);
      EXPECT_EQ(test::MaxChannelDifference(*direct, *banded), 0);
    }
  }
  // The picture is the one large block: no RGBA copy of the whole of it.
  const Bytes tiff = RgbTiff(512, 512, 16, 1, 0);
  std::unique_ptr<Bitmap> out;
  const size_t largest =
      test::LargestAllocationDuring([&] { ASSERT_EQ(DecodeImage(tiff, {}, out), Status::Ok); });
  EXPECT_EQ(largest, size_t{512} * 512 * 3);
}

}  // namespace
}  // namespace rzt2
