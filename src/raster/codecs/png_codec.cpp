// PNG on libpng, but for the plain true-colour pictures png_whole decodes
// faster. libpng reports errors by longjmp, so every libpng call that
// can fail runs inside one of the small setjmp functions below: they own
// nothing with a destructor, and their callers own every buffer.
#include <libdeflate.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <vector>

#include "raster/codecs/codec_guard.h"
#include "raster/codecs/image_formats.h"
#include "raster/codecs/png_rows.h"
#include "raster/codecs/png_whole.h"

namespace rzt2 {
namespace {

// Deflate turns one compressed byte into at most 1032 bytes, so image data
// larger than that multiple of the whole file cannot be there.
constexpr uint64_t kMaxDeflateRatio = 1032;
// We keep no ancillary chunk but tRNS, yet libpng refuses any chunk but
// IDAT that is longer than this; real metadata stays well under it.
constexpr png_alloc_size_t kChunkMallocMax = png_alloc_size_t{8} << 20;
// The gamma of sRGB, 1 / 2.2, in hundred-thousandths.
constexpr png_fixed_point kSrgbGamma = 45455;
// 96 dots per inch, in dots per metre.
constexpr png_uint_32 kPixelsPerMetre = 3780;

// Shared with libpng's callbacks; plain data, so a longjmp may skip it.
struct PngIo {
  std::span<const uint8_t> input;
  size_t inputOffset = 0;
  ScratchStream* output = nullptr;
  Status errorMeaning = Status::CorruptData;  // what a libpng error stands for
  Status failure = Status::Ok;                // the first failure a callback saw
};

void NoteFailure(PngIo& io, Status status) {
  if (io.failure == Status::Ok) io.failure = status;
}

[[noreturn]] void OnError(png_structp png, png_const_charp message) {
  auto& io = *static_cast<PngIo*>(png_get_error_ptr(png));
  NoteFailure(io, std::strstr(message, "memory") != nullptr ? Status::OutOfMemory : io.errorMeaning);
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void ReadFromSpan(png_structp png, png_bytep out, size_t count) {
  auto& io = *static_cast<PngIo*>(png_get_io_ptr(png));
  if (count > io.input.size() - io.inputOffset) png_error(png, "truncated");
  std::memcpy(out, io.input.data() + io.inputOffset, count);
  io.inputOffset += count;
}

void WriteToStream(png_structp png, png_bytep data, size_t count) {
  auto& io = *static_cast<PngIo*>(png_get_io_ptr(png));
  const Status status = io.output->Write(data, count);
  if (status != Status::Ok) {
    NoteFailure(io, status);
    png_error(png, "write failed");
  }
}

void FlushNothing(png_structp) {}

class PngReadHandle {
 public:
  explicit PngReadHandle(PngIo& io)
      : png_(png_create_read_struct(PNG_LIBPNG_VER_STRING, &io, OnError, OnWarning)),
        info_(png_ != nullptr ? png_create_info_struct(png_) : nullptr) {}
  ~PngReadHandle() { png_destroy_read_struct(&png_, &info_, nullptr); }
  PngReadHandle(const PngReadHandle&) = delete;
  PngReadHandle& operator=(const PngReadHandle&) = delete;

  bool IsValid() const { return info_ != nullptr; }
  png_structp Png() const { return png_; }
  png_infop Info() const { return info_; }

 private:
  png_structp png_;
  png_infop info_;
};

class PngWriteHandle {
 public:
  explicit PngWriteHandle(PngIo& io)
      : png_(png_create_write_struct(PNG_LIBPNG_VER_STRING, &io, OnError, OnWarning)),
        info_(png_ != nullptr ? png_create_info_struct(png_) : nullptr) {}
  ~PngWriteHandle() { png_destroy_write_struct(&png_, &info_); }
  PngWriteHandle(const PngWriteHandle&) = delete;
  PngWriteHandle& operator=(const PngWriteHandle&) = delete;

  bool IsValid() const { return info_ != nullptr; }
  png_structp Png() const { return png_; }
  png_infop Info() const { return info_; }

 private:
  png_structp png_;
  png_infop info_;
};

uint32_t ReadBigEndian32(const uint8_t* bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
         uint32_t{bytes[3]};
}

// Checks the IHDR chunk ourselves before libpng sees the file, so that an
// oversized picture is refused before anything is allocated for it.
Status CheckHeader(std::span<const uint8_t> data, const DecodeLimits& limits) {
  if (data.size() < 8 || png_sig_cmp(data.data(), 0, 8) != 0) return Status::UnknownImageFormat;
  if (data.size() < 8 + 8 + 13) return Status::CorruptData;
  const uint8_t* ihdr = data.data() + 8;
  if (ReadBigEndian32(ihdr) != 13 || std::memcmp(ihdr + 4, "IHDR", 4) != 0) {
    return Status::CorruptData;
  }
  const uint64_t width = ReadBigEndian32(ihdr + 8);
  const uint64_t height = ReadBigEndian32(ihdr + 12);
  if (width == 0 || height == 0 || width > PNG_UINT_31_MAX || height > PNG_UINT_31_MAX) {
    return Status::CorruptData;
  }
  if (const Status status = CheckPictureSize(limits, width, height); status != Status::Ok) return status;

  const uint64_t bitDepth = ihdr[16];
  uint64_t channels = 0;
  switch (ihdr[17]) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
      channels = 1;
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      channels = 2;
      break;
    case PNG_COLOR_TYPE_RGB:
      channels = 3;
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      channels = 4;
      break;
    default:
      return Status::CorruptData;
  }
  if (bitDepth == 0 || bitDepth > 16) return Status::CorruptData;
  // Interlaced or not, the image data holds at least pixels x bits / 8 bytes.
  const uint64_t heldBytes = std::min<uint64_t>(data.size(), UINT64_MAX / (8 * kMaxDeflateRatio));
  if (width * height > heldBytes * 8 * kMaxDeflateRatio / (channels * bitDepth)) {
    return Status::CorruptData;
  }
  return Status::Ok;
}

// What the header says, with the palette, once the transformations are set.
struct PngHeader {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int colorType = 0;
  bool hasTrns = false;
  int paletteCount = 0;
  png_color palette[PNG_MAX_PALETTE_LENGTH] = {};
  int alphaCount = 0;
  png_byte alpha[PNG_MAX_PALETTE_LENGTH] = {};
  int passes = 1;
  size_t rowBytes = 0;
};

// Reads up to the image data: the header, the palette and tRNS.
bool ReadInfo(png_structp png, png_infop info, PngHeader& header) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  int bitDepth = 0;
  png_get_IHDR(png, info, &header.width, &header.height, &bitDepth, &header.colorType, nullptr, nullptr,
               nullptr);
  header.hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (header.colorType == PNG_COLOR_TYPE_PALETTE) {
    png_colorp palette = nullptr;
    png_get_PLTE(png, info, &palette, &header.paletteCount);
    std::copy_n(palette, header.paletteCount, header.palette);
    if (header.hasTrns) {
      png_bytep alpha = nullptr;
      png_get_tRNS(png, info, &alpha, &header.alphaCount, nullptr);
      std::copy_n(alpha, header.alphaCount, header.alpha);
    }
  }
  return true;
}

// Asks libpng for our layouts: one index byte per palette pixel; else 8-bit
// B,G,R with A when there is any alpha. libpng allocates its rows here.
bool SetLayout(png_structp png, png_infop info, PngHeader& header) {
  if (setjmp(png_jmpbuf(png))) return false;
  if (header.colorType == PNG_COLOR_TYPE_PALETTE) {
    png_set_packing(png);
  } else {
    png_set_strip_16(png);
    if ((header.colorType & PNG_COLOR_MASK_COLOR) == 0) {
      png_set_expand_gray_1_2_4_to_8(png);
      png_set_gray_to_rgb(png);
    }
    if (header.hasTrns) png_set_tRNS_to_alpha(png);
    png_set_bgr(png);
  }
  header.passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  header.rowBytes = png_get_rowbytes(png, info);
  return true;
}

// Row by row, pass by pass, so that no array of row pointers is needed:
// for a tall thin picture it would outgrow the pixels.
// Rows are final only in the last pass; of an interlaced picture, that is
// when all of them are, which the report then is not told.
bool ReadRows(png_structp png, Bitmap& bitmap, int passes, RowReport& report) {
  if (setjmp(png_jmpbuf(png))) return false;
  for (int pass = 0; pass < passes; ++pass) {
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
      png_read_row(png, bitmap.MutableRow(y), nullptr);
      if (passes == 1) report.Done(y + 1);
    }
  }
  // Reading through IEND catches damage and truncation after the pixels.
  png_read_end(png, nullptr);
  return true;
}

ColorPalette MakePalette(const PngHeader& header) {
  ColorPalette palette;
  palette.entries.resize(static_cast<size_t>(header.paletteCount));
  for (int i = 0; i < header.paletteCount; ++i) {
    const png_color& color = header.palette[i];
    const uint32_t alpha = i < header.alphaCount ? header.alpha[i] : 255;
    if (alpha != 255) palette.flags |= kPaletteHasAlpha;
    palette.entries[static_cast<size_t>(i)] = Argb(alpha, color.red, color.green, color.blue);
  }
  return palette;
}

PixelFormat FormatOf(const PngHeader& header) {
  if (header.colorType == PNG_COLOR_TYPE_PALETTE) return PixelFormat::Indexed8;
  const bool alpha = header.hasTrns || (header.colorType & PNG_COLOR_MASK_ALPHA) != 0;
  return alpha ? PixelFormat::Argb32 : PixelFormat::Rgb24;
}

Status Decode(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out,
              RowSink* rows) {
  if (const Status status = CheckHeader(data, limits); status != Status::Ok) return status;
  PngIo io;
  io.input = data;
  PngReadHandle handle(io);
  if (!handle.IsValid()) return Status::OutOfMemory;
  png_structp png = handle.Png();
  png_set_read_fn(png, &io, ReadFromSpan);
  const png_uint_32 maxSide = static_cast<png_uint_32>(std::min<uint64_t>(limits.maxPixels, PNG_UINT_31_MAX));
  png_set_user_limits(png, maxSide, maxSide);
  png_set_chunk_malloc_max(png, kChunkMallocMax);
  png_set_benign_errors(png, 0);
  // Only IHDR, PLTE, tRNS, IDAT and IEND matter to us: libpng skips the
  // others without decoding or storing them.
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  // Indexes past the palette's end are valid in our model (opaque black).
  png_set_check_for_invalid_index(png, 0);

  PngHeader header;
  if (!ReadInfo(png, handle.Info(), header)) return io.failure;
  const PixelFormat format = FormatOf(header);
  // libpng's current and previous rows, at most 64 bits a pixel before our
  // transformations narrow them, are allocated with the layout.
  const uint64_t rowBuffers = 2 * (8 * uint64_t{header.width} + 64);
  const uint64_t pixelBytes =
      uint64_t{header.width} * header.height * static_cast<uint64_t>(BytesPerPixel(format));
  if (const Status status = CheckDecodeBytes(limits, pixelBytes + rowBuffers); status != Status::Ok) {
    return status;
  }
  if (const Status status = CheckWorkingMemory(rowBuffers); status != Status::Ok) return status;
  if (!header.hasTrns) {
    if (const std::optional<Status> whole = DecodeWholePng(data, out, rows)) return *whole;
  }
  if (!SetLayout(png, handle.Info(), header)) return io.failure;
  std::unique_ptr<Bitmap> bitmap;
  const Status created =
      Bitmap::Create(static_cast<int32_t>(header.width), static_cast<int32_t>(header.height), format, bitmap);
  if (created != Status::Ok) return created;
  // Never let libpng write past our rows.
  if (header.rowBytes != bitmap->Stride()) return Status::GenericError;
  RowReport report(rows, *bitmap);
  if (!ReadRows(png, *bitmap, header.passes, report)) return io.failure;
  if (format == PixelFormat::Indexed8) bitmap->SetPalette(MakePalette(header));
  report.Succeeded();
  out = std::move(bitmap);
  return Status::Ok;
}

// The fixed chunks make encodings of one size and one palette share every
// byte before the image data's own. Palette pictures, map frames among
// them, take gAMA before PLTE, pHYs after it, and an IDAT holding only the
// zlib header: with 256 opaque entries that is exactly the format's shared
// prefix, so a level stores all of it once and no frame repeats any.
// Others take sRGB, gAMA and cHRM before the palette, and tRNS and pHYs after it.
struct PngImage {
  const Bitmap* bitmap = nullptr;
  int colorType = 0;
  int paletteCount = 0;
  png_color palette[PNG_MAX_PALETTE_LENGTH] = {};
  int alphaCount = 0;  // tRNS entries: up to the last non-opaque one
  png_byte alpha[PNG_MAX_PALETTE_LENGTH] = {};
  bool compactHead = false;  // gAMA alone, for the image data written whole
};

// Sets and writes everything before the image data; libpng errors longjmp
// to the caller's setjmp.
void WriteInfo(png_structp png, png_infop info, const PngImage& image) {
  const Bitmap& bitmap = *image.bitmap;
  // libpng's default user limit (a million pixels a side) is for reading;
  // what we write may take all the format describes.
  png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_set_IHDR(png, info, static_cast<png_uint_32>(bitmap.Width()), static_cast<png_uint_32>(bitmap.Height()),
               8, image.colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (image.compactHead) {
    png_set_gAMA_fixed(png, info, kSrgbGamma);
  } else {
    png_set_sRGB_gAMA_and_cHRM(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
  }
  if (image.colorType == PNG_COLOR_TYPE_PALETTE) {
    png_set_PLTE(png, info, image.palette, image.paletteCount);
    if (image.alphaCount > 0) png_set_tRNS(png, info, image.alpha, image.alphaCount, nullptr);
  }
  png_set_pHYs(png, info, kPixelsPerMetre, kPixelsPerMetre, PNG_RESOLUTION_METER);
  png_write_info(png, info);
}

bool WriteInfoOnly(png_structp png, png_infop info, const PngImage& image) {
  if (setjmp(png_jmpbuf(png))) return false;
  WriteInfo(png, info, image);
  return true;
}

bool WriteImage(png_structp png, png_infop info, const PngImage& image) {
  if (setjmp(png_jmpbuf(png))) return false;
  WriteInfo(png, info, image);
  const Bitmap& bitmap = *image.bitmap;
  if (image.colorType != PNG_COLOR_TYPE_PALETTE) png_set_bgr(png);
  for (int32_t y = 0; y < bitmap.Height(); ++y) png_write_row(png, bitmap.Row(y));
  png_write_end(png, nullptr);
  return true;
}

Status DescribeImage(const Bitmap& bitmap, PngImage& image) {
  image.bitmap = &bitmap;
  switch (bitmap.Format()) {
    case PixelFormat::Rgb24:
      image.colorType = PNG_COLOR_TYPE_RGB;
      return Status::Ok;
    case PixelFormat::Argb32:
      image.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
      return Status::Ok;
    case PixelFormat::Indexed8:
      break;
  }
  const std::vector<uint32_t>& entries = bitmap.Palette().entries;
  if (entries.empty() || entries.size() > PNG_MAX_PALETTE_LENGTH) return Status::InvalidParameter;
  image.colorType = PNG_COLOR_TYPE_PALETTE;
  image.paletteCount = static_cast<int>(entries.size());
  for (int i = 0; i < image.paletteCount; ++i) {
    const uint32_t argb = entries[static_cast<size_t>(i)];
    image.palette[i] = {static_cast<png_byte>(RedOf(argb)), static_cast<png_byte>(GreenOf(argb)),
                        static_cast<png_byte>(BlueOf(argb))};
    image.alpha[i] = static_cast<png_byte>(AlphaOf(argb));
    if (image.alpha[i] != 255) image.alphaCount = i + 1;
  }
  return Status::Ok;
}

// Map frames are small palette pictures, and compressing them was most of
// a PNG conversion. libdeflate compresses a whole buffer at once, so palette
// pictures up to this many bytes of image data (rows with their filter
// bytes) take it. Larger ones, and true-colour ones, stream through
// libpng's zlib, which needs no copy of the picture.
constexpr uint64_t kWholeBufferLimit = uint64_t{16} << 20;
// The zlib header, which depends only on the effort, in an IDAT of its own.
constexpr size_t kZlibHeaderSize = 2;

void StoreBigEndian32(uint32_t value, uint8_t* out) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

Status WriteChunk(ScratchStream& stream, const char (&type)[5], std::span<const uint8_t> data) {
  uint8_t head[8];
  StoreBigEndian32(static_cast<uint32_t>(data.size()), head);
  std::memcpy(head + 4, type, 4);
  uint8_t crc[4];
  uint32_t sum = libdeflate_crc32(0, head + 4, 4);
  // libdeflate takes a null buffer as a request for the initial value.
  if (!data.empty()) sum = libdeflate_crc32(sum, data.data(), data.size());
  StoreBigEndian32(sum, crc);
  for (const std::span<const uint8_t> part :
       {std::span<const uint8_t>(head), data, std::span<const uint8_t>(crc)}) {
    if (const Status status = stream.Write(part.data(), part.size()); status != Status::Ok) return status;
  }
  return Status::Ok;
}

// The image data of a palette picture in two IDAT chunks: the zlib header,
// then the rest.
Status WriteDeflatedImage(const Bitmap& bitmap, PngEffort effort, ScratchStream& stream) {
  std::vector<uint8_t> zlib;
  if (const Status status = DeflatePaletteRows(bitmap, effort, zlib); status != Status::Ok) return status;
  const std::span<const uint8_t> data(zlib);
  for (const std::span<const uint8_t> part : {data.first(kZlibHeaderSize), data.subspan(kZlibHeaderSize)}) {
    if (const Status status = WriteChunk(stream, "IDAT", part); status != Status::Ok) return status;
  }
  return WriteChunk(stream, "IEND", {});
}

Status Encode(const Bitmap& bitmap, PngEffort effort, ScratchStream& stream) {
  PngImage image;
  if (const Status status = DescribeImage(bitmap, image); status != Status::Ok) return status;
  PngIo io;
  io.output = &stream;
  io.errorMeaning = Status::GenericError;
  PngWriteHandle handle(io);
  if (!handle.IsValid()) return Status::OutOfMemory;
  png_structp png = handle.Png();
  png_set_write_fn(png, &io, WriteToStream, FlushNothing);
  png_set_check_for_invalid_index(png, 0);
  const bool whole =
      image.colorType == PNG_COLOR_TYPE_PALETTE &&
      (uint64_t{bitmap.Stride()} + 1) * static_cast<uint64_t>(bitmap.Height()) <= kWholeBufferLimit;
  if (!whole) return WriteImage(png, handle.Info(), image) ? Status::Ok : io.failure;
  // libpng writes the chunks before the image data as it always does.
  image.compactHead = true;
  if (!WriteInfoOnly(png, handle.Info(), image)) return io.failure;
  return WriteDeflatedImage(bitmap, effort, stream);
}

}  // namespace

Status EncodePng(const Bitmap& bitmap, ScratchStream& stream) {
  return GuardEncode(stream, [&] { return Encode(bitmap, PngEffort::Fast, stream); });
}

Status EncodePngSmall(const Bitmap& bitmap, ScratchStream& stream) {
  return GuardEncode(stream, [&] { return Encode(bitmap, PngEffort::Small, stream); });
}

Status DecodePng(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out,
                 RowSink* rows) {
  return GuardMemory([&] { return Decode(data, limits, out, rows); });
}

}  // namespace rzt2
