#include <cstring>

#include "raster/codecs/codecs.h"

namespace rzt2 {

namespace {

bool StartsWith(std::span<const uint8_t> data, const char* magic, size_t length) {
  return data.size() >= length && std::memcmp(data.data(), magic, length) == 0;
}

}  // namespace

Status DecodeImage(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out) {
  if (StartsWith(data, "\x89PNG\r\n\x1a\n", 8)) return DecodePng(data, limits, out);
  if (StartsWith(data, "\xFF\xD8\xFF", 3)) return DecodeJpeg(data, limits, out);
  if (StartsWith(data, "GIF87a", 6) || StartsWith(data, "GIF89a", 6)) return DecodeGif(data, limits, out);
  if (StartsWith(data, "BM", 2)) return DecodeBmp(data, limits, out);
  if (StartsWith(data, "II*\0", 4) || StartsWith(data, "MM\0*", 4) || StartsWith(data, "II+\0", 4) ||
      StartsWith(data, "MM\0+", 4)) {
    return DecodeTiff(data, limits, out);
  }
  if (HasMetafileSignature(data)) return DecodeMetafile(data, limits, out);
  return Status::UnknownImageFormat;
}

}  // namespace rzt2
