// ScratchStream: a growable in-memory stream with a position, used for
// every encoding and decoding of a map writer. Writing past the end grows
// it; reading stops at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/status.h"

namespace rzt2 {

class ScratchStream {
 public:
  Status Seek(uint64_t position);
  uint64_t Position() const { return position_; }
  Status SetSize(uint64_t size);
  uint64_t Size() const { return data_.size(); }
  // Writes at the position and advances it; OutOfMemory leaves the stream as it was.
  Status Write(const void* data, size_t count);
  // Reads up to count bytes from the position; returns how many were read.
  size_t Read(void* out, size_t count);
  // Empties the stream and positions it at 0, keeping its memory.
  void Reset();
  std::span<const uint8_t> Data() const { return data_; }

 private:
  std::vector<uint8_t> data_;
  uint64_t position_ = 0;
};

}  // namespace rzt2
