#include "mapfile/map_writer.h"

#include <cstring>
#include <limits>
#include <new>

#include "imaging/fixed_palette.h"

namespace rzt2 {

std::unique_ptr<MapWriter> MapWriter::Create(const EncoderParams& params, const ColorPalette* palette,
                                             ProgressSink* progressSink, std::stop_token stop,
                                             ThreadPool* pool) {
  return std::unique_ptr<MapWriter>(new (std::nothrow)
                                        MapWriter(params, palette, progressSink, std::move(stop), pool));
}

MapWriter::MapWriter(const EncoderParams& params, const ColorPalette* palette, ProgressSink* progressSink,
                     std::stop_token stop, ThreadPool* pool)
    : format_(FrameFormat(params.EncoderCode)),
      params_(params),
      progressSink_(progressSink),
      stop_(std::move(stop)),
      pool_(pool),
      workArea_(QuantizerWorkArea::Create()),
      palette_(palette) {}

Status MapWriter::EncodeToBuffer(const ImageHandle& image, FrameBuffer& buffer, uint32_t& length) {
  return GuardMemory([&] { return Encode(image, buffer, length); });
}

Status MapWriter::Encode(const ImageHandle& image, FrameBuffer& buffer, uint32_t& length) {
  scratchStream_.Reset();
  const Bitmap* bitmap = image.GetBitmap();
  if (bitmap == nullptr || format_ == nullptr) return Status::InvalidParameter;
  if (const Status status = format_->encode(*bitmap, scratchStream_); status != Status::Ok) return status;
  const std::span<const uint8_t> bytes = scratchStream_.Data();
  // Offsets and sizes in a map file are 32-bit.
  if (bytes.size() > std::numeric_limits<uint32_t>::max()) return Status::TooLarge;
  if (buffer.size() < bytes.size()) buffer.resize(bytes.size());
  std::memcpy(buffer.data(), bytes.data(), bytes.size());
  length = static_cast<uint32_t>(bytes.size());
  return Status::Ok;
}

Status MapWriter::TakePalette(ImageHandle& image, ColorPalette& out) {
  if (!workArea_) return Status::OutOfMemory;
  out = palette_ != nullptr ? *palette_ : PaletteForImage(image);
  if (out.Count() == 0) return palette_ != nullptr ? Status::InvalidParameter : Status::OutOfMemory;
  if (out != workAreaPalette_) {
    std::memset(workArea_.Data(), 0, QuantizerWorkArea::kSize);
    workAreaPalette_ = out;
  }
  return Status::Ok;
}

}  // namespace rzt2
