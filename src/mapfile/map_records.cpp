#include "mapfile/map_records.h"

#include <cstring>

namespace rzt2 {

namespace {

constexpr char kMagic[4] = {'R', 'Z', 'T', 'M'};
constexpr size_t kFirstLevelOffset = 12;
constexpr size_t kAcceptanceBytes = 48;

// The nine fields of a level entry after its scale, in file order.
constexpr uint32_t LevelEntry::*kEntryFields[] = {
    &LevelEntry::prefixOffset,  &LevelEntry::prefixSize, &LevelEntry::indexOffset,
    &LevelEntry::firstFrameRef, &LevelEntry::refCount,   &LevelEntry::frameWidth,
    &LevelEntry::frameHeight,   &LevelEntry::columns,    &LevelEntry::rows};

}  // namespace

uint32_t ReadU32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

void WriteU32(uint8_t* bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

std::array<uint8_t, kMapHeaderSize> EncodeMapHeader(const MapHeader& header) {
  std::array<uint8_t, kMapHeaderSize> out{};
  std::memcpy(out.data(), kMagic, 4);
  WriteU32(&out[4], header.version);
  WriteU32(&out[8], header.headerSize);
  for (size_t i = 0; i < std::size(kEntryFields); ++i) {
    WriteU32(&out[kFirstLevelOffset + 4 * i], header.firstLevel.*kEntryFields[i]);
  }
  WriteU32(&out[48], header.imageWidth);
  WriteU32(&out[52], header.imageHeight);
  WriteU32(&out[56], header.levelTableOffset);
  WriteU32(&out[60], header.levelCount);
  for (size_t i = 0; i < kRandomValueCount; ++i) WriteU32(&out[64 + 4 * i], header.randomValues[i]);
  WriteU32(&out[100], header.randomSum);
  return out;
}

bool DecodeMapHeader(std::span<const uint8_t> bytes, MapHeader& header) {
  if (bytes.size() < kMapHeaderSize) return false;
  const uint8_t* in = bytes.data();
  header.version = ReadU32(in + 4);
  header.headerSize = ReadU32(in + 8);
  header.firstLevel = LevelEntry{};
  for (size_t i = 0; i < std::size(kEntryFields); ++i) {
    header.firstLevel.*kEntryFields[i] = ReadU32(in + kFirstLevelOffset + 4 * i);
  }
  header.imageWidth = ReadU32(in + 48);
  header.imageHeight = ReadU32(in + 52);
  header.levelTableOffset = ReadU32(in + 56);
  header.levelCount = ReadU32(in + 60);
  for (size_t i = 0; i < kRandomValueCount; ++i) header.randomValues[i] = ReadU32(in + 64 + 4 * i);
  header.randomSum = ReadU32(in + 100);
  return true;
}

void EncodeLevelEntry(const LevelEntry& entry, uint8_t* out) {
  WriteU32(out, entry.scale);
  for (size_t i = 0; i < std::size(kEntryFields); ++i) WriteU32(out + 4 + 4 * i, entry.*kEntryFields[i]);
}

LevelEntry DecodeLevelEntry(const uint8_t* bytes) {
  LevelEntry entry;
  entry.scale = ReadU32(bytes);
  for (size_t i = 0; i < std::size(kEntryFields); ++i) entry.*kEntryFields[i] = ReadU32(bytes + 4 + 4 * i);
  return entry;
}

void EncodeFrameRef(const FrameRef& ref, uint8_t* out) {
  WriteU32(out, ref.offset);
  WriteU32(out + 4, ref.size);
}

FrameRef DecodeFrameRef(const uint8_t* bytes) { return FrameRef{ReadU32(bytes), ReadU32(bytes + 4)}; }

bool IsAcceptedMapFile(std::span<const uint8_t> bytes) {
  if (bytes.size() < kAcceptanceBytes) return false;
  if (std::memcmp(bytes.data(), kMagic, 4) != 0) return false;
  if (ReadU32(&bytes[8]) < kAcceptanceBytes) return false;
  const uint64_t frames = uint64_t{ReadU32(&bytes[40])} * ReadU32(&bytes[44]);
  return ReadU32(&bytes[28]) >= frames;
}

}  // namespace rzt2
