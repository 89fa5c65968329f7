#include "mapfile/map_writer.h"

#include <cstring>
#include <limits>
#include <new>

#include "imaging/fixed_palette.h"

namespace rzt2 {

std::unique_ptr<MapWriter> MapWriter::Create(const EncoderParams& params, const ColorPalette* palette,
                                             ProgressSink* progressSink) {
  const ImageFormat* format = FrameFormat(params.EncoderCode);
  if (format == nullptr) return nullptr;
  return std::unique_ptr<MapWriter>(new (std::nothrow) MapWriter(params, *format, palette, progressSink));
}

MapWriter::MapWriter(const EncoderParams& params, const ImageFormat& format, const ColorPalette* palette,
                     ProgressSink* progressSink)
    : format_(format),
      params_(params),
      progressSink_(progressSink),
      workArea_(QuantizerWorkArea::Create()),
      palette_(palette) {}

namespace {

uint32_t Failed(ImageHandle& image, Status status) {
  image.Record(status);
  return 0;
}

}  // namespace

uint32_t MapWriter::EncodeToBuffer(ImageHandle& image, FrameBuffer& buffer) {
  scratchStream_.Reset();
  const Bitmap* bitmap = image.GetBitmap();
  if (bitmap == nullptr) return Failed(image, Status::InvalidParameter);
  if (const Status status = format_.encode(*bitmap, scratchStream_); status != Status::Ok) {
    return Failed(image, status);
  }
  const std::span<const uint8_t> bytes = scratchStream_.Data();
  // Offsets and sizes in a map file are 32-bit.
  if (bytes.size() > std::numeric_limits<uint32_t>::max()) return Failed(image, Status::TooLarge);
  try {
    if (buffer.size() < bytes.size()) buffer.resize(bytes.size());
  } catch (const std::bad_alloc&) {
    return Failed(image, Status::OutOfMemory);
  }
  std::memcpy(buffer.data(), bytes.data(), bytes.size());
  return static_cast<uint32_t>(bytes.size());
}

bool MapWriter::TakePalette(ImageHandle& image, ColorPalette& out) {
  if (!workArea_) return false;
  try {
    out = palette_ != nullptr ? *palette_ : PaletteForImage(image);
    if (out.Count() == 0) return false;
    if (out != workAreaPalette_) {
      std::memset(workArea_.Data(), 0, QuantizerWorkArea::kSize);
      workAreaPalette_ = out;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace rzt2
