// The format table: its lookups, and sniffing by each format's signatures.
#include "raster/codecs/image_formats.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace rzt2 {
namespace {

TEST(ImageFormatsTest, TheFrameFormatsAreTheLeadingRowsThatEncode) {
  for (size_t i = 0; i < std::size(kImageFormats); ++i) {
    EXPECT_EQ(kImageFormats[i].encode != nullptr, i < kFrameFormats.size()) << kImageFormats[i].name;
    EXPECT_NE(kImageFormats[i].decode, nullptr) << kImageFormats[i].name;
  }
}

TEST(ImageFormatsTest, LookupsFindWholeCaseSensitiveNamesOfFrameFormatsOnly) {
  EXPECT_EQ(FrameFormat(2), FindFrameFormat("png"));
  EXPECT_EQ(FrameCode(*FindFrameFormat("tiff")), 4);
  EXPECT_EQ(FindEncoder("image/gif"), FrameFormat(0));
  for (const char* missing : {"IMAGE/GIF", "image/gi", "image/gif ", "image/wmf"}) {
    EXPECT_EQ(FindEncoder(missing), nullptr) << missing;
  }
  for (const char* missing : {"GIF", "wmf", ""}) EXPECT_EQ(FindFrameFormat(missing), nullptr) << missing;
  EXPECT_EQ(FrameFormat(-1), nullptr);
  EXPECT_EQ(FrameFormat(kFrameFormatCount), nullptr);
}

TEST(ImageFormatsTest, SniffingKnowsEverySignatureAndNothingShorter) {
  const struct {
    std::string bytes;
    const char* format;
  } cases[] = {
      {"GIF87a", "gif"},
      {"GIF89a", "gif"},
      {"\xFF\xD8\xFF", "jpeg"},
      {"\x89PNG\r\n\x1a\n", "png"},
      {"BM", "bmp"},
      {std::string("II*\0", 4), "tiff"},
      {std::string("MM\0+", 4), "tiff"},  // BigTIFF
      {"\xD7\xCD\xC6\x9A", "wmf"},
      {std::string("\x02\0\x09\0\0\x03", 6), "wmf"},
      {std::string("\x01\0\0\0", 4) + std::string(36, 'x') + " EMF", "emf"},
  };
  for (const auto& c : cases) {
    const std::vector<uint8_t> bytes(c.bytes.begin(), c.bytes.end());
    const ImageFormat* format = SniffFormat(bytes);
    ASSERT_NE(format, nullptr) << c.format;
    EXPECT_EQ(format->name, c.format);
    EXPECT_EQ(SniffFormat(std::span(bytes).first(bytes.size() - 1)), nullptr) << c.format;
  }
  // What a map holds decodes as a frame format only: a metafile there starts no helper.
  const auto wmf = test::ReadFileBytes(std::string(RZT2_TEST_DATA) + "/metafiles/map.wmf");
  std::unique_ptr<Bitmap> frame;
  EXPECT_EQ(DecodeFrameImage(wmf, {}, frame), Status::UnknownImageFormat);
}

}  // namespace
}  // namespace rzt2
