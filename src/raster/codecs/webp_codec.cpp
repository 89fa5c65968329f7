// WebP on libwebp: still pictures straight into the bitmap, animations
// through libwebpdemux's animation decoder, which composes the first frame
// on its canvas. The size comes from the headers before anything is
// allocated.
#include <webp/decode.h>
#include <webp/demux.h>

#include <cstring>
#include <memory>

#include "raster/codecs/image_formats.h"

namespace rzt2 {
namespace {

struct AnimDecoderDeleter {
  void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};
using AnimDecoder = std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter>;

Status CreateBitmap(const WebPBitstreamFeatures& features, PixelFormat format, std::unique_ptr<Bitmap>& out) {
  return Bitmap::Create(features.width, features.height, format, out);
}

// The first frame composed on the canvas, which is transparent where the
// frame does not paint. The decoder keeps two canvases of its own.
Status DecodeFirstFrame(std::span<const uint8_t> data, const WebPBitstreamFeatures& features,
                        const DecodeLimits& limits, std::unique_ptr<Bitmap>& out) {
  const uint64_t canvasBytes =
      uint64_t{4} * static_cast<uint64_t>(features.width) * static_cast<uint64_t>(features.height);
  if (const Status status = CheckDecodeBytes(limits, 3 * canvasBytes); status != Status::Ok) return status;
  if (const Status status = CheckWorkingMemory(2 * canvasBytes); status != Status::Ok) return status;
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) return Status::GenericError;
  options.color_mode = MODE_BGRA;
  options.use_threads = 0;
  const WebPData whole{data.data(), data.size()};
  const AnimDecoder decoder(WebPAnimDecoderNew(&whole, &options));
  if (!decoder) return Status::CorruptData;
  WebPAnimInfo info;
  if (!WebPAnimDecoderGetInfo(decoder.get(), &info) ||
      info.canvas_width != static_cast<uint32_t>(features.width) ||
      info.canvas_height != static_cast<uint32_t>(features.height) || info.frame_count == 0) {
    return Status::CorruptData;
  }
  uint8_t* canvas = nullptr;
  int timestamp = 0;
  if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp)) return Status::CorruptData;
  std::unique_ptr<Bitmap> bitmap;
  if (const Status status = CreateBitmap(features, PixelFormat::Argb32, bitmap); status != Status::Ok) {
    return status;
  }
  std::memcpy(bitmap->MutableRow(0), canvas, canvasBytes);
  out = std::move(bitmap);
  return Status::Ok;
}

Status DecodeWebpUnchecked(std::span<const uint8_t> data, const DecodeLimits& limits,
                           std::unique_ptr<Bitmap>& out) {
  WebPBitstreamFeatures features;
  const VP8StatusCode header = WebPGetFeatures(data.data(), data.size(), &features);
  if (header == VP8_STATUS_UNSUPPORTED_FEATURE) return Status::UnsupportedFormat;
  if (header != VP8_STATUS_OK || features.width <= 0 || features.height <= 0) return Status::CorruptData;
  const uint64_t width = static_cast<uint64_t>(features.width);
  const uint64_t height = static_cast<uint64_t>(features.height);
  if (const Status status = CheckPictureSize(limits, width, height); status != Status::Ok) return status;
  if (features.has_animation) return DecodeFirstFrame(data, features, limits, out);

  const PixelFormat format = features.has_alpha ? PixelFormat::Argb32 : PixelFormat::Rgb24;
  const uint64_t pictureBytes = width * height * static_cast<uint64_t>(BytesPerPixel(format));
  // Lossy pictures keep a few rows of Y, U and V besides the output; lossless
  // ones a row cache and, with alpha, a plane of it.
  const uint64_t workBytes = width * 64 + (features.has_alpha ? width * height : 0);
  if (const Status status = CheckDecodeBytes(limits, pictureBytes + workBytes); status != Status::Ok) {
    return status;
  }
  if (const Status status = CheckWorkingMemory(workBytes); status != Status::Ok) return status;
  std::unique_ptr<Bitmap> bitmap;
  if (const Status status = CreateBitmap(features, format, bitmap); status != Status::Ok) return status;
  uint8_t* const pixels = bitmap->MutableRow(0);
  const int stride = static_cast<int>(bitmap->Stride());
  const size_t size = bitmap->Stride() * height;
  const uint8_t* decoded = features.has_alpha
                               ? WebPDecodeBGRAInto(data.data(), data.size(), pixels, size, stride)
                               : WebPDecodeBGRInto(data.data(), data.size(), pixels, size, stride);
  if (decoded == nullptr) return Status::CorruptData;
  out = std::move(bitmap);
  return Status::Ok;
}

}  // namespace

Status DecodeWebp(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out,
                  RowSink* /*rows*/) {
  return GuardMemory([&] { return DecodeWebpUnchecked(data, limits, out); });
}

}  // namespace rzt2
