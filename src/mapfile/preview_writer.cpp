// MapWriter::WritePreview: the whole picture fitted into the preview box,
// reduced to the file's palette and stored as one complete encoding.
#include <algorithm>
#include <cmath>
#include <limits>

#include "imaging/surface.h"
#include "mapfile/map_writer.h"

namespace rzt2 {

namespace {

constexpr uint32_t kOpaqueWhite = 0xFFFFFFFF;

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

Status MapWriter::WritePreview(ImageHandle& image, const UniqueFd& file, uint32_t& offset) {
  return GuardMemory([&] { return Preview(image, file, offset); });
}

Status MapWriter::Preview(ImageHandle& image, const UniqueFd& file, uint32_t& offset) {
  const uint32_t width = image.Width();
  const uint32_t height = image.Height();
  Rect preview;
  if (width == 0 || height == 0 ||
      !PreviewSize(width, height, params_.MiniFrameSizeX, params_.MiniFrameSizeY, preview)) {
    return Status::InvalidParameter;
  }
  ImageHandle scratch = ImageHandle::CreateBlank(preview.width, preview.height, PixelFormat::Argb32);
  if (!scratch) return scratch.LastStatus();
  Surface surface(scratch);
  if (const Status status = surface.Clear(kOpaqueWhite); status != Status::Ok) return status;
  if (const Status status = surface.DrawImage(image, preview); status != Status::Ok) return status;

  ColorPalette palette;
  if (const Status status = TakePalette(image, palette); status != Status::Ok) return status;
  ImageHandle indexed = QuantizedCopy(scratch, palette, workArea_);
  for (ImageHandle* handle : {&scratch, &indexed}) {
    if (const Status status = handle->LastStatus(); status != Status::Ok) return status;
  }

  FrameBuffer buffer(kFrameBufferSize);
  uint32_t n = 0;
  if (const Status status = Encode(indexed, buffer, n); status != Status::Ok) return status;
  if (!FitsInMapFile(offset, n)) return Status::TooLarge;
  if (const Status status = WriteAllAt(file.Get(), std::span(buffer).first(n), offset);
      status != Status::Ok) {
    return status;
  }
  previewOffset_ = offset;
  previewSize_ = n;
  offset += n;
  return Status::Ok;
}

}  // namespace rzt2
