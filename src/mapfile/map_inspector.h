// What the info and check commands read from a map file: every field of
// the header and level table, the preview, and the structure rules that the
// writer keeps. Info reads the header, the level table, one index record
// and the preview; check then reads level by level.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mapfile/map_file_reader.h"
#include "mapfile/map_records.h"
#include "raster/codecs/image_formats.h"
#include "raster/color_palette.h"

namespace rzt2 {

struct MapFileInfo {
  uint64_t fileSize = 0;
  MapHeader header;
  std::array<LevelEntry, kLevelCount> levels{};
  FrameRef preview;                     // position 0 of the first level's frame index
  const ImageFormat* format = nullptr;  // the preview's, by its signature; null when unknown
  uint32_t previewWidth = 0;            // 0 when the preview does not decode
  uint32_t previewHeight = 0;
  ColorPalette palette;  // the preview's, which every frame shares; empty when it has none
};

// What kind of palette a file holds: the built-in one, or its own with the
// number of distinct colours its frames can be given (entries 1 to 255).
struct PaletteKind {
  bool builtIn = false;
  uint32_t colors = 0;
};
// Nothing for a file whose preview carries no 256-entry palette.
std::optional<PaletteKind> PaletteKindOf(const MapFileInfo& info);

// What the bytes of a file are, from its level table: the header, level
// table and frame indexes; the preview; the levels' shared prefixes; and
// the frame bodies, the rest. Frames is 0 for a file shorter than the rest.
struct FileShares {
  uint64_t tables = 0;
  uint64_t preview = 0;
  uint64_t prefixes = 0;
  uint64_t frames = 0;
};
FileShares SharesOf(const MapFileInfo& info);

// Fills info from the header, the level table and the preview.
// UnknownImageFormat for a file that ends before its level table,
// CorruptData when its first level's index lies outside it, or the status
// of a read that failed.
Status ReadMapFileInfo(const MapFileReader& reader, MapFileInfo& info);

// What the reports say of a file that MapFileReader::Open or
// ReadMapFileInfo refused with status, e.g. "not a map file".
const char* MapInfoProblem(Status status);

// Checks the whole structure of a file whose info was read and decodes
// every frame of every stored level, adding the problems found to problems
// in file order; none for a sound file. OutOfMemory when memory ran out
// before the check was done.
Status CheckMapFile(const MapFileReader& reader, const MapFileInfo& info, std::vector<std::string>& problems);

}  // namespace rzt2
