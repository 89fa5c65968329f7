// Image handles: impossible sizes, pixel locks, files that are no pictures.
#include "imaging/image_handle.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace rzt2 {
namespace {

TEST(ImageHandleTest, CreationRefusesImpossibleSizes) {
  for (auto [w, h] : {std::pair{0, 5}, {5, -1}, {INT32_MAX, INT32_MAX}}) {
    ImageHandle image = ImageHandle::CreateBlank(w, h, PixelFormat::Argb32);
    EXPECT_TRUE(image.IsNull());
    EXPECT_NE(image.LastStatus(), Status::Ok);
  }
}

TEST(ImageHandleTest, LocksReadArgbFromAnyFormatAndWriteOnlyTheirOwn) {
  ImageHandle indexed = ImageHandle::CreateBlank(4, 2, PixelFormat::Indexed8);
  indexed.SetPalette(ColorPalette{0, {0xFF000000, 0xFFFF0000}});
  {
    PixelLock lock;
    ASSERT_EQ(indexed.LockBits(Rect{0, 0, 4, 2}, LockMode::Write, PixelFormat::Indexed8, lock), Status::Ok);
    lock.Scan0()[lock.Stride() + 3] = 1;
    PixelLock second;
    EXPECT_EQ(indexed.LockBits(Rect{0, 0, 4, 2}, LockMode::Read, PixelFormat::Argb32, second),
              Status::WrongState);
  }
  PixelLock read;
  ASSERT_EQ(indexed.LockBits(Rect{1, 1, 3, 1}, LockMode::Read, PixelFormat::Argb32, read), Status::Ok);
  const auto* pixels = reinterpret_cast<const uint32_t*>(read.Scan0());
  EXPECT_EQ(pixels[0], 0xFF000000u);
  EXPECT_EQ(pixels[2], 0xFFFF0000u);
  read.Unlock();

  ImageHandle rgb = ImageHandle::CreateBlank(4, 2, PixelFormat::Rgb24);
  PixelLock refused;
  EXPECT_EQ(rgb.LockBits(Rect{0, 0, 4, 2}, LockMode::Write, PixelFormat::Indexed8, refused),
            Status::NotImplemented);
  EXPECT_EQ(rgb.LockBits(Rect{2, 0, 4, 2}, LockMode::Read, PixelFormat::Argb32, refused),
            Status::InvalidParameter);
  EXPECT_FALSE(refused.IsLocked());
  EXPECT_EQ(rgb.LastStatus(), Status::InvalidParameter);
}

}  // namespace
}  // namespace rzt2
