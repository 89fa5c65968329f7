// The metafile libraries run in this process, as the rzt2-render helper
// runs them, so that the sanitizers see what they do with hostile input. The
// converter never runs them in its own process; the `metafile` target fuzzes
// the decoder that does, through the helper.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "render/metafile_render.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr uint64_t kFuzzMaxPixels = uint64_t{1} << 20;
  const std::vector<uint8_t> bytes(data, data + size);
  rzt2::RenderedPicture picture;
  if (rzt2::RenderMetafile(bytes, {.maxPixels = kFuzzMaxPixels}, picture) != rzt2::Status::Ok) return 0;
  if (picture.argb.size() != uint64_t{picture.width} * picture.height ||
      picture.argb.size() > kFuzzMaxPixels) {
    std::abort();
  }
  return 0;
}
