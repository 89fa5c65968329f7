#include "raster/bitmap.h"

#include <cstring>
#include <new>

#include "raster/pyramid.h"

namespace rzt2 {

Bitmap::Bitmap(int32_t width, int32_t height, PixelFormat format, size_t stride, PixelBlock pixels)
    : width_(width), height_(height), format_(format), stride_(stride), pixels_(std::move(pixels)) {}

Bitmap::~Bitmap() = default;

Status Bitmap::Create(int32_t width, int32_t height, PixelFormat format, std::unique_ptr<Bitmap>& out,
                      size_t spareBytes) {
  if (width <= 0 || height <= 0) return Status::InvalidParameter;
  if (uint64_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(height) > kPixelCeiling) {
    return Status::OverPixelCeiling;
  }
  const size_t stride = static_cast<size_t>(width) * static_cast<size_t>(BytesPerPixel(format));
  PixelBlock pixels;
  if (const Status status = PixelBlock::Allocate(stride * static_cast<size_t>(height) + spareBytes, pixels);
      status != Status::Ok) {
    return status;
  }
  out.reset(new (std::nothrow) Bitmap(width, height, format, stride, std::move(pixels)));
  return out ? Status::Ok : Status::OutOfMemory;
}

Status Bitmap::Clone(std::unique_ptr<Bitmap>& out) const {
  return GuardMemory([&] {
    std::unique_ptr<Bitmap> copy;
    if (const Status status = Create(width_, height_, format_, copy); status != Status::Ok) return status;
    std::memcpy(copy->pixels_.Data(), pixels_.Data(), stride_ * static_cast<size_t>(height_));
    copy->palette_ = palette_;
    out = std::move(copy);
    return Status::Ok;
  });
}

uint8_t* Bitmap::MutableRow(int32_t y) {
  reductions_.reset();  // writers have the bitmap to themselves: no lock
  return pixels_.Data() + static_cast<size_t>(y) * stride_;
}

void Bitmap::ReadArgb(int32_t x, int32_t y, int32_t count, uint32_t* out) const {
  const uint8_t* row = Row(y);
  const size_t n = static_cast<size_t>(count);
  switch (format_) {
    case PixelFormat::Argb32:
      std::memcpy(out, row + 4 * static_cast<size_t>(x), 4 * n);
      break;
    case PixelFormat::Rgb24: {
      const uint8_t* p = row + 3 * static_cast<size_t>(x);
      for (size_t i = 0; i < n; ++i, p += 3) out[i] = Argb(255, p[2], p[1], p[0]);
      break;
    }
    case PixelFormat::Indexed8: {
      const uint8_t* p = row + static_cast<size_t>(x);
      const size_t entries = palette_.entries.size();
      for (size_t i = 0; i < n; ++i) out[i] = p[i] < entries ? palette_.entries[p[i]] : 0xFF000000u;
      break;
    }
  }
}

uint32_t Bitmap::PixelArgb(int32_t x, int32_t y) const {
  uint32_t argb = 0;
  ReadArgb(x, y, 1, &argb);
  return argb;
}

Pyramid& Bitmap::Reductions() const {
  const std::lock_guard lock(reductionsMutex_);
  if (!reductions_) reductions_ = std::make_unique<Pyramid>(*this);
  return *reductions_;
}

void Bitmap::SetReductions(std::unique_ptr<Pyramid> reductions) {
  const std::lock_guard lock(reductionsMutex_);
  reductions_ = std::move(reductions);
}

uint64_t Bitmap::MemoryBytes() const {
  const std::lock_guard lock(reductionsMutex_);
  return pixels_.MemoryBytes() + (reductions_ ? reductions_->MemoryBytes() : 0);
}

}  // namespace rzt2
