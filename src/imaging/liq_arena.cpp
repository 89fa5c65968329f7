#include "imaging/liq_arena.h"

#include <cstdint>
#include <cstdlib>

namespace rzt2 {

namespace {

// libimagequant's SIMD code loads its pixels 16 bytes at a time.
constexpr size_t kAlignment = 16;

thread_local LiqArena* current = nullptr;

}  // namespace

Status LiqArena::Reserve(size_t pixels, LiqArena& out) {
  if (pixels > (SIZE_MAX - kFixedBytes) / kBytesPerPixel) return Status::OutOfMemory;
  if (const Status status = PixelBlock::Allocate(kFixedBytes + kBytesPerPixel * pixels, out.block_);
      status != Status::Ok) {
    return status;
  }
  out.used_ = 0;
  current = &out;
  return Status::Ok;
}

LiqArena::~LiqArena() {
  if (current == this) current = nullptr;
}

void* LiqArena::Allocate(size_t bytes) {
  LiqArena* arena = current;
  const size_t rounded = (bytes + kAlignment - 1) / kAlignment * kAlignment;
  if (arena == nullptr || rounded < bytes || rounded > arena->block_.Size() - arena->used_) {
    return std::malloc(bytes);
  }
  void* pointer = arena->block_.Data() + arena->used_;
  arena->used_ += rounded;
  return pointer;
}

void LiqArena::Free(void* pointer) {
  const LiqArena* arena = current;
  const auto* bytes = static_cast<uint8_t*>(pointer);
  // Blocks of the arena go with it, all at once.
  if (arena != nullptr && bytes >= arena->block_.Data() &&
      bytes < arena->block_.Data() + arena->block_.Size()) {
    return;
  }
  std::free(pointer);
}

}  // namespace rzt2
