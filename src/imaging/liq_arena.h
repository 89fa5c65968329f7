// The memory libimagequant works in, reserved before it is called.
// libimagequant does not survive an allocation that fails (it goes on with
// a null pointer), so its allocator hooks draw from one pixel block taken
// up front, sized for the pixels it is given; a file whose arena cannot be
// had fails before the call, with the block's status.
#pragma once

#include <cstddef>

#include "base/status.h"
#include "io/pixel_block.h"

namespace rzt2 {

class LiqArena {
 public:
  // libimagequant's needs, measured on pictures of every colour count:
  // at most about 80 bytes a pixel and 0.5 MiB besides; the arena holds
  // half as much again.
  static constexpr size_t kBytesPerPixel = 128;
  static constexpr size_t kFixedBytes = size_t{1} << 20;

  // Takes the arena for quantizing pixels and makes it the calling
  // thread's, which the hooks draw from, until the arena goes. Every
  // libimagequant object made meanwhile must be destroyed before it.
  static Status Reserve(size_t pixels, LiqArena& out);
  LiqArena() = default;
  ~LiqArena();
  LiqArena(const LiqArena&) = delete;
  LiqArena& operator=(const LiqArena&) = delete;

  // The hooks for liq_attr_create_with_allocator. Past the arena's end
  // (which the measure above leaves for pictures nobody met yet) they fall
  // back on the heap.
  static void* Allocate(size_t bytes);
  static void Free(void* pointer);

 private:
  PixelBlock block_;
  size_t used_ = 0;
};

}  // namespace rzt2
