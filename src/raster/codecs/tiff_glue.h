// libtiff glue for the TIFF codec: owners for libtiff handles, open options
// that cap allocations, count errors and drop warnings, and client procs
// over the encoded bytes (reading) or a ScratchStream (writing).
#pragma once

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>

#include "base/status.h"
#include "io/scratch_stream.h"

namespace rzt2::tiff {

// libtiff's cap for any single allocation it makes; also our cap per tile.
inline constexpr tmsize_t kMaxTiffAlloc = tmsize_t{256} << 20;

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFree {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

// libtiff can report an error and still return success (a tiny file can
// claim gigabytes and get them), so every step checks the count.
struct Diagnostics {
  int errors = 0;
};

inline int CountError(TIFF*, void* user, const char*, const char*, va_list) {
  ++static_cast<Diagnostics*>(user)->errors;
  return 1;  // handled: libtiff's global handler would print
}
inline int DropWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// An offset for the file's own procs, or -1 cast, as libtiff expects on failure.
inline toff_t SeekTo(uint64_t& position, uint64_t size, toff_t offset, int whence) {
  const uint64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? position : size;
  const auto signedOffset = static_cast<int64_t>(offset);  // SEEK_CUR may go back
  if (signedOffset < 0 && static_cast<uint64_t>(-signedOffset) > base) return static_cast<toff_t>(-1);
  position = base + offset;
  return position;
}

struct MemoryFile {
  std::span<const uint8_t> data;
  uint64_t position = 0;

  static MemoryFile& Of(thandle_t handle) { return *static_cast<MemoryFile*>(handle); }
  static tmsize_t Read(thandle_t handle, void* buffer, tmsize_t size) {
    MemoryFile& self = Of(handle);
    if (size < 0) return -1;
    if (self.position >= self.data.size()) return 0;
    const auto count = static_cast<size_t>(
        std::min<uint64_t>(static_cast<uint64_t>(size), self.data.size() - self.position));
    std::memcpy(buffer, self.data.data() + self.position, count);
    self.position += count;
    return static_cast<tmsize_t>(count);
  }
  static tmsize_t Write(thandle_t, void*, tmsize_t) { return -1; }
  static toff_t Seek(thandle_t handle, toff_t offset, int whence) {
    MemoryFile& self = Of(handle);
    return SeekTo(self.position, self.data.size(), offset, whence);
  }
  static toff_t Size(thandle_t handle) { return Of(handle).data.size(); }
};

// A file written at the stream's position when it was opened.
struct StreamFile {
  ScratchStream* stream = nullptr;
  uint64_t base = 0;
  uint64_t position = 0;
  uint64_t size = 0;
  Status status = Status::Ok;  // the first failed stream operation

  static StreamFile& Of(thandle_t handle) { return *static_cast<StreamFile*>(handle); }
  static tmsize_t Read(thandle_t handle, void* buffer, tmsize_t size) {
    StreamFile& self = Of(handle);
    if (size < 0 || self.stream->Seek(self.base + self.position) != Status::Ok) return -1;
    const size_t wanted =
        std::min<uint64_t>(static_cast<uint64_t>(size), self.size - std::min(self.size, self.position));
    const size_t count = self.stream->Read(buffer, wanted);
    self.position += count;
    return static_cast<tmsize_t>(count);
  }
  static tmsize_t Write(thandle_t handle, void* buffer, tmsize_t size) {
    StreamFile& self = Of(handle);
    if (size < 0) return -1;
    Status status = self.stream->Seek(self.base + self.position);
    if (status == Status::Ok) status = self.stream->Write(buffer, static_cast<size_t>(size));
    if (status != Status::Ok) {
      if (self.status == Status::Ok) self.status = status;
      return -1;
    }
    self.position += static_cast<uint64_t>(size);
    self.size = std::max(self.size, self.position);
    return size;
  }
  static toff_t Seek(thandle_t handle, toff_t offset, int whence) {
    StreamFile& self = Of(handle);
    return SeekTo(self.position, self.size, offset, whence);
  }
  static toff_t Size(thandle_t handle) { return Of(handle).size; }
};

inline int CloseFile(thandle_t) { return 0; }
inline int NoMap(thandle_t, void**, toff_t*) { return 0; }
inline void NoUnmap(thandle_t, void*, toff_t) {}

template <typename File>
TiffPtr Open(File& file, const char* mode, Diagnostics& diagnostics) {
  std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
  if (!options) return nullptr;
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxTiffAlloc);
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), CountError, &diagnostics);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), DropWarning, nullptr);
  return TiffPtr(TIFFClientOpenExt("memory", mode, &file, File::Read, File::Write, File::Seek, CloseFile,
                                   File::Size, NoMap, NoUnmap, options.get()));
}

// One 8-bit RGB or RGBA pixel as stored, into a B, G, R(, A) pixel of step bytes.
inline void CopyRgb8(const uint8_t* samples, uint8_t* pixel, size_t step) {
  pixel[0] = samples[2];
  pixel[1] = samples[1];
  pixel[2] = samples[0];
  if (step == 4) pixel[3] = samples[3];
}

}  // namespace rzt2::tiff
