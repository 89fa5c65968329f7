// Map file records: byte layout and the acceptance rule. The header bytes
// of written files are checked in map_file_writer_test.cpp.
#include "mapfile/map_records.h"

#include <gtest/gtest.h>

#include <cstring>

namespace rzt2 {
namespace {

LevelEntry SampleEntry() {
  // A 1000 x 700 picture with 160 x 160 GIF frames at 100 %.
  return LevelEntry{10000, 1084 + 500 + 408, 784, 1084 + 500, 16, 51, 160, 160, 7, 5};
}

TEST(MapRecordsTest, HeaderFieldsLandAtTheirOffsetsAndComeBack) {
  MapHeader header;
  header.firstLevel = SampleEntry();
  header.imageWidth = 1000;
  header.randomValues = {1, 2, 3, 4, 5, 6, 7, 32767};
  header.randomSum = 32795;
  const auto bytes = EncodeMapHeader(header);
  const std::pair<size_t, uint32_t> fields[] = {{0, 0x4D545A52},  // "RZTM"
                                                {4, 257},        {8, 444},    {12, 1084 + 500 + 408},
                                                {28, 51},        {40, 7},     {44, 5},
                                                {48, 1000},      {56, 444},   {60, 16},
                                                {64, 1},         {92, 32767}, {96, 0},
                                                {100, 32795}};
  for (const auto& [offset, value] : fields) EXPECT_EQ(ReadU32(&bytes[offset]), value) << "offset " << offset;
  for (size_t i = 104; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0) << i;

  MapHeader back;
  ASSERT_TRUE(DecodeMapHeader(bytes, back));
  header.firstLevel.scale = 0;  // the header does not carry the scale
  EXPECT_EQ(back, header);
  EXPECT_FALSE(DecodeMapHeader(std::span(bytes).first(443), back));
}

TEST(MapRecordsTest, EntriesAndFrameRefsRoundTripLittleEndian) {
  uint8_t bytes[40];
  const LevelEntry entry{100, 0x01020304, 0, 0xFFFFFFFF, 16, 17, 512, 32, 1, 1};
  EncodeLevelEntry(entry, bytes);
  EXPECT_EQ(bytes[4], 0x04);
  EXPECT_EQ(bytes[7], 0x01);
  EXPECT_EQ(DecodeLevelEntry(bytes), entry);
  uint8_t ref[8];
  EncodeFrameRef(FrameRef{1084, 0xABCDEF}, ref);
  EXPECT_EQ(ref[0], 0x3C);
  EXPECT_EQ(ref[1], 0x04);
  EXPECT_EQ(DecodeFrameRef(ref), (FrameRef{1084, 0xABCDEF}));
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
