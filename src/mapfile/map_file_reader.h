// Reading map files, which another program may have written. MapFileReader
// opens one (or borrows its bytes in memory), reads the header and the level
// table, and reads everything else on request: a level's frame index, one
// frame, the preview block. Each block is checked against the file's real
// size and the reading limits of map_records.h before anything is
// allocated. Its methods are const and share no file position, so several
// threads may read frames through one reader at once.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "imaging/image_handle.h"
#include "io/file_io.h"
#include "mapfile/map_records.h"

namespace rzt2 {

// The frame records and shared prefix of one stored level, as read and
// checked by MapFileReader::ReadFrameIndex.
class FrameIndex {
 public:
  const LevelEntry& Level() const { return level_; }
  const SharedPrefix& Prefix() const { return prefix_; }
  // The record of the frame in that column and row, both inside the grid.
  const FrameRef& Ref(uint32_t column, uint32_t row) const {
    return refs_[uint64_t{row} * level_.columns + column];
  }

 private:
  friend class MapFileReader;
  LevelEntry level_;
  SharedPrefix prefix_;
  std::vector<FrameRef> refs_;  // row by row
};

// What keeps a stored level from being read from a file of fileSize bytes,
// as the check reports it ("impossible frame size"): a frame size of 0 or
// over kMaxFrameSide, an empty grid, more pixels than the file can hold
// (kMaxPixelsPerMapByte), frame records outside the file, a shared prefix
// longer than any frame format's or outside the file. Nothing for a level
// the reader reads.
std::optional<std::string_view> LevelFault(uint64_t fileSize, const LevelEntry& level);

class MapFileReader {
 public:
  // The status of OpenForReading, or of reading the header, when the file
  // cannot be read; UnknownImageFormat when it is not an accepted map file.
  static Status Open(const std::filesystem::path& path, std::unique_ptr<MapFileReader>& out);
  // The same over bytes in memory, which must outlive the reader.
  static Status FromMemory(std::span<const uint8_t> bytes, std::unique_ptr<MapFileReader>& out);

  uint64_t FileSize() const { return size_; }
  const MapHeader& Header() const { return header_; }
  // The sixteen entries of the level table; empty when the file ends first.
  std::span<const LevelEntry> LevelTable() const;

  // Fills out from offset: CorruptData when the bytes are not all in the file.
  Status ReadAt(uint64_t offset, std::span<uint8_t> out) const;

  // Position 0 of the first level's frame index: where the preview lies.
  Status ReadPreviewRef(FrameRef& out) const;
  // The preview block; CorruptData when it is empty or outside the file.
  Status ReadPreview(std::vector<uint8_t>& out) const;
  // The frame index of a stored level (the header's first level or an entry
  // of the level table). CorruptData for a LevelFault, a body outside the
  // file, or frames that decode more than the file can hold
  // (kMaxDecodedBytesPerMapByte).
  Status ReadFrameIndex(const LevelEntry& level, FrameIndex& out) const;
  // One frame as a complete encoding: the shared prefix, then its body.
  // InvalidParameter for a column or row outside the grid.
  Status ReadFrame(const FrameIndex& index, uint32_t column, uint32_t row, std::vector<uint8_t>& out) const;

 private:
  MapFileReader(UniqueFd file, std::span<const uint8_t> memory, uint64_t size)
      : file_(std::move(file)), memory_(memory), size_(size) {}
  static Status Start(std::unique_ptr<MapFileReader> reader, std::unique_ptr<MapFileReader>& out);
  Status ReadIndex(const LevelEntry& level, FrameIndex& out) const;  // ReadFrameIndex's work, unguarded

  UniqueFd file_;                    // the file, or
  std::span<const uint8_t> memory_;  // its bytes
  uint64_t size_;
  MapHeader header_;
  std::array<LevelEntry, kLevelCount> levels_{};
  bool hasLevelTable_ = false;
};

// The preview block decoded; an empty handle with the status when the file
// cannot be read, is not an accepted map file or the block lies outside it.
ImageHandle ReadMapPreview(const std::filesystem::path& path);
ImageHandle ReadMapPreview(std::span<const uint8_t> file);
// The size of the picture ReadMapImage rebuilds: the header's picture size
// when it fits in the 100 % level's frame grid (the grid pads the picture
// to whole frames), else the grid's.
struct MapImageSize {
  uint64_t width = 0;
  uint64_t height = 0;
};
MapImageSize MapImageSizeOf(const MapHeader& header);

// A level a viewer offers: its place in the level table and its entry.
struct StoredLevel {
  uint32_t index = 0;
  LevelEntry entry;
};
// The levels a viewer offers, in level table order: the entries of the
// seven zoom levels that have a scale and a frame size, or, when there are
// none, the header's first level as the 100 % level.
std::vector<StoredLevel> StoredLevels(const MapFileReader& reader);

// How many of the 100 % level's frames a rebuilt picture has white.
struct MapImageDamage {
  uint64_t damaged = 0;  // frames that did not decode
  uint64_t frames = 0;   // of all
};

// The 100 % level rebuilt from its frames: an Argb32 picture of
// MapImageSizeOf the header, carrying the first frame's palette. Frames
// that do not decode stay white and are counted in damage (when not null).
// An empty handle with the status when the file cannot be read, is not an
// accepted map file, or its first level's frame index is refused
// (MapFileReader::ReadFrameIndex).
ImageHandle ReadMapImage(const std::filesystem::path& path, MapImageDamage* damage = nullptr);
ImageHandle ReadMapImage(std::span<const uint8_t> file, MapImageDamage* damage = nullptr);

}  // namespace rzt2
