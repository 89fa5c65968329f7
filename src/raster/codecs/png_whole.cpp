#include "raster/codecs/png_whole.h"

#include <libdeflate.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace rzt2 {
namespace {

constexpr size_t kSignatureBytes = 8;
constexpr size_t kChunkOverhead = 12;  // length, type, CRC

uint32_t BigEndian32(const uint8_t* bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
         uint32_t{bytes[3]};
}

bool IsLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

struct Chunk {
  std::span<const uint8_t> type;
  std::span<const uint8_t> data;
};

// The chunk at offset, checked as libpng checks it; nothing when it is not
// whole and regular.
std::optional<Chunk> ReadChunk(std::span<const uint8_t> file, size_t offset) {
  if (file.size() - offset < kChunkOverhead) return std::nullopt;
  const uint32_t length = BigEndian32(file.data() + offset);
  if (length > 0x7FFFFFFFu || file.size() - offset - kChunkOverhead < length) return std::nullopt;
  const std::span<const uint8_t> type = file.subspan(offset + 4, 4);
  for (const uint8_t c : type) {
    if (!IsLetter(c)) return std::nullopt;
  }
  const std::span<const uint8_t> typeAndData = file.subspan(offset + 4, 4 + size_t{length});
  if (libdeflate_crc32(0, typeAndData.data(), typeAndData.size()) !=
      BigEndian32(typeAndData.data() + typeAndData.size())) {
    return std::nullopt;
  }
  return Chunk{type, typeAndData.subspan(4)};
}

bool Is(const Chunk& chunk, const char (&type)[5]) { return std::memcmp(chunk.type.data(), type, 4) == 0; }

// The image data of the file, its IDAT chunks joined; nothing unless the
// chunks are those a plain true-colour picture may have: IHDR, PLTE, one
// run of IDAT, IEND, and ancillary chunks but tRNS (which brings alpha).
std::optional<std::span<const uint8_t>> ImageData(std::span<const uint8_t> file,
                                                  std::vector<uint8_t>& joined) {
  std::span<const uint8_t> first;
  size_t idats = 0;
  bool idatsEnded = false;
  for (size_t offset = kSignatureBytes;;) {
    const std::optional<Chunk> chunk = ReadChunk(file, offset);
    if (!chunk) return std::nullopt;
    const bool header = offset == kSignatureBytes;  // the IHDR the caller checked
    offset += kChunkOverhead + chunk->data.size();
    if (Is(*chunk, "IDAT")) {
      if (idatsEnded) return std::nullopt;
      if (idats++ == 0) {
        first = chunk->data;
      } else {
        if (idats == 2) {
          joined.reserve(file.size());  // room for every chunk: each byte is copied once
          joined.assign(first.begin(), first.end());
        }
        joined.insert(joined.end(), chunk->data.begin(), chunk->data.end());
      }
      continue;
    }
    idatsEnded = idats > 0;
    if (Is(*chunk, "IEND")) break;
    const bool critical = (chunk->type[0] & 0x20) == 0;
    const bool allowed = header || (Is(*chunk, "PLTE") && idats == 0);
    if (Is(*chunk, "tRNS") || (critical && !allowed)) return std::nullopt;
  }
  if (idats == 0) return std::nullopt;
  return idats == 1 ? first : std::span<const uint8_t>(joined);
}

#if defined(__SSE2__)
// Paeth, the filter that takes most of the time, a pixel at a time with its
// channels side by side in 16-bit lanes; bytes is a multiple of Bpp. Reads
// and writes exactly the pixel's bytes, so it may run in place as Unfilter.
template <size_t Bpp>
void UnfilterPaeth(const uint8_t* in, const uint8_t* prior, size_t bytes, uint8_t* out) {
  const __m128i zero = _mm_setzero_si128();
  // Byte by byte: a 3-byte copy through memory would stall every load.
  const auto load = [&](const uint8_t* at) {
    uint32_t pixel = 0;
    for (size_t c = 0; c < Bpp; ++c) pixel |= uint32_t{at[c]} << (8 * c);
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(pixel)), zero);
  };
  const auto absolute = [&](__m128i x) { return _mm_max_epi16(x, _mm_sub_epi16(zero, x)); };
  const auto select = [](__m128i mask, __m128i yes, __m128i no) {
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
  };
  __m128i left = zero, upLeft = zero;
  for (size_t i = 0; i < bytes; i += Bpp) {
    const __m128i up = load(prior + i);
    const __m128i fromUp = _mm_sub_epi16(up, upLeft);      // p - left
    const __m128i fromLeft = _mm_sub_epi16(left, upLeft);  // p - up
    const __m128i pa = absolute(fromUp);
    const __m128i pb = absolute(fromLeft);
    const __m128i pc = absolute(_mm_add_epi16(fromUp, fromLeft));
    const __m128i smallest = _mm_min_epi16(_mm_min_epi16(pa, pb), pc);
    const __m128i predicted =
        select(_mm_cmpeq_epi16(pa, smallest), left, select(_mm_cmpeq_epi16(pb, smallest), up, upLeft));
    const __m128i sum = _mm_and_si128(_mm_add_epi16(load(in + i), predicted), _mm_set1_epi16(0xFF));
    const auto pixel = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(sum, zero)));
    for (size_t c = 0; c < Bpp; ++c) out[i + c] = static_cast<uint8_t>(pixel >> (8 * c));
    left = sum;
    upLeft = up;
  }
}
#else
uint8_t Paeth(uint8_t left, uint8_t up, uint8_t upLeft) {
  const int p = left + up - upLeft;
  const int pa = std::abs(p - left), pb = std::abs(p - up), pc = std::abs(p - upLeft);
  if (pa <= pb && pa <= pc) return left;
  return pb <= pc ? up : upLeft;
}
#endif

// Unfilters one row from in to out, which may start up to the row's filter
// byte and y more bytes before it (in place): each byte is read before
// anything is written over it. prior is the row above, unfiltered, or null.
void Unfilter(uint8_t filter, const uint8_t* in, const uint8_t* prior, size_t bytes, size_t bpp,
              uint8_t* out) {
  if (prior == nullptr && filter >= 2) {  // the row above the first counts as zeros
    if (filter == 2) filter = 0;
    if (filter == 4) filter = 1;  // Paeth of (left, 0, 0) is left
  }
  const size_t first = std::min(bpp, bytes);
  switch (filter) {
    case 0:
      std::memmove(out, in, bytes);
      return;
    case 1:
      std::memmove(out, in, first);
      for (size_t i = bpp; i < bytes; ++i) out[i] = static_cast<uint8_t>(in[i] + out[i - bpp]);
      return;
    case 2:
      for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(in[i] + prior[i]);
      return;
    case 3:
      for (size_t i = 0; i < first; ++i) {
        out[i] = static_cast<uint8_t>(in[i] + (prior != nullptr ? prior[i] : 0) / 2);
      }
      for (size_t i = bpp; i < bytes; ++i) {
        out[i] = static_cast<uint8_t>(in[i] + (out[i - bpp] + (prior != nullptr ? prior[i] : 0)) / 2);
      }
      return;
    default:
#if defined(__SSE2__)
      return bpp == 3 ? UnfilterPaeth<3>(in, prior, bytes, out) : UnfilterPaeth<4>(in, prior, bytes, out);
#else
      for (size_t i = 0; i < first; ++i) out[i] = static_cast<uint8_t>(in[i] + prior[i]);
      for (size_t i = bpp; i < bytes; ++i) {
        out[i] = static_cast<uint8_t>(in[i] + Paeth(out[i - bpp], prior[i], prior[i - bpp]));
      }
      return;
#endif
  }
}

// R,G,B(,A) to the bitmap's B,G,R(,A).
void SwapRedBlue(uint8_t* row, size_t bytes, size_t bpp) {
  for (size_t i = 0; i + 2 < bytes; i += bpp) std::swap(row[i], row[i + 2]);
}

}  // namespace

std::optional<Status> DecodeWholePng(std::span<const uint8_t> data, std::unique_ptr<Bitmap>& out,
                                     RowSink* rows) {
  const uint8_t* ihdr = data.data() + kSignatureBytes + 8;
  const uint8_t colourType = ihdr[9];
  const bool plain =
      ihdr[8] == 8 && (colourType == 2 || colourType == 6) && ihdr[10] == 0 && ihdr[11] == 0 && ihdr[12] == 0;
  if (!plain) return std::nullopt;
  std::vector<uint8_t> joined;
  const std::optional<std::span<const uint8_t>> compressed = ImageData(data, joined);
  if (!compressed) return std::nullopt;

  const auto width = static_cast<int32_t>(BigEndian32(ihdr));
  const auto height = static_cast<int32_t>(BigEndian32(ihdr + 4));
  const PixelFormat format = colourType == 6 ? PixelFormat::Argb32 : PixelFormat::Rgb24;
  const auto bpp = static_cast<size_t>(BytesPerPixel(format));
  std::unique_ptr<Bitmap> bitmap;
  // The filtered rows are one byte longer each: the block has room for them.
  if (const Status status = Bitmap::Create(width, height, format, bitmap, static_cast<size_t>(height));
      status != Status::Ok) {
    return status;
  }
  const size_t stride = bitmap->Stride();
  const size_t filteredBytes = (stride + 1) * static_cast<size_t>(height);
  uint8_t* const block = bitmap->MutableRow(0);
  struct Inflater {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    ~Inflater() { libdeflate_free_decompressor(d); }
  } inflater;
  if (inflater.d == nullptr) return Status::OutOfMemory;
  size_t consumed = 0;
  if (libdeflate_zlib_decompress_ex(inflater.d, compressed->data(), compressed->size(), block, filteredBytes,
                                    &consumed, nullptr) != LIBDEFLATE_SUCCESS ||
      consumed != compressed->size()) {
    return std::nullopt;
  }
  for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
    if (block[y * (stride + 1)] > 4) return std::nullopt;
  }

  RowReport report(rows, *bitmap);
  for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
    const uint8_t* filtered = block + y * (stride + 1);
    uint8_t* row = block + y * stride;
    // The row above is swapped only once this one, which predicts from its
    // file order, is unfiltered.
    Unfilter(filtered[0], filtered + 1, y > 0 ? row - stride : nullptr, stride, bpp, row);
    if (y > 0) {
      SwapRedBlue(row - stride, stride, bpp);
      report.Done(static_cast<int32_t>(y));
    }
  }
  SwapRedBlue(block + (static_cast<size_t>(height) - 1) * stride, stride, bpp);
  report.Done(height);
  report.Succeeded();
  out = std::move(bitmap);
  return Status::Ok;
}

}  // namespace rzt2
