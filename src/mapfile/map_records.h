// The records of a map file. All integers are unsigned 32-bit
// little-endian, every offset is absolute, nothing is padded:
//   0     MapHeader (444 bytes)
//   444   level table: 16 LevelEntry records of 40 bytes
//   1084  preview block: one complete encoded picture
//   then per stored level: frame index (refCount FrameRef records),
//   SharedPrefix (prefixSize bytes), frame bodies in row order.
// Records are read and written field by field, never through struct layout.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "raster/codecs/decode_limits.h"
#include "raster/codecs/image_formats.h"

namespace rzt2 {

inline constexpr uint32_t kMapVersion = 257;
inline constexpr uint32_t kMapHeaderSize = 444;
inline constexpr uint32_t kLevelEntrySize = 40;
inline constexpr uint32_t kLevelCount = 16;
inline constexpr uint32_t kLevelTableOffset = kMapHeaderSize;
inline constexpr uint32_t kPreviewOffset = kLevelTableOffset + kLevelCount * kLevelEntrySize;  // 1084
inline constexpr uint32_t kFrameRefSize = 8;
inline constexpr uint32_t kFirstFrameRef = 16;  // index positions 0..15: preview, then reserved
inline constexpr uint32_t kRandomValueCount = 8;

// What map files are named: NAME.rzt2.
inline constexpr std::string_view kMapFileExtension = "rzt2";

// Limits for reading map files, which another program may have written.
// Our writer makes frames of 32..512 pixels and previews of at most
// 1024 x 1024; readers allow far more, but never a whole picture's worth,
// nor a frame that a frame format cannot hold. (No std::ranges algorithms:
// the browser build's libc++ has none.)
inline constexpr uint32_t kMaxFrameSide = 4096;
static_assert(std::all_of(std::begin(kFrameFormats), std::end(kFrameFormats),
                          [](const ImageFormat& format) { return kMaxFrameSide <= format.maxSide; }));
inline constexpr uint64_t kMaxPreviewPixels = uint64_t{kMaxFrameSide} * kMaxFrameSide;
// The longest shared prefix a frame format stores; a level claiming a
// longer one is damage.
inline constexpr uint32_t kMaxSharedPrefixSize = [] {
  uint32_t longest = 0;
  for (const ImageFormat& format : kFrameFormats) longest = std::max(longest, format.sharedPrefixSize);
  return longest;
}();
// No frame format stores pixels in less than 1/2730 byte each (GIF's LZW at
// best: one 12-bit code per run of 4095; a frame of one colour takes about
// 1/1240 in GIF, 1/1030 in PNG). A level claiming more pixels per byte of
// the whole file than this cannot be there, and a crafted file of a few
// kilobytes must not make a reader clear gigabytes.
inline constexpr uint64_t kMaxPixelsPerMapByte = 4096;
// The pixels a stored level's grid of frames may hold in a file of fileSize
// bytes: what its bytes can describe, and no more than a picture may have
// (the map writer refuses pictures whose grid would pass kPixelCeiling).
inline uint64_t MaxLevelPixels(uint64_t fileSize) {
  return std::min(kPixelCeiling, fileSize * kMaxPixelsPerMapByte);
}
// Every frame decodes from a copy of the shared prefix and its body. A
// written file decodes at most the largest shared prefix for each 8-byte
// index record (108 bytes a byte); records sharing one large body to
// multiply the work are damage.
inline constexpr uint64_t kMaxDecodedBytesPerMapByte = 256;
static_assert(kMaxSharedPrefixSize / kFrameRefSize < kMaxDecodedBytesPerMapByte);

// The zoom levels in hundredths of a percent, by zoom level index.
inline constexpr std::array<uint32_t, 7> kZoomLevels = {10000, 5000, 2500, 1000, 500, 200, 100};

struct LevelEntry {
  uint32_t scale = 0;
  uint32_t prefixOffset = 0;
  uint32_t prefixSize = 0;
  uint32_t indexOffset = 0;
  uint32_t firstFrameRef = 0;
  uint32_t refCount = 0;
  uint32_t frameWidth = 0;
  uint32_t frameHeight = 0;
  uint32_t columns = 0;
  uint32_t rows = 0;
  bool operator==(const LevelEntry&) const = default;
};

struct MapHeader {
  uint32_t version = kMapVersion;
  uint32_t headerSize = kMapHeaderSize;
  LevelEntry firstLevel;  // all but scale: a copy of bytes 4..39 of level entry 0
  uint32_t imageWidth = 0;
  uint32_t imageHeight = 0;
  uint32_t levelTableOffset = kLevelTableOffset;
  uint32_t levelCount = kLevelCount;
  std::array<uint32_t, kRandomValueCount> randomValues{};
  uint32_t randomSum = 0;
  bool operator==(const MapHeader&) const = default;
};

struct FrameRef {
  uint32_t offset = 0;
  uint32_t size = 0;
  bool operator==(const FrameRef&) const = default;
};

// The identical leading bytes of a level's frame encodings, stored once.
using SharedPrefix = std::vector<uint8_t>;

uint32_t ReadU32(const uint8_t* bytes);
void WriteU32(uint8_t* bytes, uint32_t value);

// Serializes the header: magic "RZTM", the fields, zero reserved bytes.
std::array<uint8_t, kMapHeaderSize> EncodeMapHeader(const MapHeader& header);
// Reads the header fields from at least kMapHeaderSize bytes; false when fewer are given.
bool DecodeMapHeader(std::span<const uint8_t> bytes, MapHeader& header);

void EncodeLevelEntry(const LevelEntry& entry, uint8_t* out);  // 40 bytes
LevelEntry DecodeLevelEntry(const uint8_t* bytes);

void EncodeFrameRef(const FrameRef& ref, uint8_t* out);  // 8 bytes
FrameRef DecodeFrameRef(const uint8_t* bytes);

// The acceptance rule for map files: magic "RZTM", headerSize of at least
// 48, and a first level whose refCount covers its columns x rows (computed
// without wrapping). Needs the first 48 bytes; false for fewer.
bool IsAcceptedMapFile(std::span<const uint8_t> bytes);

}  // namespace rzt2
