#include "raster/bitmap.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <limits>
#include <new>

#include "raster/pyramid.h"

namespace rzt2 {

namespace {

// Large blocks are zeroed without touching them: their whole pages go back
// to the kernel, which reads them as zeros until they are written. A picture
// refused after its header then costs nothing, and a decoder writes each
// pixel once. The block still comes from operator new, like every other.
constexpr size_t kLazyZeroBytes = size_t{1} << 20;

void ZeroPixels(uint8_t* block, size_t size) {
  const auto first = reinterpret_cast<uintptr_t>(block);
  const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  if (size >= kLazyZeroBytes) {
    // Whole pages only: the block's first and last bytes may share theirs.
    uint8_t* start = block + ((page - first % page) % page);
    uint8_t* end = block + (size - (first + size) % page);
    if (::madvise(start, static_cast<size_t>(end - start), MADV_DONTNEED) == 0) {
      std::memset(block, 0, static_cast<size_t>(start - block));
      std::memset(end, 0, static_cast<size_t>(block + size - end));
      return;
    }
  }
  std::memset(block, 0, size);
}

}  // namespace

Bitmap::Bitmap(int32_t width, int32_t height, PixelFormat format, size_t stride,
               std::unique_ptr<uint8_t[]> pixels)
    : width_(width), height_(height), format_(format), stride_(stride), pixels_(std::move(pixels)) {}

Bitmap::~Bitmap() = default;

Status Bitmap::Create(int32_t width, int32_t height, PixelFormat format, std::unique_ptr<Bitmap>& out) {
  if (width <= 0 || height <= 0) return Status::InvalidParameter;
  const size_t stride = static_cast<size_t>(width) * static_cast<size_t>(BytesPerPixel(format));
  if (static_cast<size_t>(height) > std::numeric_limits<size_t>::max() / stride) {
    return Status::OutOfMemory;
  }
  const size_t size = stride * static_cast<size_t>(height);
  std::unique_ptr<uint8_t[]> pixels(new (std::nothrow) uint8_t[size]);
  if (!pixels) return Status::OutOfMemory;
  ZeroPixels(pixels.get(), size);
  out.reset(new (std::nothrow) Bitmap(width, height, format, stride, std::move(pixels)));
  return out ? Status::Ok : Status::OutOfMemory;
}

Status Bitmap::Clone(std::unique_ptr<Bitmap>& out) const {
  return GuardMemory([&] {
    std::unique_ptr<Bitmap> copy;
    if (const Status status = Create(width_, height_, format_, copy); status != Status::Ok) return status;
    std::memcpy(copy->pixels_.get(), pixels_.get(), stride_ * static_cast<size_t>(height_));
    copy->palette_ = palette_;
    out = std::move(copy);
    return Status::Ok;
  });
}

uint8_t* Bitmap::MutableRow(int32_t y) {
  reductions_.reset();
  return pixels_.get() + static_cast<size_t>(y) * stride_;
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
  if (!reductions_) reductions_ = std::make_unique<Pyramid>(*this);
  return *reductions_;
}

}  // namespace rzt2
