// Metafiles made by Inkscape from map.svg (tests/data/metafiles) against the
// SVG rendered directly by librsvg: size from the frame, exact colours,
// unpainted pixels transparent; then the sizes of frameless metafiles.
#include <cairo.h>
#include <gtest/gtest.h>
#include <librsvg/rsvg.h>

#include <memory>

#include "raster/codecs/render_codec.h"
#include "support/test_support.h"

namespace rzt2 {
namespace {

const std::filesystem::path kData = std::filesystem::path(RZT2_TEST_DATA) / "metafiles";
constexpr int32_t kSvgWidth = 240, kSvgHeight = 160;

// map.svg rendered by librsvg onto white, as Rgb24.
std::unique_ptr<Bitmap> SvgOnWhite() {
  GError* error = nullptr;
  RsvgHandle* handle = rsvg_handle_new_from_file((kData / "map.svg").c_str(), &error);
  EXPECT_NE(handle, nullptr);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kSvgWidth, kSvgHeight);
  cairo_t* cairo = cairo_create(surface);
  const RsvgRectangle viewport{0, 0, kSvgWidth, kSvgHeight};
  EXPECT_TRUE(rsvg_handle_render_document(handle, cairo, &viewport, &error));
  cairo_surface_flush(surface);
  std::unique_ptr<Bitmap> out;
  EXPECT_EQ(Bitmap::Create(kSvgWidth, kSvgHeight, PixelFormat::Rgb24, out), Status::Ok);
  const uint8_t* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int32_t y = 0; y < kSvgHeight; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<ptrdiff_t>(y) * stride);
    for (int32_t x = 0; x < kSvgWidth; ++x) {
      const uint32_t alpha = AlphaOf(row[x]);
      // Premultiplied: on white, each channel gains what alpha leaves.
      for (int c = 0; c < 3; ++c) {
        out->MutableRow(y)[3 * x + c] = static_cast<uint8_t>(((row[x] >> (8 * c)) & 0xFF) + 255 - alpha);
      }
    }
  }
  cairo_destroy(cairo);
  cairo_surface_destroy(surface);
  g_object_unref(handle);
  return out;
}

// The top-left part of an Argb32 picture composed onto white, as Rgb24.
std::unique_ptr<Bitmap> OnWhite(const Bitmap& picture, int32_t width, int32_t height) {
  std::unique_ptr<Bitmap> out;
  EXPECT_EQ(Bitmap::Create(width, height, PixelFormat::Rgb24, out), Status::Ok);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t argb = picture.PixelArgb(x, y);
      const uint32_t alpha = AlphaOf(argb);
      for (int c = 0; c < 3; ++c) {
        const uint32_t channel = (argb >> (8 * c)) & 0xFF;
        out->MutableRow(y)[3 * x + c] =
            static_cast<uint8_t>((channel * alpha + 255 * (255 - alpha) + 127) / 255);
      }
    }
  }
  return out;
}

std::unique_ptr<Bitmap> DecodeFile(const std::string& name, Status expected = Status::Ok,
                                   const DecodeLimits& limits = {}) {
  std::unique_ptr<Bitmap> out;
  EXPECT_EQ(test::DecodeWith(DecodeImage, test::ReadFileBytes(kData / name), out, limits), expected) << name;
  return out;
}

TEST(MetafileDecoding, InkscapePicturesMatchTheSvgRenderedDirectly) {
  const auto reference = SvgOnWhite();
  // Inkscape's EMF frame reaches 1.9 pixels beyond the drawing; libwmf's
  // raster device does not smooth edges, so the WMF differs more there.
  const struct {
    const char* name;
    int32_t width, height;
    double tolerance;  // mean difference of the red, green and blue channels
  } cases[] = {{"map.emf", 242, 162, 0.5}, {"map.wmf", 240, 160, 4.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto picture = DecodeFile(c.name);
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(picture->Format(), PixelFormat::Argb32);
    EXPECT_EQ(picture->Width(), c.width);
    EXPECT_EQ(picture->Height(), c.height);
    const double difference = test::MeanRgbDifference(*reference, *OnWhite(*picture, kSvgWidth, kSvgHeight));
    EXPECT_GE(difference, 0);
    EXPECT_LE(difference, c.tolerance);
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
