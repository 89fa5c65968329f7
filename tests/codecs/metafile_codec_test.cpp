// Metafiles made by Inkscape from map.svg (tests/data/metafiles): size from
// the frame, colours where map.svg paints them, unpainted pixels
// transparent; then the sizes of frameless metafiles.
#include <gtest/gtest.h>

#include <memory>

#include "support/test_support.h"

namespace rzt2 {
namespace {

const std::filesystem::path kData = std::filesystem::path(RZT2_TEST_DATA) / "metafiles";

TEST(MetafileDecoding, InkscapePicturesKeepTheirFrameAndColours) {
  // Inkscape's EMF frame reaches 1.9 pixels beyond the 240 x 160 drawing.
  const struct {
    const char* name;
    int32_t width, height;
  } cases[] = {{"map.emf", 242, 162}, {"map.wmf", 240, 160}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto picture = test::Decoded(DecodeImage, test::ReadFileBytes(kData / c.name));
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(picture->Format(), PixelFormat::Argb32);
    EXPECT_EQ(picture->Width(), c.width);
    EXPECT_EQ(picture->Height(), c.height);
    // Colours come through exactly; the margin and the frame's edge are unpainted.
    EXPECT_EQ(picture->PixelArgb(170, 45), Argb(255, 220, 30, 30));
    EXPECT_EQ(picture->PixelArgb(50, 40), Argb(255, 30, 60, 200));
    EXPECT_EQ(picture->PixelArgb(60, 120), Argb(255, 255, 255, 255));
    for (const auto& [x, y] : {std::pair{2, 2}, {120, 5}, {c.width - 1, c.height - 1}}) {
      EXPECT_EQ(AlphaOf(picture->PixelArgb(x, y)), 0u) << x << "," << y;
    }
  }
}

TEST(MetafileDecoding, FramelessMetafilesTakeTheDrawingsBoundsAndLimitsApply) {
  // Without its placeable header the WMF has no frame: libwmf measures the
  // drawing. An EMF with an empty frame falls back to its bounds.
  auto wmf = test::ReadFileBytes(kData / "map.wmf");
  wmf.erase(wmf.begin(), wmf.begin() + 22);
  wmf[6] = static_cast<uint8_t>(wmf.size() / 2);  // Inkscape's size in words counted the 22 bytes
  wmf[7] = static_cast<uint8_t>(wmf.size() / 512);
  auto emf = test::ReadFileBytes(kData / "map.emf");
  std::fill(emf.begin() + 24, emf.begin() + 40, uint8_t{0});
  for (const auto& bytes : {wmf, emf}) {
    std::unique_ptr<Bitmap> out;
    ASSERT_EQ(test::DecodeWith(DecodeImage, bytes, out), Status::Ok);
    EXPECT_GT(out->Width(), 200);
    EXPECT_GT(out->Height(), 100);
    const uint64_t pixels = static_cast<uint64_t>(out->Width()) * static_cast<uint64_t>(out->Height());
    EXPECT_EQ(test::DecodeWith(DecodeImage, bytes, out, DecodeLimits{pixels}), Status::Ok);
    EXPECT_EQ(test::DecodeWith(DecodeImage, bytes, out, DecodeLimits{pixels - 1}), Status::TooLarge);
  }
  // No frame and no bounds: a size of zero.
  std::fill(emf.begin() + 8, emf.begin() + 24, uint8_t{0xFF});
  std::unique_ptr<Bitmap> out;
  EXPECT_EQ(test::DecodeWith(DecodeImage, emf, out), Status::CorruptData);
}

}  // namespace
}  // namespace rzt2
