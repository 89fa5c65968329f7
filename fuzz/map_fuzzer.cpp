// The map file readers on arbitrary bytes: the acceptance rule, the reader's
// frame indexes and frames, the preview and full-picture readers, and the
// info and check reports. A picture that comes back must have the size the
// first level describes; a frame that is read must be its prefix and body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "mapfile/map_file_reader.h"
#include "mapfile/map_inspector.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// Reads the last frame of each level the table stores.
void ReadLevels(const rzt2::MapFileReader& reader) {
  for (const rzt2::LevelEntry& level : reader.LevelTable()) {
    rzt2::FrameIndex index;
    if (level.scale == 0 || reader.ReadFrameIndex(level, index) != rzt2::Status::Ok) continue;
    std::vector<uint8_t> frame;
    const uint32_t column = level.columns - 1, row = level.rows - 1;
    if (reader.ReadFrame(index, column, row, frame) == rzt2::Status::Ok) {
      Require(frame.size() == uint64_t{level.prefixSize} + index.Ref(column, row).size);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  const bool accepted = rzt2::IsAcceptedMapFile(file);
  std::unique_ptr<rzt2::MapFileReader> reader;
  if (rzt2::MapFileReader::FromMemory(file, reader) == rzt2::Status::Ok) {
    Require(accepted && reader->FileSize() == size);
    ReadLevels(*reader);
  }

  rzt2::ImageHandle preview = rzt2::ReadMapPreview(file);
  if (preview) {
    Require(reader != nullptr);
    Require(uint64_t{preview.Width()} * preview.Height() <= rzt2::kMaxPreviewPixels);
  }

  rzt2::ImageHandle image = rzt2::ReadMapImage(file);
  if (image) {
    Require(reader != nullptr);
    const rzt2::MapImageSize imageSize = rzt2::MapImageSizeOf(reader->Header());
    Require(image.Width() == imageSize.width && image.Height() == imageSize.height);
    Require(image.GetBitmap()->Format() == rzt2::PixelFormat::Argb32);
  }

  rzt2::MapFileInfo info;
  if (reader && rzt2::ReadMapFileInfo(*reader, info) == rzt2::Status::Ok) {
    Require(accepted);
    std::vector<std::string> problems;
    rzt2::CheckMapFile(*reader, info, problems);
  }
  return 0;
}
