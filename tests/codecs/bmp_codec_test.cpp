// BMP beyond what every codec promises: hand-written files of every depth,
// header, bit field and run-length variant.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/test_support.h"

// Hand-written files name only the fields each case changes.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace rzt2 {
namespace {

// A BMP file as hand-written pictures need it; fields left alone are valid.
struct BmpFile {
  uint32_t headerSize = 40;
  int32_t width = 1;
  int32_t height = 1;
  uint32_t bitCount = 24;
  uint32_t compression = 0;
  uint32_t colorsUsed = 0;
  std::vector<uint32_t> palette;  // 0xRRGGBB
  std::vector<uint32_t> masks;    // after a 40-byte header, or inside a larger one
  std::vector<uint8_t> pixels;
  int64_t pixelOffset = -1;  // -1: right after the palette

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> file(14 + headerSize, 0);
    auto put = [&file](size_t at, uint64_t v, size_t size) {
      for (size_t i = 0; i < size; ++i) file[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    const bool core = headerSize == 12;
    const size_t field = core ? 2 : 4;  // the core header's sizes are 16-bit
    file[0] = 'B';
    file[1] = 'M';
    put(14, headerSize, 4);
    put(18, static_cast<uint32_t>(width), field);
    put(18 + field, static_cast<uint32_t>(height), field);
    put(18 + 2 * field, 1, 2);
    put(20 + 2 * field, bitCount, 2);
    if (!core) {
      put(30, compression, 4);
      put(46, colorsUsed, 4);
    }
    for (size_t i = 0; i < masks.size(); ++i) {
      if (headerSize == 40) file.resize(file.size() + 4);
      put(headerSize == 40 ? file.size() - 4 : 54 + 4 * i, masks[i], 4);
    }
    for (uint32_t c : palette) {
      for (int i = 0; i < (core ? 3 : 4); ++i)
        file.push_back(static_cast<uint8_t>(i == 3 ? 0 : c >> (8 * i)));
    }
    put(10, pixelOffset < 0 ? file.size() : static_cast<uint64_t>(pixelOffset), 4);
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
  }
};

Status Decode(const std::vector<uint8_t>& bytes, std::unique_ptr<Bitmap>& out,
              const DecodeLimits& limits = {}) {
  return test::DecodeWith(DecodeBmp, bytes, out, limits);
}

std::vector<uint8_t> Row(const Bitmap& bitmap, int32_t y) {
  return {bitmap.Row(y), bitmap.Row(y) + bitmap.Stride()};
}

TEST(BmpDecode, PalettePicturesOfEveryDepthAndHeader) {
  std::unique_ptr<Bitmap> out;
  // 1 bit, 9 wide: the 9th pixel is in a second byte.
  BmpFile one{.width = 9,
              .height = 2,
              .bitCount = 1,
              .palette = {0x000000, 0xFFFFFF},
              .pixels = {0xA5, 0x80, 0, 0, 0xFF, 0x00, 0, 0}};
  ASSERT_EQ(Decode(one.Bytes(), out), Status::Ok);
  EXPECT_EQ(Row(*out, 0), (std::vector<uint8_t>{1, 1, 1, 1, 1, 1, 1, 1, 0}));  // the last file row is the top
  EXPECT_EQ(Row(*out, 1), (std::vector<uint8_t>{1, 0, 1, 0, 0, 1, 0, 1, 1}));

  BmpFile four{.width = 3,
               .bitCount = 4,
               .colorsUsed = 3,
               .palette = {0x102030, 0x405060, 0x708090},
               .pixels = {0x21, 0x00, 0, 0}};
  ASSERT_EQ(Decode(four.Bytes(), out), Status::Ok);
  EXPECT_EQ(Row(*out, 0), (std::vector<uint8_t>{2, 1, 0}));
  EXPECT_EQ(out->Palette().entries, (std::vector<uint32_t>{0xFF102030, 0xFF405060, 0xFF708090}));

  BmpFile core{.headerSize = 12, .width = 2, .bitCount = 8, .pixels = {1, 0, 0, 0}};
  core.palette.assign(256, 0);
  core.palette[1] = 0xABCDEF;
  ASSERT_EQ(Decode(core.Bytes(), out), Status::Ok);
  EXPECT_EQ(out->PixelArgb(0, 0), 0xFFABCDEFu);
}

TEST(BmpDecode, BitFieldsAlphaRulesAndRowOrder) {
  const struct {
    BmpFile file;
    int32_t x;
    uint32_t argb;
  } cases[] = {
      // 16 bits: 5-5-5 by default, 5-6-5 by masks; 5-bit 16 scales to 132.
      {{.width = 2, .bitCount = 16, .pixels = {0xFF, 0x7F, 0x10, 0x00}}, 1, 0xFF000084u},
      {{.bitCount = 16, .compression = 3, .masks = {0xF800, 0x07E0, 0x001F}, .pixels = {0xE0, 0x07, 0, 0}},
       0,
       0xFF00FF00u},
      // With an alpha mask, an all-zero alpha is a writer that left it empty.
      {{.headerSize = 108,
        .width = 2,
        .bitCount = 32,
        .compression = 3,
        .masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
        .pixels = {1, 2, 3, 0, 4, 5, 6, 0}},
       1,
       0xFF060504u},
      // Masks in any order, after a 40-byte header with BI_ALPHABITFIELDS.
      {{.bitCount = 32,
        .compression = 6,
        .masks = {0xFF, 0xFF00, 0xFF0000, 0xFF000000},
        .pixels = {1, 2, 3, 4}},
       0,
       0x04010203u},
      {{.height = -2, .pixels = {1, 2, 3, 0, 4, 5, 6, 0}}, 0, 0xFF030201u},  // top-down
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::unique_ptr<Bitmap> out;
    ASSERT_EQ(Decode(cases[i].file.Bytes(), out), Status::Ok) << "case " << i;
    EXPECT_EQ(out->PixelArgb(cases[i].x, 0), cases[i].argb) << "case " << i;
  }
}

TEST(BmpDecode, RunLengthPictures) {
  std::unique_ptr<Bitmap> out;
  // Run, literal with padding, end of line, delta, end of picture.
  BmpFile rle8{.width = 5,
               .height = 3,
               .bitCount = 8,
               .compression = 1,
               .colorsUsed = 10,
               .palette = std::vector<uint32_t>(10, 0),
               .pixels = {2, 1, 0, 3, 5, 6, 7, 0, 0, 0, 0, 2, 1, 1, 1, 9, 0, 1}};
  ASSERT_EQ(Decode(rle8.Bytes(), out), Status::Ok);
  EXPECT_EQ(Row(*out, 0), (std::vector<uint8_t>{0, 9, 0, 0, 0}));
  EXPECT_EQ(Row(*out, 1), (std::vector<uint8_t>(5, 0)));
  EXPECT_EQ(Row(*out, 2), (std::vector<uint8_t>{1, 1, 5, 6, 7}));
  EXPECT_EQ(out->Palette().Count(), 10u);

  BmpFile rle4{.width = 8,
               .bitCount = 4,
               .compression = 2,
               .palette = std::vector<uint32_t>(16, 0),
               .pixels = {4, 0x12, 0, 3, 0x34, 0x50, 1, 0xF0, 0, 0}};  // ends after the last row
  ASSERT_EQ(Decode(rle4.Bytes(), out), Status::Ok);
  EXPECT_EQ(Row(*out, 0), (std::vector<uint8_t>{1, 2, 1, 2, 3, 4, 5, 15}));
}

TEST(BmpHostileInput, SizesOffsetsAndRunsAreChecked) {
  std::unique_ptr<Bitmap> out;
  const std::vector<uint32_t> gray(256, 0x808080);
  auto status = [&](const BmpFile& file, DecodeLimits limits = {}) {
    return Decode(file.Bytes(), out, limits);
  };
  // Sizes: over the ceiling before anything is allocated, then against the data held.
  EXPECT_EQ(status({.width = 60000, .height = 60000}), Status::OverPixelCeiling);
  EXPECT_EQ(status({.width = 30000, .height = -30000}), Status::CorruptData);
  EXPECT_EQ(status({.width = 0}), Status::CorruptData);
  EXPECT_EQ(status({.height = INT32_MIN}), Status::CorruptData);
  // Offsets and tables past the end.
  EXPECT_EQ(status({.pixels = {1, 2, 3, 0}, .pixelOffset = 0xFFFFFFFF}), Status::CorruptData);
  EXPECT_EQ(status({.bitCount = 8, .palette = {1, 2}}), Status::CorruptData);
  EXPECT_EQ(status({.bitCount = 8, .colorsUsed = 0xFFFFFFFF, .palette = gray, .pixels = {0, 0, 0, 0}}),
            Status::Ok);
  EXPECT_EQ(out->Palette().Count(), 256u);
  EXPECT_EQ(status({.bitCount = 32, .compression = 3}), Status::CorruptData);  // masks missing
  // Runs past the row, the picture or the data.
  const BmpFile rle{.width = 4, .height = 2, .bitCount = 8, .compression = 1, .palette = gray};
  for (const std::vector<uint8_t>& pixels :
       std::vector<std::vector<uint8_t>>{{5, 1},                    // run longer than the row
                                         {0, 5, 1, 2, 3, 4, 5, 0},  // literal longer than the row
                                         {0, 2, 0, 3},              // delta below the picture
                                         {0, 6, 1, 2},              // literal past the data
                                         {0, 0, 0, 0, 1, 1},        // run after the last row
                                         {4, 1, 0, 0},              // data ends before the last row
                                         {}}) {
    BmpFile file = rle;
    file.pixels = pixels;
    EXPECT_EQ(status(file), Status::CorruptData) << ::testing::PrintToString(pixels);
  }
  // Variants we do not read.
  EXPECT_EQ(status({.headerSize = 64}), Status::UnsupportedFormat);
  EXPECT_EQ(status({.bitCount = 0, .compression = 4}), Status::UnsupportedFormat);
  EXPECT_EQ(status({.bitCount = 4, .compression = 1, .palette = gray}), Status::CorruptData);
}

}  // namespace
}  // namespace rzt2
