#include "io/file_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace rzt2 {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.Release();
  }
  return *this;
}

UniqueFd::~UniqueFd() { Close(); }

int UniqueFd::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

bool UniqueFd::Close() {
  if (fd_ < 0) return true;
  const int result = ::close(fd_);
  fd_ = -1;
  return result == 0;
}

Status StatusFromErrno(int error, Status fallback) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return Status::FileNotFound;
    case EACCES:
    case EPERM:
      return Status::AccessDenied;
    case EROFS:
      return Status::ReadOnlyFileSystem;
    case EISDIR:
      return Status::IsAFolder;
    case ENOMEM:
      return Status::OutOfMemory;
    case ENOSPC:
    case EDQUOT:
      return Status::DiskFull;
    case EFBIG:
      return Status::FileSizeLimit;
    case ENAMETOOLONG:
      return Status::NameTooLong;
    default:
      return fallback;
  }
}

Status OpenForReading(const std::filesystem::path& path, UniqueFd& out, uint64_t& size) {
  // Looking first keeps devices from being opened at all (opening some has
  // effects); the check after opening covers a file replaced in between.
  // O_NONBLOCK lets a FIFO without a writer open at once, to be refused.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return StatusFromErrno(errno, Status::ReadFailed);
  if (!S_ISREG(info.st_mode)) return Status::NotRegularFile;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.IsValid()) return StatusFromErrno(errno, Status::ReadFailed);
  if (::fstat(fd.Get(), &info) != 0) return StatusFromErrno(errno, Status::ReadFailed);
  if (!S_ISREG(info.st_mode)) return Status::NotRegularFile;
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return StatusFromErrno(errno, Status::ReadFailed);
  }
  out = std::move(fd);
  size = static_cast<uint64_t>(info.st_size);
  return Status::Ok;
}

namespace {

// Reads up to size bytes from the file's position; done is how many came
// (fewer when the file shrank while we read it).
Status ReadUpTo(int fd, uint8_t* data, size_t size, size_t& done) {
  done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return StatusFromErrno(errno, Status::ReadFailed);
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return Status::Ok;
}

}  // namespace

Status ReadWholeFile(const std::filesystem::path& path, uint64_t maxBytes, std::vector<uint8_t>& out) {
  UniqueFd fd;
  uint64_t size = 0;
  if (const Status status = OpenForReading(path, fd, size); status != Status::Ok) return status;
  if (size > maxBytes) return Status::TooLarge;
  if (const Status status = GuardMemory([&] {
        out.resize(static_cast<size_t>(size));
        return Status::Ok;
      });
      status != Status::Ok) {
    return status;
  }
  size_t done = 0;
  if (const Status status = ReadUpTo(fd.Get(), out.data(), out.size(), done); status != Status::Ok)
    return status;
  out.resize(done);
  return Status::Ok;
}

Status ReadWholeFile(const std::filesystem::path& path, uint64_t maxBytes, PixelBlock& out, size_t& length) {
  UniqueFd fd;
  uint64_t size = 0;
  if (const Status status = OpenForReading(path, fd, size); status != Status::Ok) return status;
  if (size > maxBytes) return Status::TooLarge;
  if (const Status status = PixelBlock::Allocate(static_cast<size_t>(size), out); status != Status::Ok)
    return status;
  return ReadUpTo(fd.Get(), out.Data(), out.Size(), length);
}

Status ReadAllAt(int fd, std::span<uint8_t> out, uint64_t offset) {
  while (!out.empty()) {
    const ssize_t n = ::pread(fd, out.data(), out.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return StatusFromErrno(errno, Status::ReadFailed);
    if (n == 0) return Status::ReadFailed;  // the file is shorter than it was
    out = out.subspan(static_cast<size_t>(n));
    offset += static_cast<uint64_t>(n);
  }
  return Status::Ok;
}

Status WriteAll(int fd, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return StatusFromErrno(errno, Status::WriteFailed);
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return Status::Ok;
}

Status WriteAllAt(int fd, std::span<const uint8_t> bytes, uint64_t offset) {
  while (!bytes.empty()) {
    const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return StatusFromErrno(errno, Status::WriteFailed);
    bytes = bytes.subspan(static_cast<size_t>(n));
    offset += static_cast<uint64_t>(n);
  }
  return Status::Ok;
}

Status CreateMemoryFile(UniqueFd& out) {
  out = UniqueFd(::memfd_create("rzt2", MFD_CLOEXEC));
  return out.IsValid() ? Status::Ok : StatusFromErrno(errno, Status::WriteFailed);
}

}  // namespace rzt2
