// The public entry points of every codec run their work through these, so
// that a std::bad_alloc from a container becomes a status and a failed
// encoding leaves the stream as it was.
#pragma once

#include <new>

#include "raster/scratch_stream.h"
#include "raster/status.h"

namespace rzt2 {

template <typename Encode>
Status GuardEncode(ScratchStream& stream, Encode&& encode) {
  const uint64_t startPosition = stream.Position();
  const uint64_t startSize = stream.Size();
  Status status = Status::Ok;
  try {
    status = encode();
  } catch (const std::bad_alloc&) {
    status = Status::OutOfMemory;
  }
  if (status != Status::Ok) {
    if (stream.Size() > startSize) stream.SetSize(startSize);
    stream.Seek(startPosition);
  }
  return status;
}

template <typename Decode>
Status GuardDecode(Decode&& decode) {
  try {
    return decode();
  } catch (const std::bad_alloc&) {
    return Status::OutOfMemory;
  }
}

}  // namespace rzt2
