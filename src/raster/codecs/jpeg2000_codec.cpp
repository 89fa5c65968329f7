// JPEG 2000 on OpenJPEG: JP2 and JPX files and bare codestreams, decoded
// tile by tile into the bitmap, so that a tiled scan of any size needs
// OpenJPEG's buffers for one tile only. A preview takes the reduced
// resolution that still covers the size it is shown at.
#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "raster/codecs/image_formats.h"

namespace rzt2 {
namespace {

// OpenJPEG's messages, kept to tell memory running out from damaged data.
struct Messages {
  std::string errors;

  static void Append(const char* message, void* self) {
    std::string& errors = static_cast<Messages*>(self)->errors;
    if (errors.size() < 4096) errors += message;
  }
  static void Ignore(const char* /*message*/, void* /*self*/) {}

  Status Failure() const {
    return errors.find("memory") != std::string::npos ? Status::OutOfMemory : Status::CorruptData;
  }
};

// The input, read through OpenJPEG's stream callbacks.
struct Input {
  std::span<const uint8_t> data;
  size_t position = 0;

  static OPJ_SIZE_T Read(void* buffer, OPJ_SIZE_T count, void* self) {
    Input& input = *static_cast<Input*>(self);
    const size_t left = input.data.size() - input.position;
    if (left == 0) return static_cast<OPJ_SIZE_T>(-1);
    const size_t n = std::min<size_t>(count, left);
    std::memcpy(buffer, input.data.data() + input.position, n);
    input.position += n;
    return n;
  }
  static OPJ_OFF_T Skip(OPJ_OFF_T count, void* self) {
    Input& input = *static_cast<Input*>(self);
    const auto left = static_cast<OPJ_OFF_T>(input.data.size() - input.position);
    if (count < 0 || count > left) return -1;
    input.position += static_cast<size_t>(count);
    return count;
  }
  static OPJ_BOOL Seek(OPJ_OFF_T to, void* self) {
    Input& input = *static_cast<Input*>(self);
    if (to < 0 || static_cast<uint64_t>(to) > input.data.size()) return OPJ_FALSE;
    input.position = static_cast<size_t>(to);
    return OPJ_TRUE;
  }
};

struct CodecDeleter {
  void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamDeleter {
  void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct ImageDeleter {
  void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};
struct InfoDeleter {
  void operator()(opj_codestream_info_v2_t* info) const { opj_destroy_cstr_info(&info); }
};
using Codec = std::unique_ptr<opj_codec_t, CodecDeleter>;
using Stream = std::unique_ptr<opj_stream_t, StreamDeleter>;
using Image = std::unique_ptr<opj_image_t, ImageDeleter>;
using Info = std::unique_ptr<opj_codestream_info_v2_t, InfoDeleter>;

uint64_t CeilDivPow2(uint64_t value, uint32_t power) { return (value + (uint64_t{1} << power) - 1) >> power; }

// The reference grid's area [x0, x1) at resolution factor `reduce`.
uint64_t ReducedSpan(uint64_t x0, uint64_t x1, uint32_t reduce) {
  return CeilDivPow2(x1, reduce) - CeilDivPow2(x0, reduce);
}

// The largest reduction (each halving the sides) after which the picture
// still covers the shown size; 0 for a whole picture.
uint32_t ReductionFor(const DecodeLimits& limits, uint64_t width, uint64_t height, uint32_t resolutions) {
  if (limits.shownWidth == 0 || limits.shownHeight == 0) return 0;
  uint32_t reduce = 0;
  while (reduce + 1 < std::min<uint32_t>(resolutions, 32) &&
         (uint64_t{limits.shownWidth} << (reduce + 1) <= width ||
          uint64_t{limits.shownHeight} << (reduce + 1) <= height)) {
    ++reduce;
  }
  return reduce;
}

// Bytes OpenJPEG gives a sample of this precision in a tile's data.
uint32_t SampleBytes(uint32_t precision) { return precision <= 8 ? 1 : precision <= 16 ? 2 : 4; }

// One component's sample as 8 bits.
uint8_t To8Bits(int32_t sample, const opj_image_comp_t& component) {
  const uint32_t precision = component.prec;
  int64_t value = sample;
  if (component.sgnd != 0) value += int64_t{1} << (precision - 1);
  const int64_t top = (int64_t{1} << precision) - 1;
  value = std::clamp<int64_t>(value, 0, top);
  return static_cast<uint8_t>(precision >= 8 ? value >> (precision - 8) : value * 255 / top);
}

int32_t SampleAt(const uint8_t* samples, size_t index, const opj_image_comp_t& component) {
  const uint32_t bytes = SampleBytes(component.prec);
  if (bytes == 1) {
    return component.sgnd != 0 ? static_cast<int8_t>(samples[index]) : samples[index];
  }
  if (bytes == 2) {
    uint16_t value = 0;
    std::memcpy(&value, samples + 2 * index, 2);
    return component.sgnd != 0 ? static_cast<int16_t>(value) : value;
  }
  int32_t value = 0;
  std::memcpy(&value, samples + 4 * index, 4);
  return value;
}

// A picture of one to four components at full size each: grey, grey and
// alpha, RGB, RGBA. Subsampled and other colour spaces are not decoded.
Status CheckComponents(const opj_image_t& image) {
  if (image.numcomps < 1 || image.numcomps > 4) return Status::UnsupportedFormat;
  if (image.color_space == OPJ_CLRSPC_SYCC || image.color_space == OPJ_CLRSPC_EYCC ||
      image.color_space == OPJ_CLRSPC_CMYK) {
    return Status::UnsupportedFormat;
  }
  for (uint32_t c = 0; c < image.numcomps; ++c) {
    const opj_image_comp_t& component = image.comps[c];
    if (component.dx != 1 || component.dy != 1) return Status::UnsupportedFormat;
    if (component.prec < 1 || component.prec > 31) return Status::CorruptData;
  }
  return Status::Ok;
}

struct TileArea {
  uint64_t x = 0, y = 0, width = 0, height = 0;  // in the decoded picture
};

// Copies one decoded tile, its components one after another, into place.
void PlaceTile(const opj_image_t& image, const uint8_t* data, const TileArea& tile, Bitmap& bitmap) {
  const size_t step = static_cast<size_t>(BytesPerPixel(bitmap.Format()));
  const bool alpha = image.numcomps == 2 || image.numcomps == 4;
  const uint32_t colours = alpha ? image.numcomps - 1 : image.numcomps;
  const size_t tilePixels = tile.width * tile.height;
  const uint8_t* plane = data;
  for (uint32_t c = 0; c < image.numcomps; ++c) {
    const opj_image_comp_t& component = image.comps[c];
    // Grey goes to blue, green and red; red, green, blue to bytes 2, 1, 0.
    const bool isAlpha = alpha && c == image.numcomps - 1;
    for (size_t y = 0; y < tile.height; ++y) {
      uint8_t* row = bitmap.MutableRow(static_cast<int32_t>(tile.y + y)) + tile.x * step;
      for (size_t x = 0; x < tile.width; ++x, row += step) {
        const uint8_t value = To8Bits(SampleAt(plane, y * tile.width + x, component), component);
        if (isAlpha) {
          row[3] = value;
        } else if (colours == 1) {
          row[0] = row[1] = row[2] = value;
        } else {
          row[2 - c] = value;
        }
      }
    }
    plane += tilePixels * SampleBytes(component.prec);
  }
}

// Reports rows once every tile above them is in, whatever the tiles' order.
class TileRows {
 public:
  TileRows(uint32_t columns, uint32_t rows) : columns_(columns), done_(rows, 0) {}
  // Returns the rows of tiles complete from the top.
  uint32_t Add(uint32_t tileIndex) {
    const uint32_t row = tileIndex / columns_;
    if (row < done_.size()) ++done_[row];
    while (complete_ < done_.size() && done_[complete_] >= columns_) ++complete_;
    return complete_;
  }

 private:
  uint32_t columns_;
  std::vector<uint32_t> done_;
  uint32_t complete_ = 0;
};

Status DecodeTiles(opj_codec_t* codec, opj_stream_t* stream, const opj_image_t& image,
                   const opj_codestream_info_v2_t& info, uint32_t reduce, Bitmap& bitmap, RowReport& report,
                   std::vector<uint8_t>& buffer) {
  const uint64_t tileCount = uint64_t{info.tw} * info.th;
  TileRows tileRows(info.tw, info.th);
  const uint64_t originX = CeilDivPow2(image.x0, reduce);
  const uint64_t originY = CeilDivPow2(image.y0, reduce);
  uint64_t tilesDone = 0;
  uint32_t rowsOfTilesTold = 0;
  for (OPJ_BOOL goOn = OPJ_TRUE; tilesDone < tileCount;) {
    OPJ_UINT32 index = 0, dataSize = 0, components = 0;
    OPJ_INT32 x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    if (!opj_read_tile_header(codec, stream, &index, &dataSize, &x0, &y0, &x1, &y1, &components, &goOn)) {
      return Status::CorruptData;
    }
    if (!goOn) break;
    if (x0 < 0 || y0 < 0 || x1 <= x0 || y1 <= y0 || components != image.numcomps) return Status::CorruptData;
    TileArea tile;
    tile.x = CeilDivPow2(static_cast<uint64_t>(x0), reduce) - originX;
    tile.y = CeilDivPow2(static_cast<uint64_t>(y0), reduce) - originY;
    tile.width = ReducedSpan(static_cast<uint64_t>(x0), static_cast<uint64_t>(x1), reduce);
    tile.height = ReducedSpan(static_cast<uint64_t>(y0), static_cast<uint64_t>(y1), reduce);
    uint64_t expected = 0;
    for (uint32_t c = 0; c < image.numcomps; ++c) {
      expected += tile.width * tile.height * SampleBytes(image.comps[c].prec);
    }
    if (expected != dataSize || expected > buffer.size() || tile.x + tile.width > uint64_t(bitmap.Width()) ||
        tile.y + tile.height > uint64_t(bitmap.Height())) {
      return Status::CorruptData;
    }
    if (!opj_decode_tile_data(codec, index, buffer.data(), dataSize, stream)) return Status::CorruptData;
    PlaceTile(image, buffer.data(), tile, bitmap);
    ++tilesDone;
    if (const uint32_t rowsOfTiles = tileRows.Add(index); rowsOfTiles > rowsOfTilesTold) {
      rowsOfTilesTold = rowsOfTiles;
      const uint64_t bottom = ReducedSpan(
          image.y0, std::min<uint64_t>(image.y1, info.ty0 + uint64_t{info.tdy} * rowsOfTiles), reduce);
      report.Done(static_cast<int32_t>(std::min<uint64_t>(bottom, uint64_t(bitmap.Height()))));
    }
  }
  if (tilesDone != tileCount || !opj_end_decompress(codec, stream)) return Status::CorruptData;
  return Status::Ok;
}

Status DecodeJpeg2000Unchecked(std::span<const uint8_t> data, const DecodeLimits& limits,
                               std::unique_ptr<Bitmap>& out, RowSink* rows) {
  const OPJ_CODEC_FORMAT kind = MatchesAny(kJp2Signatures, data)   ? OPJ_CODEC_JP2
                                : MatchesAny(kJ2kSignatures, data) ? OPJ_CODEC_J2K
                                                                   : OPJ_CODEC_UNKNOWN;
  if (kind == OPJ_CODEC_UNKNOWN) return Status::UnknownImageFormat;
  Messages messages;
  Input input{data};
  const Codec codec(opj_create_decompress(kind));
  const Stream stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
  if (!codec || !stream) return Status::OutOfMemory;
  opj_set_error_handler(codec.get(), Messages::Append, &messages);
  opj_set_warning_handler(codec.get(), Messages::Ignore, &messages);
  opj_set_info_handler(codec.get(), Messages::Ignore, &messages);
  opj_stream_set_user_data(stream.get(), &input, nullptr);
  opj_stream_set_user_data_length(stream.get(), data.size());
  opj_stream_set_read_function(stream.get(), Input::Read);
  opj_stream_set_skip_function(stream.get(), Input::Skip);
  opj_stream_set_seek_function(stream.get(), Input::Seek);

  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  // One thread is the caller's own: OpenJPEG starts none then (nor can it in
  // the browser's build without threads).
  const int threads = limits.threads > 1 ? static_cast<int>(limits.threads) : 0;
  if (!opj_setup_decoder(codec.get(), &parameters) || !opj_decoder_set_strict_mode(codec.get(), OPJ_TRUE) ||
      !opj_codec_set_threads(codec.get(), threads)) {
    return Status::GenericError;
  }
  opj_image_t* header = nullptr;
  const bool headerRead = opj_read_header(stream.get(), codec.get(), &header) != 0;
  const Image image(header);
  if (!headerRead || !image) return messages.Failure();
  if (image->x1 <= image->x0 || image->y1 <= image->y0) return Status::CorruptData;
  if (const Status status = CheckComponents(*image); status != Status::Ok) return status;
  const Info info(opj_get_cstr_info(codec.get()));
  if (!info || info->tw == 0 || info->th == 0 || info->m_default_tile_info.tccp_info == nullptr) {
    return Status::CorruptData;
  }

  const uint32_t reduce = ReductionFor(limits, image->x1 - image->x0, image->y1 - image->y0,
                                       info->m_default_tile_info.tccp_info[0].numresolutions);
  const uint64_t width = ReducedSpan(image->x0, image->x1, reduce);
  const uint64_t height = ReducedSpan(image->y0, image->y1, reduce);
  if (const Status status = CheckPictureSize(limits, width, height); status != Status::Ok) return status;
  const bool alpha = image->numcomps == 2 || image->numcomps == 4;
  const PixelFormat format = alpha ? PixelFormat::Argb32 : PixelFormat::Rgb24;
  // One tile's data as we take it (its samples at their own width), and
  // OpenJPEG's own copy of the tile in 32-bit samples with as much again of
  // the code-blocks' and the wavelet's working memory: all in memory, so
  // all within the budget, checked before OpenJPEG allocates any of it.
  const uint64_t tilePixels =
      std::min(CeilDivPow2(info->tdx, reduce), width) * std::min(CeilDivPow2(info->tdy, reduce), height);
  uint64_t tileDataBytes = 0;
  for (uint32_t c = 0; c < image->numcomps; ++c)
    tileDataBytes += tilePixels * SampleBytes(image->comps[c].prec);
  const uint64_t workingBytes = tileDataBytes + 2 * tilePixels * image->numcomps * 4;
  const uint64_t pictureBytes = width * height * static_cast<uint64_t>(BytesPerPixel(format));
  if (const Status status = CheckDecodeBytes(limits, pictureBytes + workingBytes); status != Status::Ok) {
    return status;
  }
  if (const Status status = CheckWorkingMemory(workingBytes); status != Status::Ok) return status;
  if (reduce > 0 && !opj_set_decoded_resolution_factor(codec.get(), reduce)) return Status::CorruptData;
  std::unique_ptr<Bitmap> bitmap;
  Status status = Bitmap::Create(static_cast<int32_t>(width), static_cast<int32_t>(height), format, bitmap);
  if (status != Status::Ok) return status;
  std::vector<uint8_t> buffer(tileDataBytes);
  RowReport report(rows, *bitmap);
  status = DecodeTiles(codec.get(), stream.get(), *image, *info, reduce, *bitmap, report, buffer);
  if (status == Status::CorruptData && !messages.errors.empty()) status = messages.Failure();
  if (status != Status::Ok) return status;
  report.Succeeded();
  out = std::move(bitmap);
  return Status::Ok;
}

}  // namespace

Status DecodeJpeg2000(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out,
                      RowSink* rows) {
  return GuardMemory([&] { return DecodeJpeg2000Unchecked(data, limits, out, rows); });
}

}  // namespace rzt2
