// BMP: our own reader and writer. Writes 8-bit BI_RGB with a colour table,
// 24-bit BI_RGB, and 32-bit as a BITMAPV4HEADER with BI_BITFIELDS so the
// alpha byte is declared. Reads core/info/V2..V5 headers, 1/2/4/8-bit
// palettes, RLE8/RLE4, 16/24/32-bit with or without bit fields.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "raster/codecs/codec_guard.h"
#include "raster/codecs/image_formats.h"

namespace rzt2 {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kV4HeaderSize = 108;

enum Compression : uint32_t {
  kBiRgb = 0,
  kBiRle8 = 1,
  kBiRle4 = 2,
  kBiBitfields = 3,
  kBiJpeg = 4,
  kBiPng = 5,
  kBiAlphaBitfields = 6,
};

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// One colour channel described by a bit mask, scaled to 8 bits.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;

  explicit Channel(uint32_t m = 0) : mask(m) {
    if (m == 0) return;
    shift = std::countr_zero(m);
    bits = static_cast<int>(std::bit_width(m >> shift));
  }
  uint8_t Extract(uint32_t pixel) const {
    if (bits == 0) return 0;
    const uint64_t v = (pixel & mask) >> shift;
    if (bits >= 8) return static_cast<uint8_t>(v >> (bits - 8));
    const uint64_t max = (uint64_t{1} << bits) - 1;
    return static_cast<uint8_t>((v * 255 + max / 2) / max);
  }
};

struct BmpInfo {
  int32_t width = 0;
  int32_t height = 0;
  bool topDown = false;
  uint32_t bitCount = 0;
  uint32_t compression = kBiRgb;
  std::array<uint32_t, 4> masks{};  // red, green, blue, alpha
  ColorPalette palette;
  size_t pixelOffset = 0;
};

Status ReadMasks(std::span<const uint8_t> data, uint32_t headerSize, BmpInfo& info) {
  const size_t maskOffset = kFileHeaderSize + kInfoHeaderSize;
  if (info.compression == kBiBitfields || info.compression == kBiAlphaBitfields) {
    // A plain info header keeps its masks after the header, later ones inside it.
    size_t count = headerSize >= 56 ? 4 : headerSize >= 52 ? 3 : 0;
    if (headerSize == kInfoHeaderSize) count = info.compression == kBiAlphaBitfields ? 4 : 3;
    if (data.size() < maskOffset + 4 * count) return Status::CorruptData;
    for (size_t i = 0; i < count; ++i) info.masks[i] = U32(&data[maskOffset + 4 * i]);
    return Status::Ok;
  }
  if (info.bitCount == 16) {
    info.masks = {0x7C00, 0x03E0, 0x001F, 0};
  } else if (info.bitCount == 32) {
    info.masks = {0xFF0000, 0xFF00, 0xFF, 0};
    if (headerSize >= 56) info.masks[3] = U32(&data[maskOffset + 12]);
  }
  return Status::Ok;
}

Status ParseHeader(std::span<const uint8_t> data, BmpInfo& info) {
  if (data.size() < 2 || data[0] != 'B' || data[1] != 'M') return Status::UnknownImageFormat;
  if (data.size() < kFileHeaderSize + 4) return Status::CorruptData;
  const uint32_t headerSize = U32(&data[kFileHeaderSize]);
  if (headerSize != kCoreHeaderSize && headerSize != kInfoHeaderSize && headerSize != 52 &&
      headerSize != 56 && headerSize != kV4HeaderSize && headerSize != 124) {
    return Status::UnsupportedFormat;
  }
  if (data.size() < kFileHeaderSize + headerSize) return Status::CorruptData;
  const uint8_t* h = &data[kFileHeaderSize];
  int64_t height = 0;
  uint32_t colorsUsed = 0;
  if (headerSize == kCoreHeaderSize) {
    info.width = U16(h + 4);
    height = U16(h + 6);
    info.bitCount = U16(h + 10);
    if (info.bitCount == 16 || info.bitCount == 32) return Status::CorruptData;
  } else {
    info.width = static_cast<int32_t>(U32(h + 4));
    height = static_cast<int32_t>(U32(h + 8));
    info.bitCount = U16(h + 14);
    info.compression = U32(h + 16);
    colorsUsed = U32(h + 32);
  }
  info.topDown = height < 0;
  height = info.topDown ? -height : height;
  if (info.width <= 0 || height <= 0 || height > INT32_MAX) return Status::CorruptData;
  info.height = static_cast<int32_t>(height);

  const uint32_t bpp = info.bitCount;
  switch (info.compression) {
    case kBiRgb:
      if (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
        return Status::CorruptData;
      }
      break;
    case kBiRle8:
    case kBiRle4:
      if (bpp != (info.compression == kBiRle8 ? 8u : 4u)) return Status::CorruptData;
      break;
    case kBiBitfields:
    case kBiAlphaBitfields:
      if (bpp != 16 && bpp != 32) return Status::CorruptData;
      break;
    default:  // embedded JPEG/PNG and the CMYK variants
      return Status::UnsupportedFormat;
  }
  if (Status s = ReadMasks(data, headerSize, info); s != Status::Ok) return s;

  if (bpp <= 8) {
    const uint32_t maxEntries = 1u << bpp;
    const uint32_t entries = colorsUsed == 0 ? maxEntries : std::min(colorsUsed, maxEntries);
    const size_t entrySize = headerSize == kCoreHeaderSize ? 3 : 4;
    size_t offset = kFileHeaderSize + headerSize;
    if (data.size() < offset || (data.size() - offset) / entrySize < entries) {
      return Status::CorruptData;
    }
    info.palette.entries.resize(entries);
    for (uint32_t& entry : info.palette.entries) {
      entry = Argb(255, data[offset + 2], data[offset + 1], data[offset]);
      offset += entrySize;
    }
  }
  info.pixelOffset = U32(&data[10]);
  if (info.pixelOffset > data.size()) return Status::CorruptData;
  return Status::Ok;
}

uint8_t* DestRow(Bitmap& bitmap, const BmpInfo& info, int64_t fileRow) {
  const int64_t y = info.topDown ? fileRow : info.height - 1 - fileRow;
  return bitmap.MutableRow(static_cast<int32_t>(y));
}

Status DecodeRle(std::span<const uint8_t> in, const BmpInfo& info, Bitmap& bitmap) {
  const bool four = info.compression == kBiRle4;
  const int64_t width = info.width;
  const int64_t height = info.height;
  int64_t x = 0;
  int64_t y = 0;  // rows in file order
  size_t pos = 0;
  while (true) {
    // Data that stops after the last row without an end marker is complete.
    if (in.size() - pos < 2) return y >= height ? Status::Ok : Status::CorruptData;
    const uint8_t count = in[pos];
    const uint8_t value = in[pos + 1];
    pos += 2;
    if (count > 0) {
      if (y >= height || count > width - x) return Status::CorruptData;
      uint8_t* row = DestRow(bitmap, info, y);
      for (int i = 0; i < count; ++i) {
        row[x++] = four ? static_cast<uint8_t>(i % 2 == 0 ? value >> 4 : value & 15) : value;
      }
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of picture
      return Status::Ok;
    } else if (value == 2) {  // delta
      if (in.size() - pos < 2) return Status::CorruptData;
      const int64_t dx = in[pos];
      const int64_t dy = in[pos + 1];
      pos += 2;
      if (dx > width - x || dy > height - y) return Status::CorruptData;
      x += dx;
      y += dy;
    } else {  // literal pixels, padded to 16 bits
      const size_t bytes = four ? (value + 1u) / 2 : value;
      if (in.size() - pos < bytes) return Status::CorruptData;
      if (y >= height || value > width - x) return Status::CorruptData;
      uint8_t* row = DestRow(bitmap, info, y);
      for (size_t i = 0; i < value; ++i) {
        const uint8_t b = in[pos + (four ? i / 2 : i)];
        row[x++] = four ? static_cast<uint8_t>(i % 2 == 0 ? b >> 4 : b & 15) : b;
      }
      pos += std::min(bytes + (bytes & 1), in.size() - pos);
    }
  }
}

uint32_t ReadPixel(const uint8_t* row, int32_t x, uint32_t bpp) {
  return bpp == 16 ? U16(row + 2 * static_cast<size_t>(x)) : U32(row + 4 * static_cast<size_t>(x));
}

Status DecodeRows(std::span<const uint8_t> pixels, size_t rowBytes, const BmpInfo& info,
                  std::unique_ptr<Bitmap>& out) {
  const uint32_t bpp = info.bitCount;
  const Channel red(info.masks[0]), green(info.masks[1]), blue(info.masks[2]), alpha(info.masks[3]);
  auto fileRow = [&](int32_t y) { return pixels.data() + static_cast<size_t>(y) * rowBytes; };

  PixelFormat format = bpp <= 8 ? PixelFormat::Indexed8 : PixelFormat::Rgb24;
  if (bpp >= 16 && alpha.bits > 0) {
    // Many writers leave the alpha byte zero: only a non-zero alpha counts.
    for (int32_t y = 0; y < info.height && format == PixelFormat::Rgb24; ++y) {
      for (int32_t x = 0; x < info.width; ++x) {
        if (alpha.Extract(ReadPixel(fileRow(y), x, bpp)) != 0) {
          format = PixelFormat::Argb32;
          break;
        }
      }
    }
  }
  if (Status s = Bitmap::Create(info.width, info.height, format, out); s != Status::Ok) return s;

  for (int32_t y = 0; y < info.height; ++y) {
    const uint8_t* src = fileRow(y);
    uint8_t* dst = DestRow(*out, info, y);
    if (bpp <= 8) {
      const uint32_t mask = (1u << bpp) - 1;
      for (int32_t x = 0; x < info.width; ++x) {
        const size_t bit = static_cast<size_t>(x) * bpp;
        dst[x] = static_cast<uint8_t>((src[bit / 8] >> (8 - bpp - bit % 8)) & mask);
      }
    } else if (bpp == 24) {
      std::memcpy(dst, src, static_cast<size_t>(info.width) * 3);
    } else {
      const size_t step = format == PixelFormat::Argb32 ? 4 : 3;
      for (int32_t x = 0; x < info.width; ++x) {
        const uint32_t pixel = ReadPixel(src, x, bpp);
        uint8_t* p = dst + static_cast<size_t>(x) * step;
        p[0] = blue.Extract(pixel);
        p[1] = green.Extract(pixel);
        p[2] = red.Extract(pixel);
        if (step == 4) p[3] = alpha.Extract(pixel);
      }
    }
  }
  return Status::Ok;
}

Status DecodeBmpUnchecked(std::span<const uint8_t> data, const DecodeLimits& limits,
                          std::unique_ptr<Bitmap>& out) {
  BmpInfo info;
  if (Status s = ParseHeader(data, info); s != Status::Ok) return s;
  const auto width = static_cast<uint64_t>(info.width);
  const auto height = static_cast<uint64_t>(info.height);
  // The picture is all the memory we take: rows are read in place.
  const uint64_t bytesPerPixel = info.bitCount <= 8 ? 1 : info.masks[3] != 0 ? 4 : 3;
  Status status = CheckPictureSize(limits, width, height);
  if (status == Status::Ok) status = CheckDecodeBytes(limits, width * height * bytesPerPixel);
  if (status != Status::Ok) return status;
  const std::span<const uint8_t> pixels = data.subspan(info.pixelOffset);
  if (info.compression == kBiRle8 || info.compression == kBiRle4) {
    std::unique_ptr<Bitmap> bitmap;
    status = Bitmap::Create(info.width, info.height, PixelFormat::Indexed8, bitmap);
    if (status == Status::Ok) status = DecodeRle(pixels, info, *bitmap);
    if (status != Status::Ok) return status;
    bitmap->SetPalette(std::move(info.palette));
    out = std::move(bitmap);
    return Status::Ok;
  }
  const uint64_t rowBytes = (static_cast<uint64_t>(info.width) * info.bitCount + 31) / 32 * 4;
  if (static_cast<uint64_t>(info.height) > pixels.size() / rowBytes) return Status::CorruptData;
  std::unique_ptr<Bitmap> bitmap;
  status = DecodeRows(pixels, rowBytes, info, bitmap);
  if (status != Status::Ok) return status;
  if (info.bitCount <= 8) bitmap->SetPalette(std::move(info.palette));
  out = std::move(bitmap);
  return Status::Ok;
}

Status EncodeBmpUnchecked(const Bitmap& bitmap, ScratchStream& stream) {
  const PixelFormat format = bitmap.Format();
  const bool indexed = format == PixelFormat::Indexed8;
  if (indexed && bitmap.Palette().Count() == 0) return Status::InvalidParameter;
  const uint32_t bpp = static_cast<uint32_t>(BytesPerPixel(format)) * 8;
  const uint32_t headerSize = format == PixelFormat::Argb32 ? kV4HeaderSize : kInfoHeaderSize;
  const uint32_t colors = indexed ? std::min(bitmap.Palette().Count(), 256u) : 0;
  const uint32_t dataOffset = static_cast<uint32_t>(kFileHeaderSize) + headerSize + 4 * colors;
  const size_t rowBytes = (bitmap.Stride() + 3) & ~size_t{3};
  const uint64_t imageBytes = uint64_t{rowBytes} * static_cast<uint64_t>(bitmap.Height());
  if (imageBytes > UINT32_MAX - dataOffset) return Status::InvalidParameter;
  std::vector<uint8_t> head;
  head.reserve(dataOffset);
  head.push_back('B');
  head.push_back('M');
  Put32(head, dataOffset + static_cast<uint32_t>(imageBytes));
  Put32(head, 0);
  Put32(head, dataOffset);
  Put32(head, headerSize);
  Put32(head, static_cast<uint32_t>(bitmap.Width()));
  Put32(head, static_cast<uint32_t>(bitmap.Height()));  // positive: rows bottom-up
  Put16(head, 1);
  Put16(head, bpp);
  Put32(head, format == PixelFormat::Argb32 ? kBiBitfields : kBiRgb);
  Put32(head, static_cast<uint32_t>(imageBytes));
  Put32(head, 0);  // no resolution
  Put32(head, 0);
  Put32(head, colors);
  Put32(head, 0);
  if (format == PixelFormat::Argb32) {
    for (uint32_t mask : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u}) Put32(head, mask);
    Put32(head, 0x73524742);                       // LCS_sRGB
    head.resize(kFileHeaderSize + kV4HeaderSize);  // endpoints and gammas unused
  }
  for (uint32_t i = 0; i < colors; ++i) {
    const uint32_t c = bitmap.Palette().entries[i];
    Put32(head, c & 0x00FFFFFF);
  }
  if (Status s = stream.Write(head.data(), head.size()); s != Status::Ok) return s;

  std::vector<uint8_t> row(rowBytes, 0);
  for (int32_t y = bitmap.Height() - 1; y >= 0; --y) {
    std::memcpy(row.data(), bitmap.Row(y), bitmap.Stride());
    if (Status s = stream.Write(row.data(), row.size()); s != Status::Ok) return s;
  }
  return Status::Ok;
}

}  // namespace

Status EncodeBmp(const Bitmap& bitmap, ScratchStream& stream) {
  return GuardEncode(stream, [&] { return EncodeBmpUnchecked(bitmap, stream); });
}

Status DecodeBmp(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out,
                 RowSink* /*rows*/) {
  return GuardMemory([&] { return DecodeBmpUnchecked(data, limits, out); });
}

}  // namespace rzt2
