// MapWriter::WritePreview: the whole picture fitted into the preview box,
// reduced to the file's palette and stored as one complete encoding.
#include <algorithm>
#include <cmath>
#include <limits>

#include "mapfile/map_writer.h"

namespace rzt2 {

namespace {

// The preview size for a width x height picture and a boxW x boxH box. The
// scale is a 32-bit float and the products are truncated, so a 1000-pixel
// side in a 640 box gives 639; viewers expect exactly these sizes. Pictures
// smaller than the box are enlarged. A side that truncates to nothing keeps
// one pixel. False when the box is empty.
bool PreviewSize(uint32_t width, uint32_t height, int32_t boxW, int32_t boxH, Rect& out) {
  if (boxW <= 0 || boxH <= 0) return false;
  const auto scaleX = static_cast<float>(static_cast<double>(boxW) / width);
  const double scaleY = static_cast<double>(boxH) / height;
  const float scale = scaleY < scaleX ? static_cast<float>(scaleY) : scaleX;
  const auto side = [scale](uint32_t length) {
    const double scaled = std::trunc(static_cast<double>(length) * static_cast<double>(scale));
    return static_cast<int32_t>(std::clamp(scaled, 1.0, double{std::numeric_limits<int32_t>::max()}));
  };
  out = Rect{0, 0, side(width), side(height)};
  return true;
}

}  // namespace

Status MapWriter::PreviewBlock(ImageHandle& image, Block& out) const {
  const uint32_t width = image.Width();
  const uint32_t height = image.Height();
  Rect preview;
  if (width == 0 || height == 0 ||
      !PreviewSize(width, height, params_.MiniFrameSizeX, params_.MiniFrameSizeY, preview)) {
    return Status::InvalidParameter;
  }
  // One frame of its own size: the whole picture, fitted.
  out = Block{.frameW = preview.width,
              .frameH = preview.height,
              .sourceFrameW = static_cast<int32_t>(width),
              .sourceFrameH = static_cast<int32_t>(height)};
  return Status::Ok;
}

Status MapWriter::WritePreview(ImageHandle& image, const UniqueFd& file, uint32_t& offset) {
  return GuardMemory([&] {
    Block block;
    if (const Status status = PreviewBlock(image, block); status != Status::Ok) return status;
    return WriteBlocks(image, std::span(&block, 1), file, offset);
  });
}

}  // namespace rzt2
