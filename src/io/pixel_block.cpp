#include "io/pixel_block.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <system_error>
#include <utility>

#include "base/memory_budget.h"
#include "io/file_io.h"

namespace rzt2 {

namespace {

#ifdef __EMSCRIPTEN__
// The browser: WebAssembly's memory has no pages to hand back (madvise does
// nothing there), and no disk stands behind the budget, so a block past it
// is refused.
void ZeroPixels(uint8_t* block, size_t size) { std::memset(block, 0, size); }
Status MapTemporaryFile(size_t /*size*/, uint8_t*& /*out*/) { return Status::OverMemoryBudget; }
#else
// Large blocks are zeroed without touching them: their whole pages go back
// to the kernel, which reads them as zeros until they are written. A picture
// refused after its header then costs nothing, and a decoder writes each
// pixel once. They are also offered huge pages: a picture is written once
// from end to end, and a fault per 4 KiB page cost a fifth of its decoding.
// The block still comes from operator new, like every other.
constexpr size_t kLazyZeroBytes = size_t{1} << 20;

void ZeroPixels(uint8_t* block, size_t size) {
  const auto first = reinterpret_cast<uintptr_t>(block);
  const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  if (size >= kLazyZeroBytes) {
    // Whole pages only: the block's first and last bytes may share theirs.
    uint8_t* start = block + ((page - first % page) % page);
    uint8_t* end = block + (size - (first + size) % page);
    if (::madvise(start, static_cast<size_t>(end - start), MADV_DONTNEED) == 0) {
      ::madvise(start, static_cast<size_t>(end - start), MADV_HUGEPAGE);  // a hint: refused, nothing changes
      std::memset(block, 0, static_cast<size_t>(start - block));
      std::memset(end, 0, static_cast<size_t>(block + size - end));
      return;
    }
  }
  std::memset(block, 0, size);
}

// Why the temporary folder took no file, as a cause that names the folder
// (a missing $TMPDIR is not a missing input); a full disk stays "disk full".
Status TemporaryFolderFailure(const std::filesystem::path& folder, int error) {
  const Status status = StatusFromErrno(error, Status::WriteFailed);
  if (status == Status::DiskFull || status == Status::OutOfMemory) return status;
  const std::string what = error == ENOENT                     ? "does not exist"
                           : error == ENOTDIR                  ? "is not a folder"
                           : error == EACCES || error == EPERM ? "cannot be written to"
                           : error == EROFS                    ? "is on a read-only file system"
                                                               : std::generic_category().message(error);
  SetTemporaryFolderProblem("temporary folder " + folder.string() + ": " + what);
  return Status::TemporaryFolderUnusable;
}

// A new file in folder that no name reaches, open for reading and writing.
Status OpenUnlinkedFile(const std::filesystem::path& folder, UniqueFd& out) {
  out = UniqueFd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (out.IsValid()) return Status::Ok;
  if (errno != EOPNOTSUPP && errno != EISDIR) return TemporaryFolderFailure(folder, errno);
  // A file system without O_TMPFILE: a named file, unlinked at once.
  std::string name = (folder / ".rzt2-pixels-XXXXXX").string();
  out = UniqueFd(::mkostemp(name.data(), O_CLOEXEC));
  if (!out.IsValid()) return TemporaryFolderFailure(folder, errno);
  ::unlink(name.c_str());
  return Status::Ok;
}

// The file's blocks are reserved before the mapping is used: a store into
// a page the disk has no room for would end the process with SIGBUS.
Status MapTemporaryFile(size_t size, uint8_t*& out) {
  UniqueFd file;
  if (const Status status = OpenUnlinkedFile(TemporaryFolder(), file); status != Status::Ok) return status;
  struct statvfs space {};
  if (::fstatvfs(file.Get(), &space) == 0 &&
      static_cast<uint64_t>(space.f_bavail) < size / std::max<uint64_t>(space.f_frsize, 1) + 1) {
    return Status::DiskFull;
  }
  if (const int error = ::posix_fallocate(file.Get(), 0, static_cast<off_t>(size)); error != 0) {
    return StatusFromErrno(error, Status::WriteFailed);
  }
  void* mapping = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, file.Get(), 0);
  if (mapping == MAP_FAILED) return Status::OutOfMemory;
  out = static_cast<uint8_t*>(mapping);
  return Status::Ok;  // the mapping keeps the file until it is unmapped
}

#endif  // __EMSCRIPTEN__

}  // namespace

std::filesystem::path TemporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder != nullptr && *folder != '\0' ? folder : "/var/tmp";
}

Status PixelBlock::Allocate(size_t size, PixelBlock& out) {
  PixelBlock block;
  block.size_ = size;
  MemoryBudget& budget = MemoryBudget::Process();
  block.counted_ = size >= kSmallPixelBlock && budget.TryTake(size);
  if (size < kSmallPixelBlock || block.counted_) {
    block.data_ = static_cast<uint8_t*>(::operator new(size, std::nothrow));
    if (block.data_ == nullptr) return Status::OutOfMemory;  // the destructor gives the budget back
    ZeroPixels(block.data_, size);
  } else {
    block.onDisk_ = true;
    if (const Status status = MapTemporaryFile(size, block.data_); status != Status::Ok) return status;
  }
  out = std::move(block);
  return Status::Ok;
}

PixelBlock::PixelBlock(PixelBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      onDisk_(std::exchange(other.onDisk_, false)),
      counted_(std::exchange(other.counted_, false)) {}

PixelBlock& PixelBlock::operator=(PixelBlock&& other) noexcept {
  if (this != &other) {
    Free();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    onDisk_ = std::exchange(other.onDisk_, false);
    counted_ = std::exchange(other.counted_, false);
  }
  return *this;
}

PixelBlock::~PixelBlock() { Free(); }

void PixelBlock::Free() {
  if (data_ != nullptr) {
    if (onDisk_) {
      ::munmap(data_, size_);
    } else {
      ::operator delete(data_);
    }
  }
  if (counted_) MemoryBudget::Process().Give(size_);
  data_ = nullptr;
  size_ = 0;
  onDisk_ = false;
  counted_ = false;
}

}  // namespace rzt2
