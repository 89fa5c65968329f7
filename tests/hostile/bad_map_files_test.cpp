// Damaged and crafted map files made from one small written file (the fuzz
// corpus holds its truncations): every reader refuses each with a status,
// without crashing or a large allocation; a sound file, however large, is
// read with small allocations.
#include <gtest/gtest.h>

#include <algorithm>

#include "hostile/hostile_support.h"
#include "mapfile/map_inspector.h"
#include "mapfile/map_test_helpers.h"

namespace rzt2 {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kSmallAllocation = size_t{1} << 20;
// Header offsets of the first level's fields; the level table repeats them
// at kLevelTableOffset + 4 + (offset - 12).
constexpr size_t kAtPrefixOffset = 12, kAtPrefixSize = 16, kAtIndexOffset = 20, kAtFirstFrameRef = 24,
                 kAtRefCount = 28, kAtFrameWidth = 32, kAtFrameHeight = 36, kAtColumns = 40, kAtRows = 44;

class BadMapFileTest : public testing::Test {
 protected:
  // A 64 x 40 picture in GIF frames of 32 x 32: 2 x 2 frames, a 128-pixel preview.
  static void SetUpTestSuite() {
    const ColorPalette palette = test::DistinctKeyPalette();
    ImageHandle picture = test::BlockPicture(64, 40, palette);
    const EncoderParams params{.FrameSizeX = 32,
                               .FrameSizeY = 32,
                               .ZoomLevelsMask = 0,
                               .MiniFrameSizeX = 128,
                               .MiniFrameSizeY = 128,
                               .EncoderCode = 0};
    test::TempDir dir;
    ASSERT_EQ(MapWriter::Create(params, &palette, nullptr)->WriteMapFile(picture, dir / "m.rzt2"),
              Status::Ok);
    good_ = new Bytes(test::ReadFileBytes(dir / "m.rzt2"));
  }
  static void TearDownTestSuite() { delete good_; }

  static const Bytes& Good() { return *good_; }
  static LevelEntry Level() { return test::MapBytes(Good()).Entry(0); }
  // Sets a first-level field in the header and in level entry 0 alike.
  static void SetLevelField(Bytes& bytes, size_t headerOffset, uint32_t value) {
    WriteU32(&bytes.at(headerOffset), value);
    WriteU32(&bytes.at(kLevelTableOffset + 4 + headerOffset - 12), value);
  }
  static void SetFrameRef(Bytes& bytes, uint64_t position, FrameRef ref) {
    EncodeFrameRef(ref, &bytes.at(Level().indexOffset + position * kFrameRefSize));
  }
  // Gives the first level a new, empty index of columns x rows records at
  // the end of the file; returns its offset.
  static uint32_t Grid(Bytes& bytes, uint32_t columns, uint32_t rows) {
    const auto records = static_cast<uint32_t>(bytes.size());
    bytes.resize(bytes.size() + (kFirstFrameRef + uint64_t{columns} * rows) * kFrameRefSize);
    SetLevelField(bytes, kAtIndexOffset, records);
    SetLevelField(bytes, kAtColumns, columns);
    SetLevelField(bytes, kAtRows, rows);
    SetLevelField(bytes, kAtRefCount, kFirstFrameRef + columns * rows);
    return records;
  }

  // Every reader refuses the bytes as corrupt: the picture reader (over
  // memory and through a file), the first level's frame index, the info and
  // check reports.
  void ExpectRefused(const Bytes& bytes) {
    const std::filesystem::path path = dir_ / "bad.rzt2";
    test::WriteFileBytes(path, bytes);
    const size_t largest = test::LargestAllocationDuring([&] {
      ImageHandle fromMemory = ReadMapImage(std::span<const uint8_t>(bytes));
      EXPECT_TRUE(fromMemory.IsNull());
      EXPECT_EQ(fromMemory.LastStatus(), Status::CorruptData);
      ImageHandle fromFile = ReadMapImage(path);
      EXPECT_TRUE(fromFile.IsNull());
      EXPECT_EQ(fromFile.LastStatus(), Status::CorruptData);
      const auto reader = test::OpenMap(path);
      FrameIndex index;
      EXPECT_TRUE(reader == nullptr ||
                  reader->ReadFrameIndex(reader->Header().firstLevel, index) != Status::Ok);
      MapFileInfo info;
      std::vector<std::string> problems;
      if (reader == nullptr || ReadMapFileInfo(*reader, info) != Status::Ok) return;
      EXPECT_EQ(CheckMapFile(*reader, info, problems), Status::Ok);
      EXPECT_FALSE(problems.empty());
      // A level the reader refuses by its entry, the check refuses by the same rule.
      if (const auto fault = LevelFault(bytes.size(), info.levels[0])) {
        EXPECT_NE(std::find(problems.begin(), problems.end(), "level 0: " + std::string(*fault)),
                  problems.end());
      }
    });
    EXPECT_LT(largest, kSmallAllocation + bytes.size());
  }

  test::TempDir dir_;
  static inline Bytes* good_ = nullptr;
};

TEST_F(BadMapFileTest, TheUndamagedFileIsReadWithSmallAllocationsHoweverLarge) {
  // Past its end, the file grows to 3.5 GB of zeros (sparse): info and
  // check read what they need, not the whole file.
  const std::filesystem::path path = dir_ / "large.rzt2";
  test::WriteFileBytes(path, Good());
  std::filesystem::resize_file(path, uint64_t{7} << 29);
  const size_t largest = test::LargestAllocationDuring([&] {
    ImageHandle image = ReadMapImage(path);
    ASSERT_FALSE(image.IsNull());
    EXPECT_EQ(image.Width(), 64u);
    EXPECT_EQ(image.Height(), 40u);
    EXPECT_FALSE(ReadMapPreview(path).IsNull());
    const auto reader = test::OpenMap(path);
    MapFileInfo info;
    ASSERT_EQ(ReadMapFileInfo(*reader, info), Status::Ok);
    EXPECT_EQ(info.previewWidth, 128u);
    std::vector<std::string> problems;
    EXPECT_EQ(CheckMapFile(*reader, info, problems), Status::Ok);
    EXPECT_EQ(problems, std::vector<std::string>{});
  });
  EXPECT_LT(largest, kSmallAllocation);
}

TEST_F(BadMapFileTest, OffsetsAndSizesThatWrapOrPointPastTheEndAndClaimsOfHugeWork) {
  const auto size = static_cast<uint32_t>(Good().size());
  struct Damage {
    const char* what;
    std::function<void(Bytes&)> apply;
  };
  const Damage damages[] = {
      {"index offset plus first record wraps to 0",
       [](Bytes& b) {
         SetLevelField(b, kAtIndexOffset, 0xFFFFFF80);
         SetLevelField(b, kAtFirstFrameRef, 0x10);
       }},
      {"prefix offset plus size wraps",
       [](Bytes& b) {
         SetLevelField(b, kAtPrefixOffset, 0xFFFFFFF0);
         SetLevelField(b, kAtPrefixSize, 0x20);
       }},
      {"prefix ends one byte past the end",
       [size](Bytes& b) { SetLevelField(b, kAtPrefixOffset, size - 783); }},
      {"a prefix inside the file, longer than any frame format's",
       [](Bytes& b) { SetLevelField(b, kAtPrefixSize, kMaxSharedPrefixSize + 1); }},
      {"a body's offset plus size wraps",
       [](Bytes& b) {
         SetFrameRef(b, kFirstFrameRef + 1, {0xFFFFFFF8, 0x10});
       }},
      {"a body ends one byte past the end",
       [size](Bytes& b) {
         SetFrameRef(b, kFirstFrameRef + 3, {size - 9, 10});
       }},
      {"the last record lies past the end",
       [size](Bytes& b) {
         SetLevelField(b, kAtIndexOffset, size - (kFirstFrameRef + 4) * kFrameRefSize + 1u);
       }},
      {"the index overlaps the header",
       [](Bytes& b) {
         // Its records are the magic, version and sizes: offsets far outside.
         SetLevelField(b, kAtIndexOffset, 0);
         SetLevelField(b, kAtFirstFrameRef, 0);
       }},
      {"4 billion columns of one row",
       [](Bytes& b) {
         SetLevelField(b, kAtColumns, 0xFFFFFFFF);
         SetLevelField(b, kAtRows, 1);
         SetLevelField(b, kAtRefCount, 0xFFFFFFFF);
       }},
      // Far more pixels than any frame format compresses into a few kilobytes.
      {"2 x 2 frames of 4096 x 4096 (a 256 MiB picture)",
       [](Bytes& b) {
         SetLevelField(b, kAtFrameWidth, kMaxFrameSide);
         SetLevelField(b, kAtFrameHeight, kMaxFrameSide);
       }},
      {"64 x 64 empty frames of 4096 x 32",
       [](Bytes& b) {
         Grid(b, 64, 64);
         SetLevelField(b, kAtFrameWidth, kMaxFrameSide);
       }},
      {"10,000 frames each the whole file: reading it 10,000 times over",
       [](Bytes& b) {
         const uint32_t records = Grid(b, 100, 100);
         for (uint64_t k = 0; k < uint64_t{100} * 100; ++k) {
           EncodeFrameRef({0, static_cast<uint32_t>(b.size())},
                          &b[records + (kFirstFrameRef + k) * kFrameRefSize]);
         }
       }},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    Bytes bytes = Good();
    damage.apply(bytes);
    ExpectRefused(bytes);
  }
}

// A grid of 64 x 64 empty frames of 32 x 32 (4 megapixels) in 34 KB is
// within the rule: its frames stay white.
TEST_F(BadMapFileTest, AGridOfEmptyFramesReadsAsWhite) {
  Bytes grid = Good();
  Grid(grid, 64, 64);
  WriteU32(&grid.at(48), 2048);  // the picture fills the grid
  WriteU32(&grid.at(52), 2048);
  ImageHandle white = ReadMapImage(std::span<const uint8_t>(grid));
  ASSERT_FALSE(white.IsNull());
  EXPECT_EQ(white.Width(), 2048u);
  EXPECT_EQ(white.GetBitmap()->PixelArgb(1000, 1000), test::kWhite);
}

}  // namespace
}  // namespace rzt2
