// The memory budget for pixels: how many bytes of pictures, halved copies
// and decoding buffers the process keeps in its own memory. Blocks that do
// not fit go to disk-backed storage in the temporary folder (PixelBlock),
// so a picture larger than memory is converted, never refused for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

namespace rzt2 {

// A quarter of physical memory, or of the memory limit of the process's
// control group when that is lower.
uint64_t DefaultMemoryBudget();

// Reads a size such as "1.5G", "800M", "64k" or plain bytes ("1048576"):
// a whole number of bytes, or a number with an optional fraction and a
// unit K, M, G or T (binary: 1K = 1024 bytes) in either case. False for
// anything else and for sizes past 2^60 bytes.
bool ParseMemorySize(std::string_view text, uint64_t& bytes);

class MemoryBudget {
 public:
  // The process's budget, which every PixelBlock draws on; its limit starts
  // at DefaultMemoryBudget().
  static MemoryBudget& Process();

  explicit MemoryBudget(uint64_t limit) : limit_(limit) {}
  MemoryBudget(const MemoryBudget&) = delete;
  MemoryBudget& operator=(const MemoryBudget&) = delete;

  uint64_t Limit() const { return limit_.load(std::memory_order_relaxed); }
  // A new limit applies to blocks allocated from now on.
  void SetLimit(uint64_t bytes) { limit_.store(bytes, std::memory_order_relaxed); }
  // The bytes of the blocks held in memory now.
  uint64_t InUse() const { return inUse_.load(std::memory_order_relaxed); }

  // Counts bytes as held when they fit under the limit with what is held
  // already; false, counting nothing, when they do not.
  bool TryTake(uint64_t bytes);
  void Give(uint64_t bytes);

 private:
  std::atomic<uint64_t> limit_;
  std::atomic<uint64_t> inUse_{0};
};

}  // namespace rzt2
