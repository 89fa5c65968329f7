// ImageHandle owns one bitmap (or none, when creation failed) and the
// status of its last failing operation. Reading the status returns it and
// resets it to Ok; successful operations leave it alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

#include "base/status.h"
#include "base/thread_pool.h"
#include "raster/bitmap.h"
#include "raster/codecs/decode_limits.h"

namespace rzt2 {

class ScratchStream;
class PixelLock;

enum class LockMode { Read, Write };

// The largest picture file we read into memory: well above any picture
// under the default pixel limit in a compressed format.
inline constexpr uint64_t kMaxPictureFileBytes = uint64_t{4} << 30;

class ImageHandle {
 public:
  ImageHandle() = default;
  explicit ImageHandle(std::unique_ptr<Bitmap> bitmap) : bitmap_(std::move(bitmap)) {}
  static ImageHandle Failed(Status status);

  // Zero-filled pixels (transparent black, or index 0) of the given size.
  static ImageHandle CreateBlank(int32_t width, int32_t height, PixelFormat format);
  // Decodes a picture file of any format we know, by its contents. With a
  // pool, for a picture that is to be drawn scaled down (a conversion, a
  // preview), its halved copies, which such draws read, are built on the
  // pool while it decodes (PyramidBuilder); otherwise the first draw that
  // needs them builds them. The pixels are the same.
  static ImageHandle FromFile(const std::filesystem::path& path, const DecodeLimits& limits = {},
                              ThreadPool* copiesPool = nullptr);
  static ImageHandle FromMemory(std::span<const uint8_t> bytes, const DecodeLimits& limits = {});
  // Decodes a map file's frame or preview: the frame formats only.
  static ImageHandle FromMapFrame(std::span<const uint8_t> bytes, const DecodeLimits& limits);
  // Decodes the whole contents of the stream.
  static ImageHandle FromStream(const ScratchStream& stream, const DecodeLimits& limits = {});

  ImageHandle(ImageHandle&&) noexcept = default;
  ImageHandle& operator=(ImageHandle&&) noexcept = default;
  ~ImageHandle();

  // A copy of the picture with the same last status.
  ImageHandle Clone() const;
  // Destroys the picture; the handle becomes empty.
  void Reset() { bitmap_.reset(); }

  bool IsNull() const { return bitmap_ == nullptr; }
  explicit operator bool() const { return bitmap_ != nullptr; }
  Bitmap* GetBitmap() { return bitmap_.get(); }
  const Bitmap* GetBitmap() const { return bitmap_.get(); }

  Status LastStatus();
  // Keeps status as the last status unless it is Ok. Returns it.
  Status Record(Status status);

  // Size queries record InvalidParameter on an empty handle and give 0.
  uint32_t Width();
  uint32_t Height();

  // The byte size of the palette record (8 plus 4 per entry); 0 on failure.
  size_t PaletteSize();
  Status GetPalette(ColorPalette& out);
  Status SetPalette(const ColorPalette& palette);

  // Locks a rectangle of pixels. Reading works as Argb32 from any format
  // (converted) and as the bitmap's own format; writing only in the
  // bitmap's own format. One lock at a time.
  Status LockBits(const Rect& rect, LockMode mode, PixelFormat format, PixelLock& lock);

 private:
  friend class PixelLock;
  std::unique_ptr<Bitmap> bitmap_;
  Status lastStatus_ = Status::Ok;
  bool locked_ = false;
};

// The pixels of a locked rectangle; unlocks when destroyed or reset.
class PixelLock {
 public:
  PixelLock() = default;
  PixelLock(const PixelLock&) = delete;
  PixelLock& operator=(const PixelLock&) = delete;
  ~PixelLock() { Unlock(); }

  void Unlock();
  bool IsLocked() const { return owner_ != nullptr; }

  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  PixelFormat Format() const { return format_; }
  ptrdiff_t Stride() const { return stride_; }
  uint8_t* Scan0() const { return scan0_; }

 private:
  friend class ImageHandle;
  ImageHandle* owner_ = nullptr;
  int32_t width_ = 0;
  int32_t height_ = 0;
  PixelFormat format_ = PixelFormat::Argb32;
  ptrdiff_t stride_ = 0;
  uint8_t* scan0_ = nullptr;
  std::unique_ptr<uint8_t[]> converted_;  // for reads in another format
};

}  // namespace rzt2
