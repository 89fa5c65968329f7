// Runs the rzt2 tool in a folder, with its settings store kept in that
// folder, and reads map files back independently of the product's reader.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <QImage>

namespace rzt2::test {

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs `rzt2 ARGS` in folder; XDG_CONFIG_HOME points into the folder.
CliRun RunRzt2(const std::filesystem::path& folder, const std::vector<std::string>& args);

// A map file taken apart with nothing but the byte layout.
struct ParsedLevel {
  uint32_t fields[10] = {};  // scale, prefixOffset, prefixSize, indexOffset, firstFrameRef, refCount,
                             // frameWidth, frameHeight, columns, rows
  std::vector<std::vector<uint8_t>> frames;  // prefix + body of each frame, in row order
  uint32_t previewRef[2] = {};               // index position 0
};
struct ParsedMap {
  std::vector<uint8_t> bytes;
  uint32_t U32(size_t offset) const;
  std::vector<ParsedLevel> levels;  // the 16 table entries; frames only for stored ones
};
bool ParseMapFile(const std::filesystem::path& path, ParsedMap& map, std::string& problem);

// Decodes with Qt's image readers.
QImage DecodeWithQt(const std::vector<uint8_t>& bytes);

}  // namespace rzt2::test
