#include "mapfile/map_writer.h"

#include <cstring>
#include <limits>
#include <new>

#include "imaging/adaptive_palette.h"

namespace rzt2 {

std::unique_ptr<MapWriter> MapWriter::Create(const EncoderParams& params, const ColorPalette* palette,
                                             ProgressSink* progressSink, std::stop_token stop,
                                             ThreadPool* pool) {
  return std::unique_ptr<MapWriter>(new (std::nothrow)
                                        MapWriter(params, palette, progressSink, std::move(stop), pool));
}

namespace {

EncodeFunction EncoderFor(const ImageFormat* format, const EncoderParams& params) {
  if (format == nullptr) return nullptr;
  const bool small = params.MapSize == kMapSizeSmall && format->encodeSmall != nullptr;
  return small ? format->encodeSmall : format->encode;
}

}  // namespace

MapWriter::MapWriter(const EncoderParams& params, const ColorPalette* palette, ProgressSink* progressSink,
                     std::stop_token stop, ThreadPool* pool)
    : format_(FrameFormat(params.EncoderCode)),
      encode_(EncoderFor(format_, params)),
      params_(params),
      progressSink_(progressSink),
      stop_(std::move(stop)),
      pool_(pool),
      workArea_(params.PaletteMode == kPaletteAdaptive ? QuantizerWorkArea() : QuantizerWorkArea::Create()),
      exactMemo_(params.PaletteMode == kPaletteAdaptive ? ExactColorMemo::Create() : ExactColorMemo()),
      palette_(palette) {}

Status MapWriter::EncodeToBuffer(const ImageHandle& image, FrameBuffer& buffer, uint32_t& length) {
  return GuardMemory([&] { return Encode(image, buffer, length); });
}

Status MapWriter::Encode(const ImageHandle& image, FrameBuffer& buffer, uint32_t& length) {
  scratchStream_.Reset();
  const Bitmap* bitmap = image.GetBitmap();
  if (bitmap == nullptr || format_ == nullptr) return Status::InvalidParameter;
  if (const Status status = encode_(*bitmap, scratchStream_); status != Status::Ok) return status;
  const std::span<const uint8_t> bytes = scratchStream_.Data();
  // Offsets and sizes in a map file are 32-bit.
  if (bytes.size() > std::numeric_limits<uint32_t>::max()) return Status::TooLarge;
  if (buffer.size() < bytes.size()) buffer.resize(bytes.size());
  std::memcpy(buffer.data(), bytes.data(), bytes.size());
  length = static_cast<uint32_t>(bytes.size());
  return Status::Ok;
}

Status MapWriter::TakePalette(ImageHandle& image, ColorPalette& out) {
  if (!HasMemo()) return Status::OutOfMemory;
  if (palette_ != nullptr) {
    out = *palette_;
    if (out.Count() == 0) return Status::InvalidParameter;
  } else if (const Status status = PaletteForMap(image, params_.PaletteMode == kPaletteAdaptive, pool_, out);
             status != Status::Ok) {
    return status;
  }
  if (out != workAreaPalette_) {
    if (workArea_) std::memset(workArea_.Data(), 0, QuantizerWorkArea::kSize);
    exactMemo_.Reset();
    workAreaPalette_ = out;
  }
  return Status::Ok;
}

}  // namespace rzt2
