#include "imaging/image_handle.h"

#include <cstring>
#include <new>
#include <optional>

#include "io/file_io.h"
#include "io/scratch_stream.h"
#include "raster/codecs/image_formats.h"
#include "raster/pyramid.h"

namespace rzt2 {

namespace {

ImageHandle FromDecode(std::span<const uint8_t> bytes, const DecodeLimits& limits,
                       decltype(&DecodeImage) decode = DecodeImage, ThreadPool* copiesPool = nullptr) {
  std::optional<PyramidBuilder> builder;
  if (copiesPool != nullptr) builder.emplace(*copiesPool);
  std::unique_ptr<Bitmap> bitmap;
  const Status status = decode(bytes, limits, bitmap, builder ? &*builder : nullptr);
  if (status != Status::Ok) return ImageHandle::Failed(status);
  if (builder) builder->Finish(*bitmap);
  return ImageHandle(std::move(bitmap));
}

bool Contains(const Bitmap& bitmap, const Rect& rect) {
  return rect.x >= 0 && rect.y >= 0 && rect.width > 0 && rect.height > 0 &&
         rect.width <= bitmap.Width() - rect.x && rect.height <= bitmap.Height() - rect.y;
}

}  // namespace

ImageHandle::~ImageHandle() = default;

ImageHandle ImageHandle::Failed(Status status) {
  ImageHandle handle;
  handle.Record(status);
  return handle;
}

ImageHandle ImageHandle::CreateBlank(int32_t width, int32_t height, PixelFormat format) {
  std::unique_ptr<Bitmap> bitmap;
  const Status status = Bitmap::Create(width, height, format, bitmap);
  if (status != Status::Ok) return Failed(status);
  return ImageHandle(std::move(bitmap));
}

ImageHandle ImageHandle::FromFile(const std::filesystem::path& path, const DecodeLimits& limits,
                                  ThreadPool* copiesPool) {
  // A scan's file can take hundreds of megabytes: it counts like pixels.
  PixelBlock bytes;
  size_t length = 0;
  const Status status = ReadWholeFile(path, kMaxPictureFileBytes, bytes, length);
  if (status != Status::Ok) return Failed(status);
  return FromDecode(std::span(bytes.Data(), length), limits, DecodeImage, copiesPool);
}

ImageHandle ImageHandle::FromMemory(std::span<const uint8_t> bytes, const DecodeLimits& limits) {
  return FromDecode(bytes, limits);
}

ImageHandle ImageHandle::FromMapFrame(std::span<const uint8_t> bytes, const DecodeLimits& limits) {
  return FromDecode(bytes, limits, DecodeFrameImage);
}

ImageHandle ImageHandle::FromStream(const ScratchStream& stream, const DecodeLimits& limits) {
  return FromDecode(stream.Data(), limits);
}

ImageHandle ImageHandle::Clone() const {
  ImageHandle copy;
  copy.lastStatus_ = lastStatus_;
  if (bitmap_) copy.Record(bitmap_->Clone(copy.bitmap_));
  return copy;
}

Status ImageHandle::LastStatus() {
  const Status status = lastStatus_;
  lastStatus_ = Status::Ok;
  return status;
}

Status ImageHandle::Record(Status status) {
  if (status != Status::Ok) lastStatus_ = status;
  return status;
}

uint32_t ImageHandle::Width() {
  if (!bitmap_) {
    Record(Status::InvalidParameter);
    return 0;
  }
  return static_cast<uint32_t>(bitmap_->Width());
}

uint32_t ImageHandle::Height() {
  if (!bitmap_) {
    Record(Status::InvalidParameter);
    return 0;
  }
  return static_cast<uint32_t>(bitmap_->Height());
}

size_t ImageHandle::PaletteSize() {
  if (!bitmap_) {
    Record(Status::InvalidParameter);
    return 0;
  }
  return bitmap_->Palette().ByteSize();
}

Status ImageHandle::GetPalette(ColorPalette& out) {
  if (!bitmap_) return Record(Status::InvalidParameter);
  return Record(GuardMemory([&] {
    out = bitmap_->Palette();
    return Status::Ok;
  }));
}

Status ImageHandle::SetPalette(const ColorPalette& palette) {
  if (!bitmap_) return Record(Status::InvalidParameter);
  return Record(GuardMemory([&] {
    bitmap_->SetPalette(palette);
    return Status::Ok;
  }));
}

Status ImageHandle::LockBits(const Rect& rect, LockMode mode, PixelFormat format, PixelLock& lock) {
  if (!bitmap_ || lock.IsLocked()) return Record(Status::InvalidParameter);
  if (locked_) return Record(Status::WrongState);
  if (!Contains(*bitmap_, rect)) return Record(Status::InvalidParameter);
  const bool own = format == bitmap_->Format();
  if (!own && !(mode == LockMode::Read && format == PixelFormat::Argb32)) {
    return Record(Status::NotImplemented);
  }
  lock.width_ = rect.width;
  lock.height_ = rect.height;
  lock.format_ = format;
  if (own) {
    const int bpp = BytesPerPixel(format);
    // MutableRow also drops cached reductions when the pixels may change.
    uint8_t* row =
        mode == LockMode::Write ? bitmap_->MutableRow(rect.y) : const_cast<uint8_t*>(bitmap_->Row(rect.y));
    lock.scan0_ = row + static_cast<size_t>(rect.x) * static_cast<size_t>(bpp);
    lock.stride_ = static_cast<ptrdiff_t>(bitmap_->Stride());
  } else {
    const size_t stride = 4 * static_cast<size_t>(rect.width);
    lock.converted_.reset(new (std::nothrow) uint8_t[stride * static_cast<size_t>(rect.height)]);
    if (!lock.converted_) return Record(Status::OutOfMemory);
    for (int32_t y = 0; y < rect.height; ++y) {
      bitmap_->ReadArgb(rect.x, rect.y + y, rect.width,
                        reinterpret_cast<uint32_t*>(lock.converted_.get() + stride * static_cast<size_t>(y)));
    }
    lock.scan0_ = lock.converted_.get();
    lock.stride_ = static_cast<ptrdiff_t>(stride);
  }
  lock.owner_ = this;
  locked_ = true;
  return Status::Ok;
}

void PixelLock::Unlock() {
  if (owner_ == nullptr) return;
  owner_->locked_ = false;
  owner_ = nullptr;
  scan0_ = nullptr;
  converted_.reset();
}

}  // namespace rzt2
