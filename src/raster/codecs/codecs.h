// The per-format encoders and decoders of the raster layer.
//
// Decoders take the whole encoded file in memory, check every size against
// the limits and the data actually held before allocating, and never read
// outside the input. Palette pictures decode as Indexed8 with their palette
// and its stored entry count; others as Rgb24, or Argb32 when they carry
// transparency. Only the first picture of a multi-picture file is decoded.
//
// Encoders append a complete file at the stream's position. They take
// Indexed8 bitmaps (with a palette) in every format, and Rgb24 and Argb32
// bitmaps too.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "raster/bitmap.h"
#include "raster/codecs/decode_limits.h"
#include "raster/scratch_stream.h"
#include "raster/status.h"

namespace rzt2 {

using DecodeFunction = Status (*)(std::span<const uint8_t> data, const DecodeLimits& limits,
                                  std::unique_ptr<Bitmap>& out);
using EncodeFunction = Status (*)(const Bitmap& bitmap, ScratchStream& stream);

// GIF89a with the full palette (padded to a power of two, at least 2
// entries), a graphic control extension, one image. Encodings of bitmaps of
// one size and one palette share at least their first 784 bytes. Non-indexed
// bitmaps are refused with InvalidParameter: callers quantize first.
Status EncodeGif(const Bitmap& bitmap, ScratchStream& stream);
Status DecodeGif(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out);

// Baseline JPEG at quality 75; indexed pictures are encoded from their
// palette's colours, alpha is dropped.
Status EncodeJpeg(const Bitmap& bitmap, ScratchStream& stream);
Status DecodeJpeg(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out);

// PNG keeping 8-bit palettes (with tRNS for palette alpha) and alpha.
// Encodings of bitmaps of one size and one palette share at least their
// first 864 bytes: fixed chunks stand between the palette and the image data.
Status EncodePng(const Bitmap& bitmap, ScratchStream& stream);
Status DecodePng(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out);

// BMP: 8-bit with its colour table, 24-bit, or 32-bit.
Status EncodeBmp(const Bitmap& bitmap, ScratchStream& stream);
Status DecodeBmp(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out);

// TIFF with LZW compression; palette TIFF for indexed pictures.
Status EncodeTiff(const Bitmap& bitmap, ScratchStream& stream);
Status DecodeTiff(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out);

// Windows Metafile (WMF, placeable or not) and Enhanced Metafile (EMF, with
// EMF+), rendered at the size of their frame at 96 pixels per inch into
// Argb32; what they do not paint stays transparent. Rendered in a helper
// process with time and memory limits (metafile_codec.h).
Status DecodeMetafile(std::span<const uint8_t> data, const DecodeLimits& limits,
                      std::unique_ptr<Bitmap>& out);
bool HasMetafileSignature(std::span<const uint8_t> data);

// Recognises the format by its leading bytes and decodes it;
// UnknownImageFormat when no decoder claims the data.
Status DecodeImage(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out);

}  // namespace rzt2
