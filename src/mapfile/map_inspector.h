// Reads a whole map file for the info and check commands: every field of
// the header and level table, the preview, and the structure rules that
// the writer keeps. Every offset and size is checked against the bytes held.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "mapfile/map_records.h"

namespace rzt2 {

struct MapFileInfo {
  uint64_t fileSize = 0;
  MapHeader header;
  std::array<LevelEntry, kLevelCount> levels{};
  FrameRef preview;           // position 0 of the first level's frame index
  std::string format;         // "gif", "jpeg", "png", "bmp", "tiff", or "" when unknown
  uint32_t previewWidth = 0;  // 0 when the preview does not decode
  uint32_t previewHeight = 0;
};

// Fills info from the header, the level table and the preview. False, with
// a reason, when the file is not an accepted map file or its first level's
// index lies outside the file.
bool ReadMapFileInfo(std::span<const uint8_t> file, MapFileInfo& info, std::string& problem);

// Checks the whole structure and decodes every frame of every stored level.
// Returns the problems found, in file order; empty for a sound file.
std::vector<std::string> CheckMapFile(std::span<const uint8_t> file);

}  // namespace rzt2
