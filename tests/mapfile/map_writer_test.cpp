// MapWriter: construction guard and in-memory encoding and decoding.
#include <gtest/gtest.h>

#include "mapfile/map_writer.h"
#include "support/test_support.h"

namespace rzt2 {
namespace {

bool CodecReady(int32_t code) {
  auto writer = MapWriter::Create(EncoderParams{.EncoderCode = code}, nullptr, nullptr);
  ImageHandle frame(test::MakeIndexedBitmap(8, 8));
  FrameBuffer buffer(kFrameBufferSize);
  const bool ready = writer->EncodeToBuffer(frame, buffer) > 0;
  return ready || frame.LastStatus() != Status::NotImplemented;
}

TEST(MapWriterTest, CreationRefusesEncoderCodesOutsideTheTable) {
  for (int32_t code : {-1, 5, 1000}) {
    EXPECT_EQ(MapWriter::Create(EncoderParams{.EncoderCode = code}, nullptr, nullptr), nullptr) << code;
  }
  for (int32_t code = 0; code <= 4; ++code) {
    EXPECT_NE(MapWriter::Create(EncoderParams{.EncoderCode = code}, nullptr, nullptr), nullptr) << code;
  }
}

TEST(MapWriterTest, SharedPrefixLengthsFollowTheFrameFormat) {
  const uint32_t expected[] = {784, 0, 864, 0, 0};
  for (int32_t code = 0; code <= 4; ++code) {
    EXPECT_EQ(MapWriter::Create(EncoderParams{.EncoderCode = code}, nullptr, nullptr)->SharedPrefixSize(),
              expected[code]);
  }
}

TEST(MapWriterTest, KeepsItsOwnCopyOfTheParameters) {
  EncoderParams params{.EncoderCode = 2};
  auto writer = MapWriter::Create(params, nullptr, nullptr);
  params.EncoderCode = 0;
  EXPECT_EQ(writer->Params().EncoderCode, 2);
}

TEST(MapWriterTest, EncodesAndDecodesInEveryFrameFormat) {
  for (int32_t code = 0; code <= 4; ++code) {
    if (!CodecReady(code)) GTEST_SKIP() << "codec " << code << " not available yet";
    auto writer = MapWriter::Create(EncoderParams{.EncoderCode = code}, nullptr, nullptr);
    ImageHandle big(test::MakeIndexedBitmap(160, 120, 3));
    ImageHandle small(test::MakeIndexedBitmap(33, 17, 4));
    FrameBuffer buffer(kFrameBufferSize);
    const uint32_t first = writer->EncodeToBuffer(big, buffer);
    ASSERT_GT(first, 0u) << code;
    // The stream is emptied first: the second result is the small picture alone.
    const uint32_t second = writer->EncodeToBuffer(small, buffer);
    ASSERT_GT(second, 0u);
    ImageHandle decoded = writer->DecodeFromBuffer(std::span(buffer).first(second));
    ASSERT_FALSE(decoded.IsNull()) << code << ": " << StatusText(decoded.LastStatus());
    EXPECT_EQ(decoded.Width(), 33u);
    EXPECT_EQ(decoded.Height(), 17u);
  }
}

TEST(MapWriterTest, LongEncodingsAreNeverCutShort) {
  if (!CodecReady(3)) GTEST_SKIP() << "bmp codec not available yet";
  auto writer = MapWriter::Create(EncoderParams{.EncoderCode = 3}, nullptr, nullptr);
  ImageHandle large(test::MakeIndexedBitmap(1024, 700));  // over 700 KB as an 8-bit BMP
  FrameBuffer buffer(kFrameBufferSize);
  const uint32_t n = writer->EncodeToBuffer(large, buffer);
  ASSERT_GT(n, kFrameBufferSize);
  ImageHandle decoded = writer->DecodeFromBuffer(std::span(buffer).first(n));
  ASSERT_FALSE(decoded.IsNull());
  EXPECT_EQ(test::MaxChannelDifference(*decoded.GetBitmap(), *large.GetBitmap()), 0);
}

TEST(MapWriterTest, FailedEncodingsReturnZeroWithTheStatusOnThePicture) {
  auto writer = MapWriter::Create(EncoderParams{.EncoderCode = 0}, nullptr, nullptr);
  FrameBuffer buffer(kFrameBufferSize);
  ImageHandle empty;
  EXPECT_EQ(writer->EncodeToBuffer(empty, buffer), 0u);
  EXPECT_EQ(empty.LastStatus(), Status::InvalidParameter);
  ImageHandle garbage = writer->DecodeFromBuffer(std::span(buffer).first(10));
  EXPECT_TRUE(garbage.IsNull());
  EXPECT_NE(garbage.LastStatus(), Status::Ok);
}

}  // namespace
}  // namespace rzt2
