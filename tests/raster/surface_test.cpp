// Drawing: exact copies, area-aware reduction, edges, seamless frames.
#include "imaging/surface.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace rzt2 {
namespace {

using test::MakeMapLikeBitmap;

ImageHandle Blank(int32_t w, int32_t h, uint32_t argb, PixelFormat format = PixelFormat::Argb32) {
  ImageHandle image = ImageHandle::CreateBlank(w, h, format);
  Surface(image).Clear(argb);
  return image;
}

ImageHandle Checkerboard(int32_t w, int32_t h) {
  ImageHandle image = ImageHandle::CreateBlank(w, h, PixelFormat::Rgb24);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = image.GetBitmap()->MutableRow(y);
    for (int32_t x = 0; x < w; ++x) std::fill_n(row + 3 * static_cast<size_t>(x), 3, ((x + y) & 1) ? 255 : 0);
  }
  return image;
}

TEST(SurfaceTest, HalvingACheckerboardGivesFlatMidGrey) {
  ImageHandle board = Checkerboard(64, 64);
  for (int32_t size : {32, 16, 5}) {
    ImageHandle out = Blank(size, size, 0xFFFFFFFF);
    ASSERT_EQ(Surface(out).DrawImage(board, Rect{0, 0, size, size}), Status::Ok);
    for (int32_t y = 1; y < size - 1; ++y) {
      for (int32_t x = 1; x < size - 1; ++x) {
        const uint32_t p = out.GetBitmap()->PixelArgb(x, y);
        // Exactly half: each pixel is one 2 x 2 average, 127.5 rounded.
        EXPECT_NEAR(static_cast<int>(RedOf(p)), 128, size == 32 ? 0 : 3) << size << " at " << x << "," << y;
      }
    }
  }
}

TEST(SurfaceTest, FlatPicturesStayFlat) {
  ImageHandle flat = Blank(333, 211, 0xFF3C8AD2);
  for (Rect dst : {Rect{0, 0, 100, 70}, Rect{0, 0, 7, 3}, Rect{0, 0, 900, 500}}) {
    ImageHandle out = Blank(dst.width, dst.height, 0xFF000000);
    ASSERT_EQ(Surface(out).DrawImage(flat, dst), Status::Ok);
    for (int32_t y = 0; y < dst.height; ++y) {
      for (int32_t x = 0; x < dst.width; ++x) ASSERT_EQ(out.GetBitmap()->PixelArgb(x, y), 0xFF3C8AD2u);
    }
  }
}

TEST(SurfaceTest, DestinationKeepsItsPixelsWhereTheSourceRectLeavesThePicture) {
  ImageHandle picture = Blank(100, 70, 0xFF000000);
  // One frame at 1 %: 100 x 70 picture pixels of a 1600 x 1600 source rectangle.
  ImageHandle frame = Blank(160, 160, 0xFFFFFFFF);
  ASSERT_EQ(Surface(frame).DrawImage(picture, Rect{0, 0, 160, 160}, Rect{0, 0, 1600, 1600}), Status::Ok);
  Bitmap& f = *frame.GetBitmap();
  EXPECT_EQ(f.PixelArgb(9, 6), 0xFF000000u);
  EXPECT_EQ(f.PixelArgb(10, 6), 0xFFFFFFFFu);
  EXPECT_EQ(f.PixelArgb(9, 7), 0xFFFFFFFFu);
  EXPECT_EQ(f.PixelArgb(159, 159), 0xFFFFFFFFu);
  // Half a pixel covered: blended half way.
  ImageHandle odd = Blank(101, 10, 0xFF000000);
  ImageHandle half = Blank(60, 5, 0xFFFFFFFF);
  ASSERT_EQ(Surface(half).DrawImage(odd, Rect{0, 0, 60, 5}, Rect{0, 0, 120, 10}), Status::Ok);
  EXPECT_NEAR(static_cast<int>(RedOf(half.GetBitmap()->PixelArgb(50, 2))), 128, 2);
  EXPECT_EQ(half.GetBitmap()->PixelArgb(51, 2), 0xFFFFFFFFu);
}

// Cutting a level into frames must give exactly the pixels of one draw of
// the whole level, at every zoom factor the map levels use.
TEST(SurfaceTest, FramesOfALevelJoinWithoutSeams) {
  ImageHandle picture(MakeMapLikeBitmap(1013, 707, PixelFormat::Rgb24, 7));
  const int32_t frameW = 40, frameH = 30;
  for (int32_t factor : {1, 2, 4, 10, 20, 50, 100}) {
    const int32_t srcW = frameW * factor, srcH = frameH * factor;
    const int32_t columns = (1013 - 1) / srcW + 1, rows = (707 - 1) / srcH + 1;
    ImageHandle whole = Blank(columns * frameW, rows * frameH, 0xFFFFFFFF);
    ASSERT_EQ(Surface(whole).DrawImage(picture, Rect{0, 0, columns * frameW, rows * frameH},
                                       Rect{0, 0, columns * srcW, rows * srcH}),
              Status::Ok);
    for (int32_t row = 0; row < rows; ++row) {
      for (int32_t column = 0; column < columns; ++column) {
        ImageHandle frame = Blank(frameW, frameH, 0xFFFFFFFF);
        ASSERT_EQ(Surface(frame).DrawImage(picture, Rect{0, 0, frameW, frameH},
                                           Rect{column * srcW, row * srcH, srcW, srcH}),
                  Status::Ok);
        for (int32_t y = 0; y < frameH; ++y) {
          for (int32_t x = 0; x < frameW; ++x) {
            ASSERT_EQ(frame.GetBitmap()->PixelArgb(x, y),
                      whole.GetBitmap()->PixelArgb(column * frameW + x, row * frameH + y))
                << "factor " << factor << " frame " << column << "," << row << " at " << x << "," << y;
          }
        }
      }
    }
  }
}

TEST(SurfaceTest, FailuresAreKeptAsTheSurfaceStatus) {
  ImageHandle indexed = ImageHandle::CreateBlank(8, 8, PixelFormat::Indexed8);
  Surface onIndexed(indexed);
  EXPECT_EQ(onIndexed.Clear(0xFFFFFFFF), Status::NotImplemented);
  EXPECT_EQ(onIndexed.LastStatus(), Status::NotImplemented);
  EXPECT_EQ(onIndexed.LastStatus(), Status::Ok);

  ImageHandle target = Blank(8, 8, 0xFFFFFFFF);
  Surface surface(target);
  EXPECT_EQ(surface.DrawImage(ImageHandle(), Rect{0, 0, 8, 8}), Status::InvalidParameter);
  EXPECT_EQ(surface.DrawImage(target, Rect{0, 0, -1, 8}, Rect{0, 0, 4, 4}), Status::InvalidParameter);
  EXPECT_EQ(surface.LastStatus(), Status::InvalidParameter);
}

}  // namespace
}  // namespace rzt2
