#include "io/scratch_stream.h"

#include <algorithm>
#include <cstring>

namespace rzt2 {

Status ScratchStream::Seek(uint64_t position) {
  position_ = position;
  return Status::Ok;
}

Status ScratchStream::SetSize(uint64_t size) {
  return GuardMemory([&] {
    data_.resize(static_cast<size_t>(size));
    return Status::Ok;
  });
}

Status ScratchStream::Write(const void* data, size_t count) {
  if (count == 0) return Status::Ok;
  if (position_ > SIZE_MAX - count) return Status::OutOfMemory;
  const size_t end = static_cast<size_t>(position_) + count;
  if (end > data_.size()) {
    if (const Status status = SetSize(end); status != Status::Ok) return status;
  }
  std::memcpy(data_.data() + position_, data, count);
  position_ = end;
  return Status::Ok;
}

size_t ScratchStream::Read(void* out, size_t count) {
  if (position_ >= data_.size()) return 0;
  const size_t n = std::min(count, data_.size() - static_cast<size_t>(position_));
  std::memcpy(out, data_.data() + position_, n);
  position_ += n;
  return n;
}

void ScratchStream::Reset() {
  data_.clear();
  position_ = 0;
}

}  // namespace rzt2
