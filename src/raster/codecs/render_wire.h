// The conversation between the rendering decoder (render_codec.h) and its
// helper program, and the formats they both recognise.
//
// The decoder starts `rzt2-render MAX_PIXELS MEMORY_BYTES SECONDS
// PARENT_PID DPI PAGE` with the file on standard input: the pixel limit, the
// memory the picture may take (16 bytes a pixel while drawing), the CPU
// time, the converter's process id (the helper ends with it), the pixels an
// inch of drawn formats (0: each format's own) and the page to draw, from 1;
// page 0 asks only for the page count. The helper answers on standard output
// with a 20-byte reply: "RZRD", then a status code, the width, the height
// and the file's page count as little-endian 32-bit numbers; when the status
// is Ok and a page was asked for, width x height ARGB pixels follow,
// top-down, each a little-endian 0xAARRGGBB with straight (not
// premultiplied) alpha, the Argb32 layout of a Bitmap.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <span>

#include "base/status.h"
#include "raster/codecs/signature.h"

namespace rzt2 {

enum class RenderedKind { None, Emf, Wmf, Pdf, Svg, Svgz, Heif };

// EMF: a header record (type 1) with the signature " EMF" at offset 40.
inline constexpr Signature kEmfSignatures[] = {{At(0, "\x01\0\0\0"), At(40, " EMF")}};
// WMF: first behind the 22-byte placeable header that gives its frame; else
// plain, in memory (1) or on disk (2), a header of 9 words, version 1 or 3.
inline constexpr Signature kWmfSignatures[] = {{At(0, "\xD7\xCD\xC6\x9A")},
                                               {At(0, "\x01\0\x09\0\0\x01")},
                                               {At(0, "\x01\0\x09\0\0\x03")},
                                               {At(0, "\x02\0\x09\0\0\x01")},
                                               {At(0, "\x02\0\x09\0\0\x03")}};
inline constexpr Signature kPdfSignatures[] = {{At(0, "%PDF-")}};
// SVG: its root element in the first 64 KiB, after any XML declaration,
// comments and document type (editors write long ones); SVGZ: gzip's magic number (no other gzip file is
// read).
inline constexpr Signature kSvgSignatures[] = {{Within(0, 65536, "<svg")}};
inline constexpr Signature kSvgzSignatures[] = {{At(0, "\x1F\x8B")}};
// HEIF and AVIF: an ISO media file whose major brand names the format.
inline constexpr Signature kHeifSignatures[] = {
    {At(4, "ftyp"), At(8, "heic")}, {At(4, "ftyp"), At(8, "heix")}, {At(4, "ftyp"), At(8, "heim")},
    {At(4, "ftyp"), At(8, "heis")}, {At(4, "ftyp"), At(8, "mif1")}, {At(4, "ftyp"), At(8, "msf1")}};
inline constexpr Signature kAvifSignatures[] = {{At(4, "ftyp"), At(8, "avif")},
                                                {At(4, "ftyp"), At(8, "avis")}};

inline bool IsPlaceableWmf(std::span<const uint8_t> data) { return kWmfSignatures[0].Matches(data); }

// Recognises a format the helper renders by its leading bytes.
inline RenderedKind SniffRendered(std::span<const uint8_t> data) {
  if (MatchesAny(kEmfSignatures, data)) return RenderedKind::Emf;
  if (MatchesAny(kWmfSignatures, data)) return RenderedKind::Wmf;
  if (MatchesAny(kPdfSignatures, data)) return RenderedKind::Pdf;
  if (MatchesAny(kHeifSignatures, data) || MatchesAny(kAvifSignatures, data)) return RenderedKind::Heif;
  if (MatchesAny(kSvgzSignatures, data)) return RenderedKind::Svgz;
  if (MatchesAny(kSvgSignatures, data)) return RenderedKind::Svg;
  return RenderedKind::None;
}

inline constexpr char kRenderHelperName[] = "rzt2-render";
inline constexpr size_t kRenderReplySize = 20;

struct RenderReply {
  Status status = Status::GenericError;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t pages = 0;
};

inline std::array<uint8_t, kRenderReplySize> EncodeRenderReply(const RenderReply& reply) {
  std::array<uint8_t, kRenderReplySize> bytes{'R', 'Z', 'R', 'D'};
  const uint32_t fields[] = {static_cast<uint32_t>(reply.status), reply.width, reply.height, reply.pages};
  for (size_t i = 0; i < 4; ++i) {
    for (size_t b = 0; b < 4; ++b) bytes[4 + 4 * i + b] = static_cast<uint8_t>(fields[i] >> (8 * b));
  }
  return bytes;
}

// False when the bytes are not a reply; the status is then not trusted.
inline bool DecodeRenderReply(const uint8_t* bytes, RenderReply& reply) {
  if (std::memcmp(bytes, "RZRD", 4) != 0) return false;
  uint32_t fields[4] = {};
  for (size_t i = 0; i < 4; ++i) {
    for (size_t b = 0; b < 4; ++b) fields[i] |= uint32_t{bytes[4 + 4 * i + b]} << (8 * b);
  }
  if (fields[0] >= static_cast<uint32_t>(kStatusCount)) return false;
  reply = {static_cast<Status>(fields[0]), fields[1], fields[2], fields[3]};
  return true;
}

}  // namespace rzt2
