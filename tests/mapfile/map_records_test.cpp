// The acceptance rule of map file records. Their byte layout is held by the
// golden files and checked field by field in map_file_writer_test.cpp.
#include "mapfile/map_records.h"

#include <gtest/gtest.h>

namespace rzt2 {
namespace {

LevelEntry SampleEntry() {
  // A 1000 x 700 picture with 160 x 160 GIF frames at 100 %.
  return LevelEntry{10000, 1084 + 500 + 408, 784, 1084 + 500, 16, 51, 160, 160, 7, 5};
}

TEST(MapRecordsTest, AcceptanceNeedsMagicHeaderSizeAndEnoughFrameRefs) {
  MapHeader header;
  header.firstLevel = SampleEntry();
  auto bytes = EncodeMapHeader(header);
  EXPECT_TRUE(IsAcceptedMapFile(bytes));
  EXPECT_TRUE(IsAcceptedMapFile(std::span(bytes).first(48)));
  EXPECT_FALSE(IsAcceptedMapFile(std::span(bytes).first(47)));

  auto changed = [&](size_t offset, uint32_t value) {
    auto copy = bytes;
    WriteU32(&copy[offset], value);
    return IsAcceptedMapFile(copy);
  };
  EXPECT_FALSE(changed(0, 0x4D545A72));  // "rZTM"
  EXPECT_FALSE(changed(8, 47));
  EXPECT_TRUE(changed(8, 48));
  EXPECT_TRUE(changed(4, 12345));  // the version is ignored
  EXPECT_TRUE(changed(28, 35));    // exactly columns x rows
  EXPECT_FALSE(changed(28, 34));
  // 65536 x 65536 wraps to 0 in 32 bits; it must not pass a refCount of 0.
  auto huge = bytes;
  WriteU32(&huge[28], 0);
  WriteU32(&huge[40], 65536);
  WriteU32(&huge[44], 65536);
  EXPECT_FALSE(IsAcceptedMapFile(huge));
}

}  // namespace
}  // namespace rzt2
