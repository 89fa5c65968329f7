// MapWriter's parts: creation, frame encoding, and WriteLevel and
// WritePreview called directly on an open file; and a level as written,
// which the desktop program shows "As map".
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <tuple>

#include "mapfile/level_as_written.h"
#include "mapfile/map_test_helpers.h"

namespace rzt2 {
namespace {

UniqueFd OpenForWriting(const std::filesystem::path& path) {
  return UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

TEST(MapWriterTest, OnlyFrameFormatsEncodeAndEncodingsAreNeverCutShort) {
  ImageHandle frame(test::MakeIndexedBitmap(16, 16));
  FrameBuffer buffer(kFrameBufferSize);
  uint32_t n = 0;
  for (int32_t code = -1; code <= 5; ++code) {
    const auto writer = MapWriter::Create(test::Params(code), nullptr, nullptr);
    ASSERT_NE(writer, nullptr);
    const bool known = code >= 0 && code <= 4;
    EXPECT_EQ(writer->EncodeToBuffer(frame, buffer, n), known ? Status::Ok : Status::InvalidParameter)
        << code;
  }
  auto writer = MapWriter::Create(test::Params(3), nullptr, nullptr);
  ImageHandle large(test::MakeIndexedBitmap(1024, 700));  // over 700 KB as an 8-bit BMP
  ASSERT_EQ(writer->EncodeToBuffer(large, buffer, n), Status::Ok);
  ASSERT_GT(n, kFrameBufferSize);
  ImageHandle decoded = ImageHandle::FromMemory(std::span(buffer).first(n));
  ASSERT_FALSE(decoded.IsNull());
  EXPECT_EQ(test::MaxChannelDifference(*decoded.GetBitmap(), *large.GetBitmap()), 0);

  ImageHandle empty;
  EXPECT_EQ(writer->EncodeToBuffer(empty, buffer, n), Status::InvalidParameter);
}

TEST(WriteLevelTest, LaysOutIndexPrefixAndBodiesOfTheGrid) {
  const struct {
    int32_t width, height;
    uint32_t scale, columns, rows;
  } cases[] = {{1000, 700, 10000, 7, 5}, {1120, 16, 10000, 7, 1}, {1121, 16, 10000, 8, 1},
               {1000, 700, 5000, 4, 3},  {1000, 700, 1000, 1, 1}, {1000, 700, 100, 1, 1},
               {1, 1, 10000, 1, 1},      {1, 1, 100, 1, 1}};
  test::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " at " << c.scale);
    auto writer = MapWriter::Create(test::Params(0), nullptr, nullptr);
    ImageHandle picture = test::MapLikePicture(c.width, c.height);
    const UniqueFd file = OpenForWriting(dir / "level");
    LevelEntry entry{.scale = c.scale};
    uint32_t offset = kPreviewOffset;
    ASSERT_EQ(writer->WriteLevel(picture, entry, c.scale, file, offset), Status::Ok);
    const LevelEntry expected{c.scale,   kPreviewOffset + (c.columns * c.rows + 16) * 8,
                              784,       kPreviewOffset,
                              16,        c.columns * c.rows + 16,
                              160,       160,
                              c.columns, c.rows};
    EXPECT_EQ(entry, expected);

    const test::MapBytes bytes(dir / "level");
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

TEST(WriteLevelTest, RefusesEmptyInputsAndLevelsThatWouldReachTwoGigabytes) {
  test::TempDir dir;
  auto writer = MapWriter::Create(test::Params(0), nullptr, nullptr);
  ImageHandle picture = test::MapLikePicture(1000, 700), empty;
  const UniqueFd file = OpenForWriting(dir / "level");
  LevelEntry entry{.scale = 10000};
  uint32_t offset = 0;
  EXPECT_EQ(writer->WriteLevel(empty, entry, 10000, file, offset), Status::InvalidParameter);
  EXPECT_EQ(writer->WritePreview(empty, file, offset), Status::InvalidParameter);
  EXPECT_EQ(writer->WriteLevel(picture, entry, 0, file, offset), Status::InvalidParameter);
  EXPECT_EQ(MapWriter::Create(EncoderParams{.FrameSizeX = 0}, nullptr, nullptr)
                ->WriteLevel(picture, entry, 10000, file, offset),
            Status::InvalidParameter);
  EXPECT_EQ(offset, 0u);

  // No room for the index and prefix: nothing is written.
  offset = static_cast<uint32_t>(kMapFileLimit - 1000);
  EXPECT_EQ(writer->WriteLevel(picture, entry, 10000, file, offset), Status::TooLarge);
  EXPECT_EQ(offset, kMapFileLimit - 1000);
  EXPECT_EQ(::lseek(file.Get(), 0, SEEK_END), 0);
  // Room for index and prefix but not for the first body.
  offset = static_cast<uint32_t>(kMapFileLimit - 408 - 784 - 10);
  EXPECT_EQ(writer->WriteLevel(picture, entry, 10000, file, offset), Status::TooLarge);
  EXPECT_LT(::lseek(file.Get(), 0, SEEK_END), static_cast<off_t>(kMapFileLimit));
  std::array<uint8_t, 408> index{};
  ASSERT_EQ(::pread(file.Get(), index.data(), index.size(), entry.indexOffset), 408);
  EXPECT_EQ(DecodeFrameRef(&index[size_t{16} * 8]), FrameRef{});
  offset = static_cast<uint32_t>(kMapFileLimit - 10);
  EXPECT_EQ(writer->WritePreview(picture, file, offset), Status::TooLarge);
}

// The level shown "As map" is the level of the file written with the same
// settings, frame by frame, cut to the picture's area at its scale. A
// fitted palette matches every colour by itself, so the pixels are the
// file's; with the built-in one, a colour of a coarser level whose memo
// key the file met first in a finer level may take the entry beside it.
TEST(LevelAsWrittenTest, IsTheLevelOfTheFileWrittenWithTheSameSettings) {
  test::TempDir dir;
  ThreadPool pool(2);  // the preview's own: its frames on threads, as a file's are
  // Its last column and row of frames cover it in part at every level.
  ImageHandle picture = test::MapLikePicture(1001, 701);
  const struct {
    int32_t code, paletteMode;
    double differing;  // the share of a coarser level's pixels that may differ
  } cases[] = {{0, kPaletteAdaptive, 0}, {1, kPaletteAdaptive, 0}, {2, kPaletteBuiltIn, 0.05}};
  // Level index, then the picture's size at that level.
  const std::array<uint32_t, 3> levels[] = {{0, 1001, 701}, {2, 251, 176}, {6, 11, 8}};
  for (const auto& c : cases) {
    EncoderParams params = test::Params(c.code, kZoomMaskFrom50);
    params.PaletteMode = c.paletteMode;
    ASSERT_EQ(MapWriter::Create(params, nullptr, nullptr)->WriteMapFile(picture, dir / "map.rzt2"),
              Status::Ok);
    const test::MapBytes map(dir / "map.rzt2");
    for (const auto& [level, width, height] : levels) {
      SCOPED_TRACE(testing::Message() << "format " << c.code << ", level " << level);
      ImageHandle shown = LevelAsWritten(picture, params, level, &pool);
      ASSERT_FALSE(shown.IsNull());
      ASSERT_EQ(std::pair(shown.Width(), shown.Height()), std::pair(width, height));
      const LevelEntry entry = map.Entry(level);
      uint64_t differing = 0;
      for (uint32_t k = 0; k < entry.columns * entry.rows; ++k) {
        ImageHandle frame = ImageHandle::FromMemory(map.Frame(entry, k));
        ASSERT_FALSE(frame.IsNull());
        const uint32_t left = k % entry.columns * 160, top = k / entry.columns * 160;
        for (uint32_t y = top; y < std::min(top + 160, height); ++y) {
          for (uint32_t x = left; x < std::min(left + 160, width); ++x) {
            differing +=
                shown.GetBitmap()->PixelArgb(static_cast<int32_t>(x), static_cast<int32_t>(y)) !=
                frame.GetBitmap()->PixelArgb(static_cast<int32_t>(x - left), static_cast<int32_t>(y - top));
          }
        }
      }
      EXPECT_LE(static_cast<double>(differing), level == 0 ? 0 : c.differing * width * height);
    }
  }
  // The coarsest stored level at least as large as the picture is shown.
  const std::tuple<int32_t, uint32_t, uint32_t, size_t> shownAt[] = {
      {kZoomMaskFrom50, 300, 210, 1},   {kZoomMaskFrom25, 300, 210, 0}, {kZoomMaskFrom50, 250, 175, 2},
      {kZoomMaskFrom50, 2000, 1400, 0}, {kZoomMaskFrom50, 10, 7, 6},    {kZoomMaskNone, 10, 7, 0}};
  for (const auto& [mask, shownWidth, shownHeight, level] : shownAt) {
    EXPECT_EQ(LevelForShownSize(test::Params(0, mask), 1000, 700, shownWidth, shownHeight), level)
        << mask << ": " << shownWidth << " x " << shownHeight;
  }
}

}  // namespace
}  // namespace rzt2
