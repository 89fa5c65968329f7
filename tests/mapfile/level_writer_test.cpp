// MapWriter::WriteLevel and WritePreview, called directly on an open file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "imaging/fixed_palette.h"
#include "mapfile/map_test_helpers.h"

namespace rzt2 {
namespace {

UniqueFd OpenForWriting(const std::filesystem::path& path) {
  return UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

struct GridCase {
  int32_t width;
  int32_t height;
  uint32_t scale;
  uint32_t columns;
  uint32_t rows;
};

TEST(WriteLevelTest, LaysOutIndexPrefixAndBodiesOfTheGrid) {
  const GridCase cases[] = {{1000, 700, 10000, 7, 5}, {1120, 16, 10000, 7, 1}, {1121, 16, 10000, 8, 1},
                            {1000, 700, 5000, 4, 3},  {1000, 700, 1000, 1, 1}, {1000, 700, 100, 1, 1},
                            {1, 1, 10000, 1, 1},      {1, 1, 100, 1, 1}};
  test::TempDir dir;
  for (const GridCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " at " << c.scale);
    auto writer = MapWriter::Create(test::Params(0), nullptr, nullptr);
    ImageHandle picture = test::MapLikePicture(c.width, c.height);
    const UniqueFd file = OpenForWriting(dir / "level");
    LevelEntry entry{.scale = c.scale};
    uint32_t offset = kPreviewOffset;
    ASSERT_TRUE(writer->WriteLevel(picture, entry, c.scale, file, offset));

    EXPECT_EQ(entry.scale, c.scale);
    EXPECT_EQ(entry.columns, c.columns);
    EXPECT_EQ(entry.rows, c.rows);
    EXPECT_EQ(entry.refCount, c.columns * c.rows + 16);
    EXPECT_EQ(entry.firstFrameRef, 16u);
    EXPECT_EQ(entry.frameWidth, 160u);
    EXPECT_EQ(entry.frameHeight, 160u);
    EXPECT_EQ(entry.indexOffset, kPreviewOffset);
    EXPECT_EQ(entry.prefixOffset, kPreviewOffset + entry.refCount * 8);
    EXPECT_EQ(entry.prefixSize, 784u);

    const test::MapBytes bytes(dir / "level");
    for (uint32_t position = 0; position < kFirstFrameRef; ++position) {
      EXPECT_EQ(bytes.Ref(entry, position), FrameRef{}) << "no preview was written";
    }
    uint32_t next = entry.prefixOffset + entry.prefixSize;
    for (uint32_t k = 0; k < c.columns * c.rows; ++k) {
      const FrameRef ref = bytes.Ref(entry, kFirstFrameRef + k);
      EXPECT_EQ(ref.offset, next) << "frame " << k;
      EXPECT_GT(ref.size, 0u);
      next = ref.offset + ref.size;
    }
    EXPECT_EQ(offset, next);
    EXPECT_EQ(bytes.Bytes().size(), next);
  }
}

TEST(WriteLevelTest, WorkedExampleOfSevenByFiveGifFrames) {
  test::TempDir dir;
  auto writer = MapWriter::Create(test::Params(0), nullptr, nullptr);
  ImageHandle picture = test::MapLikePicture(1000, 700);
  const UniqueFd file = OpenForWriting(dir / "level");
  LevelEntry entry{.scale = 10000};
  uint32_t offset = 5000;
  ASSERT_TRUE(writer->WriteLevel(picture, entry, 10000, file, offset));
  EXPECT_EQ(entry.refCount, 51u);
  EXPECT_EQ(test::MapBytes(dir / "level").Ref(entry, 16).offset, 5000u + 408 + 784);
}

TEST(WriteLevelTest, SingleFrameAtOnePercentHoldsThePictureInItsTopLeftCorner) {
  test::TempDir dir;
  const ColorPalette palette = test::DistinctKeyPalette();
  auto writer = MapWriter::Create(test::Params(0), &palette, nullptr);
  ImageHandle picture = test::BlockPicture(1000, 700, palette);
  const UniqueFd file = OpenForWriting(dir / "level");
  LevelEntry entry{.scale = 100};
  uint32_t offset = 0;
  ASSERT_TRUE(writer->WriteLevel(picture, entry, 100, file, offset));
  const auto frame = test::Decode(test::MapBytes(dir / "level").Frame(entry, 0));
  ASSERT_NE(frame, nullptr);
  ASSERT_EQ(frame->Width(), 160);
  EXPECT_EQ(frame->Palette(), palette);
  int covered = 0;
  for (int32_t y = 0; y < 160; ++y) {
    for (int32_t x = 0; x < 160; ++x) {
      if (x >= 10 || y >= 7) {
        ASSERT_EQ(frame->PixelArgb(x, y), test::kWhite) << x << "," << y;
      } else {
        covered += frame->PixelArgb(x, y) != test::kWhite;
      }
    }
  }
  EXPECT_EQ(covered, 70);
}

TEST(WriteLevelTest, FailedWriteEndsTheLevelButStillWritesItsIndex) {
  test::TempDir dir;
  ImageHandle picture = test::MapLikePicture(1000, 700);
  LevelEntry complete{.scale = 10000};
  {
    auto writer = MapWriter::Create(test::Params(0), nullptr, nullptr);
    const UniqueFd file = OpenForWriting(dir / "complete");
    uint32_t offset = kPreviewOffset;
    ASSERT_TRUE(writer->WritePreview(picture, file, offset));
    ASSERT_TRUE(writer->WriteLevel(picture, complete, 10000, file, offset));
  }
  const test::MapBytes expected(dir / "complete");
  const FrameRef third = expected.Ref(complete, kFirstFrameRef + 2);

  auto writer = MapWriter::Create(test::Params(0), nullptr, nullptr);
  const UniqueFd file = OpenForWriting(dir / "failed");
  uint32_t offset = kPreviewOffset;
  ASSERT_TRUE(writer->WritePreview(picture, file, offset));
  LevelEntry entry{.scale = 10000};
  {
    // The fourth body is cut short, as on a full disk.
    const test::FileSizeLimit limit(third.offset + third.size + 10);
    EXPECT_FALSE(writer->WriteLevel(picture, entry, 10000, file, offset));
  }
  const test::MapBytes failed(dir / "failed");
  EXPECT_EQ(entry, complete);
  EXPECT_EQ(failed.Ref(entry, 0), (FrameRef{kPreviewOffset, complete.indexOffset - kPreviewOffset}));
  for (uint32_t position = 1; position < entry.refCount; ++position) {
    const bool written = position < kFirstFrameRef + 3 && position >= kFirstFrameRef;
    EXPECT_EQ(failed.Ref(entry, position), written ? expected.Ref(complete, position) : FrameRef{})
        << "position " << position;
  }
}

TEST(WriteLevelTest, RefusesLevelsThatWouldReachTwoGigabytes) {
  test::TempDir dir;
  auto writer = MapWriter::Create(test::Params(0), nullptr, nullptr);
  ImageHandle picture = test::MapLikePicture(1000, 700);
  const UniqueFd file = OpenForWriting(dir / "level");

  // No room for the index and prefix: nothing is written.
  LevelEntry entry{.scale = 10000};
  uint32_t offset = static_cast<uint32_t>(kMapFileLimit - 1000);
  EXPECT_FALSE(writer->WriteLevel(picture, entry, 10000, file, offset));
  EXPECT_EQ(offset, kMapFileLimit - 1000);
  EXPECT_EQ(::lseek(file.Get(), 0, SEEK_END), 0);

  // Room for index and prefix but not for the first body.
  offset = static_cast<uint32_t>(kMapFileLimit - 408 - 784 - 10);
  EXPECT_FALSE(writer->WriteLevel(picture, entry, 10000, file, offset));
  EXPECT_LT(::lseek(file.Get(), 0, SEEK_END), static_cast<off_t>(kMapFileLimit));
  std::array<uint8_t, 408> index{};
  ASSERT_EQ(::pread(file.Get(), index.data(), index.size(), entry.indexOffset), 408);
  EXPECT_EQ(DecodeFrameRef(&index[16 * 8]), FrameRef{});

  offset = static_cast<uint32_t>(kMapFileLimit - 10);
  EXPECT_FALSE(writer->WritePreview(picture, file, offset));
}

TEST(WriteLevelTest, RefusesEmptyPicturesAndEmptyFrames) {
  test::TempDir dir;
  const UniqueFd file = OpenForWriting(dir / "level");
  ImageHandle empty;
  ImageHandle picture = test::MapLikePicture(100, 100);
  auto writer = MapWriter::Create(test::Params(0), nullptr, nullptr);
  LevelEntry entry;
  uint32_t offset = 0;
  EXPECT_FALSE(writer->WriteLevel(empty, entry, 10000, file, offset));
  EXPECT_FALSE(writer->WritePreview(empty, file, offset));
  EXPECT_FALSE(writer->WriteLevel(picture, entry, 0, file, offset));
  auto noFrames = MapWriter::Create(EncoderParams{.FrameSizeX = 0}, nullptr, nullptr);
  EXPECT_FALSE(noFrames->WriteLevel(picture, entry, 10000, file, offset));
  EXPECT_EQ(offset, 0u);
}

TEST(WritePreviewTest, FitsThePictureIntoTheBoxWithItsAspectRatio) {
  struct Case {
    int32_t width, height, previewWidth, previewHeight;
  };
  const Case cases[] = {{1000, 1000, 639, 639}, {1000, 700, 639, 447}, {1024, 768, 640, 480},
                        {3000, 2000, 640, 426}, {100, 50, 640, 320},   {640, 480, 640, 480},
                        {6400, 1, 640, 1}};
  test::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    auto writer = MapWriter::Create(test::Params(0), nullptr, nullptr);
    ImageHandle picture = test::MapLikePicture(c.width, c.height);
    const UniqueFd file = OpenForWriting(dir / "preview");
    uint32_t offset = 0;
    ASSERT_TRUE(writer->WritePreview(picture, file, offset));
    const std::vector<uint8_t> bytes = test::ReadFileBytes(dir / "preview");
    EXPECT_EQ(bytes.size(), offset);
    const auto preview = test::Decode(bytes);
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->Width(), c.previewWidth);
    EXPECT_EQ(preview->Height(), c.previewHeight);
    EXPECT_EQ(preview->Palette(), MakeFixedPalette()) << "a true-colour picture takes the built-in palette";
  }
}

}  // namespace
}  // namespace rzt2
