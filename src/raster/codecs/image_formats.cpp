#include "raster/codecs/image_formats.h"

#include <algorithm>

namespace rzt2 {

namespace {

template <typename Predicate>
const ImageFormat* FindFormat(std::span<const ImageFormat> formats, Predicate&& predicate) {
  const auto found = std::find_if(formats.begin(), formats.end(), predicate);
  return found == formats.end() ? nullptr : &*found;
}

}  // namespace

const ImageFormat* FrameFormat(int32_t code) {
  return code >= 0 && code < kFrameFormatCount ? &kFrameFormats[static_cast<size_t>(code)] : nullptr;
}

int32_t FrameCode(const ImageFormat& format) { return static_cast<int32_t>(&format - kFrameFormats.data()); }

const ImageFormat* FindFrameFormat(std::string_view name) {
  return FindFormat(kFrameFormats, [name](const ImageFormat& format) { return format.name == name; });
}

const ImageFormat* FindEncoder(std::string_view mimeType) {
  return FindFormat(kImageFormats, [mimeType](const ImageFormat& format) {
    return format.encode != nullptr && format.mimeType == mimeType;
  });
}

const ImageFormat* SniffFormat(std::span<const uint8_t> data) {
  return FindFormat(kImageFormats,
                    [data](const ImageFormat& format) { return MatchesAny(format.signatures, data); });
}

Status CountPages(std::span<const uint8_t> data, uint32_t& pages) {
  pages = 1;
  const ImageFormat* format = SniffFormat(data);
  if (format == nullptr) return Status::UnknownImageFormat;
  return format->countPages != nullptr ? format->countPages(data, pages) : Status::Ok;
}

Status DecodeImage(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out,
                   RowSink* rows) {
  const ImageFormat* format = SniffFormat(data);
  return format != nullptr ? format->decode(data, limits, out, rows) : Status::UnknownImageFormat;
}

Status DecodeFrameImage(std::span<const uint8_t> data, const DecodeLimits& limits,
                        std::unique_ptr<Bitmap>& out, RowSink* rows) {
  const ImageFormat* format = FindFormat(
      kFrameFormats, [data](const ImageFormat& frame) { return MatchesAny(frame.signatures, data); });
  return format != nullptr ? format->decode(data, limits, out, rows) : Status::UnknownImageFormat;
}

bool FitsFormat(const ImageFormat& format, uint64_t width, uint64_t height) {
  return width <= format.maxSide && height <= format.maxSide;
}

Status SaveImageToFile(const Bitmap& bitmap, const std::filesystem::path& path, const ImageFormat& format,
                       EarlierFile earlier) {
  if (format.encode == nullptr) return Status::InvalidParameter;
  ScratchStream stream;
  if (const Status status = format.encode(bitmap, stream); status != Status::Ok) return status;
  // Written beside the target and moved over it only when complete: a
  // failed export must not destroy an earlier file of that name.
  return WriteFileAtomically(path, stream.Data(), earlier);
}

}  // namespace rzt2
