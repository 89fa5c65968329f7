// MapFileReader, ReadMapPreview and ReadMapImage on written, damaged and
// foreign files.
#include <gtest/gtest.h>

#include "imaging/surface.h"
#include "mapfile/map_test_helpers.h"

namespace rzt2 {
namespace {

class MapReaderTest : public testing::Test {
 protected:
  // Writes a map of a block picture with the palette of distinct keys.
  std::vector<uint8_t> WriteMap(int32_t width, int32_t height, const EncoderParams& params) {
    picture_ = test::BlockPicture(width, height, palette_);
    auto writer = MapWriter::Create(params, &palette_, nullptr);
    EXPECT_EQ(writer->WriteMapFile(picture_, path_), Status::Ok);
    return test::ReadFileBytes(path_);
  }
  ImageHandle ReadImage() { return ReadMapImage(path_); }
  ImageHandle ReadPreview() { return ReadMapPreview(path_); }
  // Rewrites one u32 of the file.
  void Patch(std::vector<uint8_t> bytes, size_t offset, uint32_t value) {
    WriteU32(&bytes.at(offset), value);
    test::WriteFileBytes(path_, bytes);
  }

  test::TempDir dir_;
  const std::filesystem::path path_ = dir_ / "map.rzt2";
  const ColorPalette palette_ = test::DistinctKeyPalette();
  ImageHandle picture_;
};

// The picture has its own size, not its frame grid's (1120 x 800).
TEST_F(MapReaderTest, RebuildsThePictureAtItsOwnSizeAndReadsThePreview) {
  for (int32_t code = 0; code <= 4; ++code) {
    SCOPED_TRACE(testing::Message() << "EncoderCode " << code);
    WriteMap(1000, 700, test::Params(code, 255));
    ImageHandle image = ReadImage();
    ASSERT_FALSE(image.IsNull()) << StatusText(image.LastStatus());
    const Bitmap& bitmap = *image.GetBitmap();
    ASSERT_EQ(bitmap.Width(), 1000);
    ASSERT_EQ(bitmap.Height(), 700);
    EXPECT_EQ(bitmap.Format(), PixelFormat::Argb32);
    // The first frame's palette; JPEG frames have none, and lose 12 at most on average per channel.
    const ColorPalette expectedPalette = code == 1 ? ColorPalette{} : palette_;
    EXPECT_EQ(bitmap.Palette(), expectedPalette);
    ImageHandle expected = ImageHandle::CreateBlank(1000, 700, PixelFormat::Argb32);
    Surface canvas(expected);
    canvas.Clear(test::kWhite);
    ASSERT_EQ(canvas.DrawImage(picture_, Rect{0, 0, 1000, 700}), Status::Ok);
    if (code == 1) {
      EXPECT_LT(test::MeanRgbDifference(*expected.GetBitmap(), bitmap), 12);
    } else {
      EXPECT_EQ(test::PixelDifference(*expected.GetBitmap(), bitmap), "");
    }
    ImageHandle preview = ReadPreview();
    ASSERT_FALSE(preview.IsNull());
    EXPECT_EQ(preview.Width(), 639u);
    EXPECT_EQ(preview.Height(), 447u);
    EXPECT_EQ(preview.GetBitmap()->Palette(), expectedPalette);
  }
}

TEST_F(MapReaderTest, UndecodableFramesStayWhite) {
  const std::vector<uint8_t> bytes = WriteMap(480, 320, test::Params(0));
  const LevelEntry level = test::MapBytes(bytes).Entry(0);
  ASSERT_EQ(level.columns * level.rows, 6u);
  // Frame 4 (row 1, column 1) loses all but one byte of its body.
  Patch(bytes, level.indexOffset + (16 + 4) * 8 + 4, 1);
  MapImageDamage damage;
  ImageHandle image = ReadMapImage(path_, &damage);
  ASSERT_FALSE(image.IsNull());
  EXPECT_EQ(std::pair(damage.damaged, damage.frames), std::pair(uint64_t{1}, uint64_t{6}));
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

// Frames of every level, read by several threads, are checked in the viewer's tests.
TEST_F(MapReaderTest, RefusesFramesAndReadsOutsideTheGridOrFile) {
  WriteMap(1000, 700, test::Params(2));
  const auto reader = test::OpenMap(path_);
  ASSERT_NE(reader, nullptr);
  FrameIndex index;
  ASSERT_EQ(reader->ReadFrameIndex(reader->Header().firstLevel, index), Status::Ok);
  std::vector<uint8_t> frame;
  EXPECT_EQ(reader->ReadFrame(index, 7, 0, frame), Status::InvalidParameter);
  EXPECT_EQ(reader->ReadFrame(index, 0, 5, frame), Status::InvalidParameter);
  std::array<uint8_t, 2> past{};
  EXPECT_EQ(reader->ReadAt(reader->FileSize() - 1, past), Status::CorruptData);
}

// Truncated and damaged files in numbers are in tests/hostile, the acceptance
// rule in map_records_test.cpp; these are the cases where the readers differ.
TEST_F(MapReaderTest, RejectsFilesThatAreNotMapFilesOrPointOutside) {
  EXPECT_TRUE(ReadImage().IsNull()) << "no file";
  EXPECT_TRUE(ReadPreview().IsNull());
  const std::vector<uint8_t> bytes = WriteMap(300, 200, test::Params(0));
  const test::MapBytes file(bytes);
  const LevelEntry level = file.Entry(0);
  const auto size = static_cast<uint32_t>(bytes.size());
  const struct {
    const char* what;
    size_t offset;
    uint32_t value;
    bool imageRefused, previewRefused;
  } cases[] = {
      {"magic SZTM", 0, 0x4D545A52 + 1, true, true},
      {"firstFrameRef far out", 24, 0x7FFFFFFF, true, false},
      {"frame width 0", 32, 0, true, false},
      {"frame width 5000", 32, 5000, true, false},
      {"prefixSize over 1 MiB", 16, 0x200000, true, false},
      {"preview block past the end", level.indexOffset, size - 4, false, true},
      {"index past the end", 20, size - 4, true, true},
  };
  for (const auto& c : cases) {
    Patch(bytes, c.offset, c.value);
    EXPECT_EQ(ReadImage().IsNull(), c.imageRefused) << c.what;
    EXPECT_EQ(ReadPreview().IsNull(), c.previewRefused) << c.what;
  }
  // A picture file under a map file's name.
  test::WriteFileBytes(path_, file.Block(kPreviewOffset, file.Ref(level, 0).size));
  EXPECT_TRUE(ReadImage().IsNull());
  EXPECT_TRUE(ReadPreview().IsNull());
}

}  // namespace
}  // namespace rzt2
