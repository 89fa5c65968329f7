// MapWriter::ReadMapPreview and ReadMapImage on written, damaged and
// foreign files.
#include <gtest/gtest.h>

#include "mapfile/map_test_helpers.h"

namespace rzt2 {
namespace {

class MapReaderTest : public testing::Test {
 protected:
  // Writes a map of a block picture with the palette of distinct keys.
  std::vector<uint8_t> WriteMap(int32_t width, int32_t height, const EncoderParams& params) {
    picture_ = test::BlockPicture(width, height, palette_);
    auto writer = MapWriter::Create(params, &palette_, nullptr);
    EXPECT_TRUE(writer->WriteMapFile(picture_, path_));
    return test::ReadFileBytes(path_);
  }
  ImageHandle ReadImage() { return reader_->ReadMapImage(path_); }
  ImageHandle ReadPreview() { return reader_->ReadMapPreview(path_); }
  // Rewrites one u32 of the file.
  void Patch(std::vector<uint8_t> bytes, size_t offset, uint32_t value) {
    WriteU32(&bytes.at(offset), value);
    test::WriteFileBytes(path_, bytes);
  }

  test::TempDir dir_;
  const std::filesystem::path path_ = dir_ / "map.rzt2";
  const ColorPalette palette_ = test::DistinctKeyPalette();
  ImageHandle picture_;
  std::unique_ptr<MapWriter> reader_ = MapWriter::Create(EncoderParams{}, nullptr, nullptr);
};

TEST_F(MapReaderTest, RebuildsTheFullSizePictureWithWhiteAroundIt) {
  for (int32_t code : {0, 2, 3, 4}) {
    SCOPED_TRACE(testing::Message() << "EncoderCode " << code);
    WriteMap(1000, 700, test::Params(code, 255));
    ImageHandle image = ReadImage();
    ASSERT_FALSE(image.IsNull()) << StatusText(image.LastStatus());
    const Bitmap& bitmap = *image.GetBitmap();
    ASSERT_EQ(bitmap.Width(), 1120);
    ASSERT_EQ(bitmap.Height(), 800);
    EXPECT_EQ(bitmap.Format(), PixelFormat::Argb32);
    EXPECT_EQ(bitmap.Palette(), palette_) << "the first frame's palette";
    for (int32_t y = 0; y < 800; ++y) {
      for (int32_t x = 0; x < 1120; ++x) {
        const uint32_t want = x < 1000 && y < 700 ? picture_.GetBitmap()->PixelArgb(x, y) : test::kWhite;
        ASSERT_EQ(bitmap.PixelArgb(x, y), want) << x << "," << y;
      }
    }
  }
}

TEST_F(MapReaderTest, PreviewIsTheStoredBlock) {
  WriteMap(1000, 700, test::Params(0));
  ImageHandle preview = ReadPreview();
  ASSERT_FALSE(preview.IsNull());
  EXPECT_EQ(preview.Width(), 639u);
  EXPECT_EQ(preview.Height(), 447u);
  EXPECT_EQ(preview.GetBitmap()->Palette(), palette_);
}

TEST_F(MapReaderTest, UndecodableFramesStayWhite) {
  const std::vector<uint8_t> bytes = WriteMap(480, 320, test::Params(0));
  const test::MapBytes file(bytes);
  const LevelEntry level = file.Entry(0);
  ASSERT_EQ(level.columns * level.rows, 6u);
  // Frame 4 (row 1, column 1) loses all but one byte of its body.
  Patch(bytes, level.indexOffset + (16 + 4) * 8 + 4, 1);
  ImageHandle image = ReadImage();
  ASSERT_FALSE(image.IsNull());
  for (int32_t y = 0; y < 320; ++y) {
    for (int32_t x = 0; x < 480; ++x) {
      const bool lost = x >= 160 && x < 320 && y >= 160;
      const uint32_t want = lost ? test::kWhite : picture_.GetBitmap()->PixelArgb(x, y);
      ASSERT_EQ(image.GetBitmap()->PixelArgb(x, y), want) << x << "," << y;
    }
  }
  EXPECT_EQ(image.GetBitmap()->Palette(), palette_);

  // Without a decodable first frame the result has no palette.
  Patch(bytes, level.indexOffset + 16 * 8 + 4, 1);
  image = ReadImage();
  ASSERT_FALSE(image.IsNull());
  EXPECT_EQ(image.GetBitmap()->Palette().Count(), 0u);
}

TEST_F(MapReaderTest, RejectsFilesThatAreNotMapFiles) {
  EXPECT_TRUE(ReadImage().IsNull()) << "no file";
  EXPECT_TRUE(ReadPreview().IsNull());

  const std::vector<uint8_t> bytes = WriteMap(300, 200, test::Params(0));
  Patch(bytes, 8, 47);
  EXPECT_TRUE(ReadImage().IsNull()) << "headerSize 47";
  EXPECT_TRUE(ReadPreview().IsNull()) << "headerSize 47";
  Patch(bytes, 8, 48);
  EXPECT_FALSE(ReadImage().IsNull()) << "headerSize 48 is enough";

  Patch(bytes, 0, 0x4D545A52 + 1);  // magic "SZTM"
  EXPECT_TRUE(ReadImage().IsNull());
  EXPECT_TRUE(ReadPreview().IsNull());
  Patch(bytes, 28, 4);  // refCount of just columns x rows (2 x 2) is still accepted
  EXPECT_FALSE(ReadPreview().IsNull());
  Patch(bytes, 28, 3);
  EXPECT_TRUE(ReadImage().IsNull());
  EXPECT_TRUE(ReadPreview().IsNull());

  // A picture file under a map file's name.
  const test::MapBytes file(bytes);
  test::WriteFileBytes(path_, file.Block(kPreviewOffset, file.Ref(file.Entry(0), 0).size));
  EXPECT_TRUE(ReadImage().IsNull());
  EXPECT_TRUE(ReadPreview().IsNull());
}

TEST_F(MapReaderTest, RejectsEveryTruncation) {
  const EncoderParams params{
      .FrameSizeX = 32, .FrameSizeY = 32, .ZoomLevelsMask = 0, .MiniFrameSizeX = 128, .MiniFrameSizeY = 128};
  const std::vector<uint8_t> bytes = WriteMap(200, 150, params);
  const uint32_t previewEnd = test::MapBytes(bytes).Entry(0).indexOffset;
  for (size_t length = bytes.size(); length-- > 0;) {
    std::filesystem::resize_file(path_, length);
    ASSERT_TRUE(ReadImage().IsNull()) << "length " << length;
    // The preview needs the header, the first index record and its own block.
    if (length < previewEnd + 8 || length % 16 == 0) {
      ASSERT_EQ(ReadPreview().IsNull(), length < previewEnd + 8) << "length " << length;
    }
  }
}

TEST_F(MapReaderTest, RejectsRecordsThatPointOutsideTheFile) {
  const std::vector<uint8_t> bytes = WriteMap(400, 300, test::Params(0));
  const test::MapBytes file(bytes);
  const LevelEntry level = file.Entry(0);
  const auto size = static_cast<uint32_t>(bytes.size());
  struct Damage {
    const char* what;
    size_t offset;
    uint32_t value;
  };
  const Damage damages[] = {
      {"indexOffset past the end", 20, size - 100},
      {"indexOffset at 4 GiB", 20, 0xFFFFFFF0},
      {"firstFrameRef far out", 24, 0x7FFFFFFF},
      {"prefixOffset past the end", 12, size - 10},
      {"prefixSize too large", 16, size},
      {"frame width 0", 32, 0},
      {"frame width 5000", 32, 5000},
      {"prefixSize over 1 MiB", 16, 0x200000},
      {"body offset past the end", level.indexOffset + 17 * 8, size},
      {"body size past the end", level.indexOffset + 18 * 8 + 4, size},
      {"body at 4 GiB", level.indexOffset + 19 * 8, 0xFFFFFFFF},
  };
  for (const Damage& damage : damages) {
    Patch(bytes, damage.offset, damage.value);
    EXPECT_TRUE(ReadImage().IsNull()) << damage.what;
  }
  // Too many frames for the picture limit, with a refCount that accepts them.
  std::vector<uint8_t> many = bytes;
  WriteU32(&many[28], 0xFFFFFFFF);
  WriteU32(&many[40], 0x10000);
  Patch(many, 44, 0x10000);
  EXPECT_TRUE(ReadImage().IsNull());

  Patch(bytes, level.indexOffset, size - 4);
  EXPECT_TRUE(ReadPreview().IsNull()) << "preview block past the end";
  Patch(bytes, 20, size - 4);
  EXPECT_TRUE(ReadPreview().IsNull()) << "index record past the end";
}

}  // namespace
}  // namespace rzt2
