// MapWriter::ReadMapPreview and ReadMapImage. Every offset and size read
// from the file is checked against the bytes actually held, in 64-bit
// arithmetic, before anything is allocated or read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <new>

#include "mapfile/map_writer.h"
#include "raster/surface.h"

namespace rzt2 {

namespace {

constexpr uint32_t kOpaqueWhite = 0xFFFFFFFF;
// Nothing past 4 GiB can be referenced by 32-bit offsets.
constexpr uint64_t kMaxMapFileBytes = uint64_t{1} << 32;
// Far above anything written (prefixes under 1 KiB).
constexpr uint32_t kMaxPrefixSize = 1 << 20;

// Whether length bytes at offset lie inside size bytes.
bool Holds(uint64_t size, uint64_t offset, uint64_t length) {
  return offset <= size && length <= size - offset;
}

bool ReadExactAt(int fd, std::span<uint8_t> out, uint64_t offset) {
  while (!out.empty()) {
    const ssize_t n = ::pread(fd, out.data(), out.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out = out.subspan(static_cast<size_t>(n));
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

// Finds the preview block of a file of `size` bytes, reading through
// readAt(offset, out), which fills out or returns false.
template <typename ReadAt>
Status LocatePreview(uint64_t size, ReadAt&& readAt, FrameRef& preview) {
  std::array<uint8_t, kMapHeaderSize> header{};
  if (size < kMapHeaderSize || !readAt(0, std::span<uint8_t>(header)) || !IsAcceptedMapFile(header)) {
    return Status::UnknownImageFormat;
  }
  const uint32_t indexOffset = ReadU32(&header[20]);
  std::array<uint8_t, kFrameRefSize> record{};
  if (!Holds(size, indexOffset, record.size()) || !readAt(indexOffset, std::span<uint8_t>(record))) {
    return Status::CorruptData;
  }
  preview = DecodeFrameRef(record.data());
  if (preview.size == 0 || !Holds(size, preview.offset, preview.size)) return Status::CorruptData;
  return Status::Ok;
}

// The first level's geometry is sane, its frame records, prefix and bodies
// all lie inside the file, and the file is large enough for the pixels and
// the decoding work the level asks for.
bool LevelIsHeld(std::span<const uint8_t> file, const LevelEntry& level) {
  if (level.frameWidth == 0 || level.frameWidth > kMaxFrameSide || level.frameHeight == 0 ||
      level.frameHeight > kMaxFrameSide || level.columns == 0 || level.rows == 0) {
    return false;
  }
  if (!FrameGridFits(level.columns, level.rows, level.frameWidth, level.frameHeight,
                     MaxLevelPixels(file.size()))) {
    return false;
  }
  const uint64_t frames = uint64_t{level.columns} * level.rows;
  if (level.prefixSize > kMaxPrefixSize || !Holds(file.size(), level.prefixOffset, level.prefixSize)) {
    return false;
  }
  const uint64_t records = uint64_t{level.indexOffset} + uint64_t{level.firstFrameRef} * kFrameRefSize;
  if (!Holds(file.size(), records, frames * kFrameRefSize)) return false;
  uint64_t decodedBytes = frames * level.prefixSize;
  for (uint64_t k = 0; k < frames; ++k) {
    const FrameRef ref = DecodeFrameRef(&file[records + k * kFrameRefSize]);
    if (!Holds(file.size(), ref.offset, ref.size)) return false;
    decodedBytes += ref.size;
  }
  return decodedBytes <= file.size() * kMaxDecodedBytesPerMapByte;
}

}  // namespace

ImageHandle MapWriter::ReadMapPreview(const std::filesystem::path& path) {
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.IsValid()) return ImageHandle::Failed(StatusFromErrno(errno, Status::ReadFailed));
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return ImageHandle::Failed(Status::ReadFailed);
  const auto size = static_cast<uint64_t>(info.st_size);
  const auto readAt = [&fd](uint64_t offset, std::span<uint8_t> out) {
    return ReadExactAt(fd.Get(), out, offset);
  };
  FrameRef preview;
  if (const Status status = LocatePreview(size, readAt, preview); status != Status::Ok) {
    return ImageHandle::Failed(status);
  }
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(preview.size);
  } catch (const std::bad_alloc&) {
    return ImageHandle::Failed(Status::OutOfMemory);
  }
  if (!ReadExactAt(fd.Get(), bytes, preview.offset)) return ImageHandle::Failed(Status::ReadFailed);
  return DecodeFromBuffer(bytes, DecodeLimits{kMaxPreviewPixels});
}

ImageHandle MapWriter::ReadMapPreview(std::span<const uint8_t> file) {
  const auto readAt = [file](uint64_t offset, std::span<uint8_t> out) {
    std::copy_n(file.begin() + static_cast<ptrdiff_t>(offset), out.size(), out.begin());
    return true;  // LocatePreview reads only what the size holds
  };
  FrameRef preview;
  if (const Status status = LocatePreview(file.size(), readAt, preview); status != Status::Ok) {
    return ImageHandle::Failed(status);
  }
  return DecodeFromBuffer(file.subspan(preview.offset, preview.size), DecodeLimits{kMaxPreviewPixels});
}

ImageHandle MapWriter::ReadMapImage(const std::filesystem::path& path) {
  std::vector<uint8_t> file;
  if (const Status status = ReadWholeFile(path, kMaxMapFileBytes, file); status != Status::Ok) {
    return ImageHandle::Failed(status);
  }
  return ReadMapImage(std::span<const uint8_t>(file));
}

ImageHandle MapWriter::ReadMapImage(std::span<const uint8_t> file) {
  MapHeader header;
  if (!DecodeMapHeader(file, header) || !IsAcceptedMapFile(file)) {
    return ImageHandle::Failed(Status::UnknownImageFormat);
  }
  const LevelEntry& level = header.firstLevel;
  if (!LevelIsHeld(file, level)) return ImageHandle::Failed(Status::CorruptData);

  const auto frameW = static_cast<int32_t>(level.frameWidth);
  const auto frameH = static_cast<int32_t>(level.frameHeight);
  ImageHandle result =
      ImageHandle::CreateBlank(frameW * static_cast<int32_t>(level.columns),
                               frameH * static_cast<int32_t>(level.rows), PixelFormat::Argb32);
  if (!result) return result;
  Surface surface(result);
  surface.Clear(kOpaqueWhite);

  const std::span<const uint8_t> prefix = file.subspan(level.prefixOffset, level.prefixSize);
  const uint64_t records = uint64_t{level.indexOffset} + uint64_t{level.firstFrameRef} * kFrameRefSize;
  // A frame is never larger than the frame size; anything claiming more is damage.
  const DecodeLimits limits{uint64_t{level.frameWidth} * level.frameHeight};
  std::vector<uint8_t> frame;
  try {
    for (uint32_t row = 0; row < level.rows; ++row) {
      for (uint32_t column = 0; column < level.columns; ++column) {
        const uint64_t k = uint64_t{row} * level.columns + column;
        const FrameRef ref = DecodeFrameRef(&file[records + k * kFrameRefSize]);
        const std::span<const uint8_t> body = file.subspan(ref.offset, ref.size);
        frame.assign(prefix.begin(), prefix.end());
        frame.insert(frame.end(), body.begin(), body.end());
        ImageHandle decoded = DecodeFromBuffer(frame, limits);
        if (decoded.IsNull()) continue;  // its area stays white
        ColorPalette palette;
        if (k == 0 && decoded.GetPalette(palette) == Status::Ok) result.SetPalette(palette);
        const Rect destination{static_cast<int32_t>(column) * frameW, static_cast<int32_t>(row) * frameH,
                               frameW, frameH};
        surface.DrawImage(decoded, destination, Rect{0, 0, frameW, frameH});
      }
    }
  } catch (const std::bad_alloc&) {
    return ImageHandle::Failed(Status::OutOfMemory);
  }
  return result;
}

}  // namespace rzt2
