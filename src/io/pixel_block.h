// PixelBlock: the zero-filled bytes of a picture or of one of its halved
// copies. A block lives in the process's memory while the process's
// MemoryBudget has room for it; otherwise it is a shared mapping of an
// unlinked file in the temporary folder ($TMPDIR, else /var/tmp: /tmp is
// often memory itself), whose pages
// the kernel writes back and drops under memory pressure. Either way the
// bytes are plain memory to their users, so results do not depend on where
// they live.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "base/status.h"

namespace rzt2 {

// Blocks smaller than this stay in memory and are not counted: a file per
// frame-sized block would cost more than it saves.
inline constexpr size_t kSmallPixelBlock = size_t{64} << 10;

// $TMPDIR when set and not empty, else /var/tmp.
std::filesystem::path TemporaryFolder();

class PixelBlock {
 public:
  PixelBlock() = default;
  // OutOfMemory when memory runs out; on disk, DiskFull when the temporary
  // folder has not the room (checked before any of it is used, so a write
  // into the mapping never finds the disk full), TemporaryFolderUnusable
  // when it takes no file, or the cause of the failed file operation.
  static Status Allocate(size_t size, PixelBlock& out);
  PixelBlock(PixelBlock&& other) noexcept;
  PixelBlock& operator=(PixelBlock&& other) noexcept;
  PixelBlock(const PixelBlock&) = delete;
  PixelBlock& operator=(const PixelBlock&) = delete;
  ~PixelBlock();

  uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }
  // The bytes this block keeps in the process's memory: 0 on disk.
  size_t MemoryBytes() const { return onDisk_ ? 0 : size_; }

 private:
  void Free();

  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool onDisk_ = false;
  bool counted_ = false;  // taken from the process's budget
};

}  // namespace rzt2
