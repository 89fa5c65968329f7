// TIFF beyond what every codec promises: variants that only libtiff
// writes, and headers that lie.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "hostile/hostile_files.h"
#include "support/test_support.h"

namespace rzt2 {
namespace {

Status Decode(std::span<const uint8_t> bytes, std::unique_ptr<Bitmap>& out, const DecodeLimits& limits = {}) {
  return test::DecodeWith(DecodeTiff, bytes, out, limits);
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

TEST(TiffHostileInput, LyingHeadersFailQuietlyWithAStatus) {
  constexpr uint16_t kNone = COMPRESSION_NONE;
  const std::tuple<std::vector<uint8_t>, DecodeLimits, Status> cases[] = {
      {test::GreyTiff(100000, 100000, kNone), {}, Status::OverPixelCeiling},
      {test::GreyTiff(8, 8, kNone, 0xFFFFFF00), {}, Status::CorruptData},
      {test::GreyTiff(8, 8, COMPRESSION_LZW, 122, 0xFFFFFFFF), {}, Status::CorruptData},
      {test::GreyTiff(8, 8, kNone, 0x100, 64, 0x10000000), {}, Status::CorruptData},
      {test::GreyTiff(0, 8, kNone), {}, Status::CorruptData},
      {{'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3}, {}, Status::CorruptData},
  };
  ::testing::internal::CaptureStderr();
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& [file, limits, expected] = cases[i];
    std::unique_ptr<Bitmap> out;
    EXPECT_EQ(Decode(file, out, limits), expected) << "case " << i;
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// A TIFF of several pages: each decodes by its number, the count is read
// from the directories, and a page past the last is NoSuchPage.
TEST(TiffDecode, PagesDecodeByNumber) {
  const auto pages = test::WriteWithLibtiff([](TIFF* tif) {
    for (const uint32_t width : {3u, 5u}) {
      TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
      TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 1);
      TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
      TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
      TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
      std::vector<uint8_t> row(size_t{3} * width, static_cast<uint8_t>(width));
      TIFFWriteScanline(tif, row.data(), 0, 0);
      TIFFWriteDirectory(tif);
    }
  });
  uint32_t count = 0;
  ASSERT_EQ(CountPages(pages, count), Status::Ok);
  EXPECT_EQ(count, 2u);
  std::unique_ptr<Bitmap> out;
  for (const uint32_t page : {1u, 2u}) {
    ASSERT_EQ(test::DecodeWith(DecodeTiff, pages, out, DecodeLimits{.page = page}), Status::Ok);
    EXPECT_EQ(out->Width(), page == 1 ? 3 : 5);
  }
  EXPECT_EQ(test::DecodeWith(DecodeTiff, pages, out, DecodeLimits{.page = 3}), Status::NoSuchPage);
}

// Strips decoded on a pool, a run of them on each thread through a handle of
// its own, give the pixels of one thread, on any page; a damaged strip
// fails either way.
TEST(TiffDecode, StripsOnAPoolGiveThePixelsOfOneThread) {
  const auto file = test::WriteWithLibtiff([](TIFF* tif) {
    for (const uint16_t samples : {uint16_t{3}, uint16_t{4}}) {
      TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 700);
      TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 1501);  // runs of 1 MB: three waves
      TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
      TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
      if (samples == 4) {
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
      }
      TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
      TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
      TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 7);
      std::vector<uint8_t> row(size_t{700} * samples);
      for (uint32_t y = 0; y < 1501; ++y) {
        for (size_t i = 0; i < row.size(); ++i)
          row[i] = static_cast<uint8_t>(i * 7 + size_t{y} * 13 + (i * y) / 5);
        TIFFWriteScanline(tif, row.data(), y, 0);
      }
      TIFFWriteDirectory(tif);
    }
  });
  ThreadPool pool(2);
  for (const uint32_t page : {1u, 2u}) {
    std::unique_ptr<Bitmap> alone, shared;
    ASSERT_EQ(Decode(file, alone, {.page = page}), Status::Ok);
    ASSERT_EQ(Decode(file, shared, {.page = page, .pool = &pool}), Status::Ok);
    ASSERT_EQ(shared->Format(), alone->Format());
    for (int32_t y = 0; y < alone->Height(); ++y) {
      ASSERT_EQ(std::memcmp(shared->Row(y), alone->Row(y), alone->Stride()), 0)
          << "page " << page << ", row " << y;
    }
  }
  const std::span<const uint8_t> damaged = std::span(file).first(file.size() / 3);
  std::unique_ptr<Bitmap> none;
  ::testing::internal::CaptureStderr();
  EXPECT_NE(Decode(damaged, none, {.pool = &pool}), Status::Ok);
  EXPECT_NE(Decode(damaged, none), Status::Ok);
  ::testing::internal::GetCapturedStderr();
}

}  // namespace
}  // namespace rzt2
