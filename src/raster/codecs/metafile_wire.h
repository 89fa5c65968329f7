// The conversation between the metafile decoder and its helper program.
//
// The decoder starts `rzt2-metafile MAX_PIXELS MEMORY_BYTES SECONDS
// PARENT_PID` with the metafile on standard input: the pixel limit, the
// memory the picture may take (16 bytes a pixel while drawing), the CPU time
// and the converter's process id, with which the helper ends. The helper answers on standard output with a 16-byte
// reply: "RZMF", then a status code, the width and the height as
// little-endian 32-bit numbers; when the status is Ok, width x height ARGB
// pixels follow, top-down, each a little-endian 0xAARRGGBB with straight
// (not premultiplied) alpha, the Argb32 layout of a Bitmap.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <span>

#include "base/status.h"
#include "raster/codecs/signature.h"

namespace rzt2 {

enum class MetafileKind { None, Emf, Wmf };

// EMF: a header record (type 1) with the signature " EMF" at offset 40.
inline constexpr Signature kEmfSignatures[] = {{At(0, "\x01\0\0\0"), At(40, " EMF")}};
// WMF: first behind the 22-byte placeable header that gives its frame; else
// plain, in memory (1) or on disk (2), a header of 9 words, version 1 or 3.
inline constexpr Signature kWmfSignatures[] = {{At(0, "\xD7\xCD\xC6\x9A")},
                                               {At(0, "\x01\0\x09\0\0\x01")},
                                               {At(0, "\x01\0\x09\0\0\x03")},
                                               {At(0, "\x02\0\x09\0\0\x01")},
                                               {At(0, "\x02\0\x09\0\0\x03")}};

inline bool IsPlaceableWmf(std::span<const uint8_t> data) { return kWmfSignatures[0].Matches(data); }

// Recognises a metafile by its leading bytes.
inline MetafileKind SniffMetafile(std::span<const uint8_t> data) {
  if (MatchesAny(kEmfSignatures, data)) return MetafileKind::Emf;
  if (MatchesAny(kWmfSignatures, data)) return MetafileKind::Wmf;
  return MetafileKind::None;
}

inline constexpr char kMetafileHelperName[] = "rzt2-metafile";
inline constexpr size_t kMetafileReplySize = 16;

struct MetafileReply {
  Status status = Status::GenericError;
  uint32_t width = 0;
  uint32_t height = 0;
};

inline std::array<uint8_t, kMetafileReplySize> EncodeMetafileReply(const MetafileReply& reply) {
  std::array<uint8_t, kMetafileReplySize> bytes{'R', 'Z', 'M', 'F'};
  const uint32_t fields[] = {static_cast<uint32_t>(reply.status), reply.width, reply.height};
  for (size_t i = 0; i < 3; ++i) {
    for (size_t b = 0; b < 4; ++b) bytes[4 + 4 * i + b] = static_cast<uint8_t>(fields[i] >> (8 * b));
  }
  return bytes;
}

// False when the bytes are not a reply; the status is then not trusted.
inline bool DecodeMetafileReply(const uint8_t* bytes, MetafileReply& reply) {
  if (std::memcmp(bytes, "RZMF", 4) != 0) return false;
  uint32_t fields[3] = {};
  for (size_t i = 0; i < 3; ++i) {
    for (size_t b = 0; b < 4; ++b) fields[i] |= uint32_t{bytes[4 + 4 * i + b]} << (8 * b);
  }
  if (fields[0] >= static_cast<uint32_t>(kStatusCount)) return false;
  reply = {static_cast<Status>(fields[0]), fields[1], fields[2]};
  return true;
}

}  // namespace rzt2
