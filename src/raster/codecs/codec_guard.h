// The encoders' entry points run their work through GuardEncode: memory that
// runs out becomes OutOfMemory (GuardMemory), and a failed encoding leaves
// the stream as it was. The decoders' run through GuardMemory itself.
#pragma once

#include "base/status.h"
#include "io/scratch_stream.h"

namespace rzt2 {

template <typename Encode>
Status GuardEncode(ScratchStream& stream, Encode&& encode) {
  const uint64_t startPosition = stream.Position();
  const uint64_t startSize = stream.Size();
  const Status status = GuardMemory(encode);
  if (status != Status::Ok) {
    if (stream.Size() > startSize) stream.SetSize(startSize);
    stream.Seek(startPosition);
  }
  return status;
}

}  // namespace rzt2
