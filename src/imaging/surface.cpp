#include "imaging/surface.h"

#include <cstring>

#include "raster/resample.h"

namespace rzt2 {

Surface::Surface(ImageHandle& target) : target_(target) {}

Status Surface::LastStatus() {
  const Status status = lastStatus_;
  lastStatus_ = Status::Ok;
  return status;
}

Status Surface::Record(Status status) {
  if (status != Status::Ok) lastStatus_ = status;
  return status;
}

Status Surface::Clear(uint32_t argb) {
  Bitmap* bitmap = target_.GetBitmap();
  if (bitmap == nullptr) return Record(Status::InvalidParameter);
  if (bitmap->Format() == PixelFormat::Indexed8) return Record(Status::NotImplemented);
  const int bpp = BytesPerPixel(bitmap->Format());
  uint8_t pixel[4];
  for (int c = 0; c < 4; ++c) pixel[c] = static_cast<uint8_t>(argb >> (8 * c));
  for (int32_t y = 0; y < bitmap->Height(); ++y) {
    uint8_t* row = bitmap->MutableRow(y);
    for (int32_t x = 0; x < bitmap->Width(); ++x)
      std::memcpy(row + static_cast<size_t>(x) * static_cast<size_t>(bpp), pixel, static_cast<size_t>(bpp));
  }
  return Status::Ok;
}

Status Surface::DrawImage(const ImageHandle& source, const Rect& destination) {
  const Bitmap* picture = source.GetBitmap();
  if (picture == nullptr) return Record(Status::InvalidParameter);
  return DrawImage(source, destination, Rect{0, 0, picture->Width(), picture->Height()});
}

Status Surface::DrawImage(const ImageHandle& source, const Rect& destination, const Rect& sourceRect) {
  const Bitmap* picture = source.GetBitmap();
  Bitmap* bitmap = target_.GetBitmap();
  if (picture == nullptr || bitmap == nullptr || picture == bitmap) return Record(Status::InvalidParameter);
  return Record(DrawPicture(*picture, *bitmap, destination, sourceRect));
}

}  // namespace rzt2
