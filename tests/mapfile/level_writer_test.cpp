// MapWriter's parts: creation, frame encoding, and WriteLevel and
// WritePreview called directly on an open file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

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

}  // namespace
}  // namespace rzt2
