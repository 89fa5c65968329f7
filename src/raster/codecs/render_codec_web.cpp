// The render codec of the browser's build, which has no helper process:
// the formats the helper draws (PDF, SVG, SVGZ, HEIF, AVIF, WMF, EMF) are
// refused with NeedsDesktopProgram, and the jobs name the format in the
// cause; bytes of none of them are no format of theirs.
#include "raster/codecs/render_codec.h"

namespace rzt2 {

namespace {

Status Refuse(std::span<const uint8_t> data) {
  return SniffRendered(data) == RenderedKind::None ? Status::UnknownImageFormat : Status::NeedsDesktopProgram;
}

}  // namespace

Status DecodeRendered(std::span<const uint8_t> data, const DecodeLimits& /*limits*/,
                      std::unique_ptr<Bitmap>& /*out*/, RowSink* /*rows*/) {
  return Refuse(data);
}

Status CountRenderedPages(std::span<const uint8_t> data, uint32_t& pages) {
  pages = 1;
  return Refuse(data);
}

}  // namespace rzt2
