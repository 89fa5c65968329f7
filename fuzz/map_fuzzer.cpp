// The map file readers on arbitrary bytes: the acceptance rule, the preview
// and full-picture readers, and the info and check reports. A picture that
// comes back must have the size the first level describes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>

#include "mapfile/map_inspector.h"
#include "mapfile/map_writer.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

rzt2::MapWriter& Reader() {
  static const std::unique_ptr<rzt2::MapWriter> reader =
      rzt2::MapWriter::Create(rzt2::EncoderParams{}, nullptr, nullptr);
  return *reader;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  const bool accepted = rzt2::IsAcceptedMapFile(file);

  rzt2::ImageHandle preview = Reader().ReadMapPreview(file);
  if (preview) {
    Require(accepted);
    Require(uint64_t{preview.Width()} * preview.Height() <= rzt2::kMaxPreviewPixels);
  }

  rzt2::ImageHandle image = Reader().ReadMapImage(file);
  if (image) {
    rzt2::MapHeader header;
    Require(accepted && rzt2::DecodeMapHeader(file, header));
    const rzt2::LevelEntry& level = header.firstLevel;
    Require(image.Width() == level.frameWidth * level.columns);
    Require(image.Height() == level.frameHeight * level.rows);
    Require(image.GetBitmap()->Format() == rzt2::PixelFormat::Argb32);
  }

  rzt2::MapFileInfo info;
  std::string problem;
  if (rzt2::ReadMapFileInfo(file, info, problem)) {
    Require(accepted);
    rzt2::CheckMapFile(file);
  } else {
    Require(!problem.empty());
  }
  return 0;
}
