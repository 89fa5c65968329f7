// MapWriter::WriteMapFile: the header, the level table, the levels chosen by
// the mask, progress, and the target file's fate. The frames of every format
// are read back in map_reader_test.cpp; full disks are in tests/hostile.
#include <gtest/gtest.h>

#include "mapfile/map_test_helpers.h"

namespace rzt2 {
namespace {

class RecordingSink final : public ProgressSink {
 public:
  void OnProgress(int32_t stageCode, int32_t percent) override { calls.emplace_back(stageCode, percent); }
  std::vector<std::pair<int32_t, int32_t>> calls;
};

std::vector<uint8_t> WriteAndRead(const EncoderParams& params, ImageHandle& picture,
                                  const std::filesystem::path& path) {
  auto writer = MapWriter::Create(params, nullptr, nullptr);
  EXPECT_EQ(writer->WriteMapFile(picture, path), Status::Ok);
  return test::ReadFileBytes(path);
}

TEST(WriteMapFileTest, HeaderDescribesThePictureAndTheFullSizeLevel) {
  test::TempDir dir;
  ImageHandle picture = test::MapLikePicture(1000, 700);
  const test::MapBytes file(WriteAndRead(test::Params(0), picture, dir / "a.rzt2"));
  const std::vector<uint8_t>& bytes = file.Bytes();

  EXPECT_EQ(file.U32(48), 1000u);
  EXPECT_EQ(file.U32(52), 700u);
  uint32_t sum = 0;
  for (uint32_t i = 0; i < 8; ++i) {
    EXPECT_LE(file.U32(64 + 4 * i), 32767u);
    sum += file.U32(64 + 4 * i);
  }
  EXPECT_EQ(file.U32(96), 0u);
  EXPECT_EQ(file.U32(100), sum);

  // Mask 0: the full-size level alone, the file ending with its last body.
  for (uint32_t i = 1; i < kLevelCount; ++i) EXPECT_EQ(file.Entry(i), LevelEntry{}) << "entry " << i;
  EXPECT_EQ(bytes.size(), file.LevelEnd(file.Entry(0)));
}

TEST(WriteMapFileTest, ZoomLevelsMaskChoosesTheStoredLevels) {
  test::TempDir dir;
  ImageHandle picture = test::MapLikePicture(900, 500);
  const test::MapBytes all(WriteAndRead(test::Params(0, 255), picture, dir / "all.rzt2"));
  for (uint32_t i = 0; i < 7; ++i) EXPECT_EQ(all.Entry(i).scale, kZoomLevels[i]);

  // Bit 0 and bits 7 and above mean nothing.
  EXPECT_TRUE(
      test::SameButForRandomValues(all.Bytes(), WriteAndRead(test::Params(0, -1), picture, dir / "b.rzt2")));
  EXPECT_TRUE(
      test::SameButForRandomValues(all.Bytes(), WriteAndRead(test::Params(0, 254), picture, dir / "c.rzt2")));
  const auto only100 = WriteAndRead(test::Params(0, 0), picture, dir / "d.rzt2");
  EXPECT_TRUE(
      test::SameButForRandomValues(only100, WriteAndRead(test::Params(0, 0x181), picture, dir / "e.rzt2")));

  const test::MapBytes some(WriteAndRead(test::Params(0, 0b1010100), picture, dir / "f.rzt2"));
  for (uint32_t i = 0; i < 7; ++i) {
    EXPECT_EQ(some.Entry(i).scale, (i == 0 || i == 2 || i == 4 || i == 6) ? kZoomLevels[i] : 0u);
  }
}

TEST(WriteMapFileTest, ReportsProgressAfterEveryFrameWithTheLevelsStageCode) {
  test::TempDir dir;
  // 32-pixel frames across 9600 pixels: 300 frames at 100 %, 3 at 1 %.
  const EncoderParams params{.FrameSizeX = 32, .FrameSizeY = 32, .ZoomLevelsMask = 255};
  ImageHandle picture = test::MapLikePicture(9600, 1);
  RecordingSink sink;
  auto writer = MapWriter::Create(params, nullptr, &sink);
  ASSERT_EQ(writer->WriteMapFile(picture, dir / "wide.rzt2"), Status::Ok);

  const uint32_t frames[] = {300, 150, 75, 30, 15, 6, 3};
  size_t call = 0;
  for (int32_t level = 0; level < 7; ++level) {
    for (uint32_t k = 0; k < frames[level]; ++k, ++call) {
      ASSERT_LT(call, sink.calls.size());
      EXPECT_EQ(sink.calls[call],
                std::make_pair(100 + level, static_cast<int32_t>((k + 1) * 100 / frames[level])));
    }
  }
  EXPECT_EQ(call, sink.calls.size());
}

// Readers refuse a level whose frames hold more pixels than the limit: such
// a picture is refused before anything is written. One column of 160 x 160
// frames, one pixel too tall.
TEST(WriteMapFileTest, RefusesPicturesWhoseFramesPassThePixelLimit) {
  test::TempDir dir;
  const uint64_t rows = kPixelCeiling / (uint64_t{160} * 160);
  ImageHandle picture =
      ImageHandle::CreateBlank(1, static_cast<int32_t>(rows * 160 + 1), PixelFormat::Indexed8);
  auto writer = MapWriter::Create(test::Params(0), nullptr, nullptr);
  EXPECT_EQ(writer->WriteMapFile(picture, dir / "tall.rzt2"), Status::TooLarge);
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(WriteMapFileTest, OneWriterServesPicturesWithDifferentPalettes) {
  test::TempDir dir;
  ImageHandle indexed(test::MakeIndexedBitmap(300, 200));
  ImageHandle trueColour = test::MapLikePicture(300, 200);
  auto shared = MapWriter::Create(test::Params(0), nullptr, nullptr);
  ASSERT_EQ(shared->WriteMapFile(indexed, dir / "first.rzt2"), Status::Ok);
  ASSERT_EQ(shared->WriteMapFile(trueColour, dir / "second.rzt2"), Status::Ok);
  EXPECT_TRUE(test::SameButForRandomValues(test::ReadFileBytes(dir / "second.rzt2"),
                                           WriteAndRead(test::Params(0), trueColour, dir / "fresh.rzt2")));
}

TEST(WriteMapFileTest, EarlierFileMovesToTheBackupNameWhenItIsFree) {
  test::TempDir dir;
  ImageHandle picture = test::MapLikePicture(200, 100);
  const std::vector<uint8_t> earlier = {'o', 'l', 'd'};
  test::WriteFileBytes(dir / "m.rzt2", earlier);

  const auto written = WriteAndRead(test::Params(0), picture, dir / "m.rzt2");
  EXPECT_EQ(std::string(written.begin(), written.begin() + 4), "RZTM");
  EXPECT_EQ(test::ReadFileBytes(dir / "m.rzt2.bak"), earlier);
  EXPECT_EQ(test::FolderNames(dir.Path()), (std::vector<std::string>{"m.rzt2", "m.rzt2.bak"}));

  // The backup name is now taken: the file is replaced, the backup kept.
  const std::vector<uint8_t> first = test::ReadFileBytes(dir / "m.rzt2");
  test::WriteFileBytes(dir / "m.rzt2", {'n', 'e', 'w'});
  WriteAndRead(test::Params(1), picture, dir / "m.rzt2");
  EXPECT_NE(test::ReadFileBytes(dir / "m.rzt2"), first);
  EXPECT_EQ(test::ReadFileBytes(dir / "m.rzt2.bak"), earlier);
  EXPECT_EQ(test::FolderNames(dir.Path()), (std::vector<std::string>{"m.rzt2", "m.rzt2.bak"}));
}

TEST(WriteMapFileTest, FailureLeavesTheEarlierFileAsItWas) {
  test::TempDir dir;
  const std::filesystem::path target = dir / "m.rzt2";
  const std::vector<uint8_t> earlier = {'o', 'l', 'd'};
  test::WriteFileBytes(target, earlier);
  ImageHandle picture = test::MapLikePicture(1000, 700);
  const auto expectUntouched = [&](const char* what) {
    EXPECT_EQ(test::ReadFileBytes(target), earlier) << what;
    EXPECT_EQ(test::FolderNames(dir.Path()), std::vector<std::string>{"m.rzt2"}) << what;
  };

  const auto write = [&](const EncoderParams& params, ImageHandle& image, const std::filesystem::path& path) {
    return MapWriter::Create(params, nullptr, nullptr)->WriteMapFile(image, path);
  };
  ImageHandle empty;
  EXPECT_EQ(write(test::Params(0), empty, target), Status::InvalidParameter);
  expectUntouched("no picture");

  EXPECT_EQ(write(EncoderParams{.FrameSizeX = 0}, picture, target), Status::InvalidParameter);
  expectUntouched("frame width 0");

  EXPECT_EQ(write(test::Params(0), picture, dir.Path()), Status::AccessDenied);
  EXPECT_EQ(write(test::Params(0), picture, dir / "no" / "m"), Status::FileNotFound);
  expectUntouched("no such target");
}

}  // namespace
}  // namespace rzt2
