// Plain file access for the raster layer and the map files: an owned
// descriptor, opening files for reading, and whole-file reads and writes
// that report a Status.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "base/status.h"
#include "io/pixel_block.h"

namespace rzt2 {

// Owns one file descriptor; closes it when destroyed.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  int Get() const { return fd_; }
  bool IsValid() const { return fd_ >= 0; }
  int Release();
  // Closes now and reports whether the close succeeded (it can report a
  // failed delayed write).
  bool Close();

 private:
  int fd_ = -1;
};

// A Status for the errno of a failed open, read or write; fallback for an
// errno without a status of its own.
Status StatusFromErrno(int error, Status fallback);

// Opens a regular file for reading and gives its length. Anything else (a
// folder, FIFO, device or socket) is refused with NotRegularFile, and is
// never opened in a way that could block. Every reader of files opens them here.
Status OpenForReading(const std::filesystem::path& path, UniqueFd& out, uint64_t& size);

// Reads a whole regular file; TooLarge when it is longer than maxBytes.
Status ReadWholeFile(const std::filesystem::path& path, uint64_t maxBytes, std::vector<uint8_t>& out);
// The same into a block held as pixels are (PixelBlock: in memory within the
// memory budget, else on disk); length is the bytes read.
Status ReadWholeFile(const std::filesystem::path& path, uint64_t maxBytes, PixelBlock& out, size_t& length);

// Fills out from an absolute offset, retrying short reads; ReadFailed when
// the file ends first. Keeps no position, so threads may share the descriptor.
Status ReadAllAt(int fd, std::span<uint8_t> out, uint64_t offset);

// Writes all bytes at the current position, retrying short writes.
Status WriteAll(int fd, std::span<const uint8_t> bytes);

// Writes the bytes at an absolute offset, retrying short writes.
Status WriteAllAt(int fd, std::span<const uint8_t> bytes, uint64_t offset);

// An anonymous file held in memory, gone when its descriptor is closed: for
// work that writes through a descriptor and reads back what it wrote.
Status CreateMemoryFile(UniqueFd& out);

}  // namespace rzt2
