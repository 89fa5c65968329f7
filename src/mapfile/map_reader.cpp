// ReadMapPreview and ReadMapImage, on a MapFileReader over a file or bytes,
// and the levels a viewer offers.

#include "imaging/surface.h"
#include "mapfile/map_file_reader.h"
#include "raster/codecs/decode_limits.h"

namespace rzt2 {

namespace {

constexpr uint32_t kOpaqueWhite = 0xFFFFFFFF;

ImageHandle PreviewOf(const MapFileReader& reader) {
  std::vector<uint8_t> bytes;
  if (const Status status = reader.ReadPreview(bytes); status != Status::Ok)
    return ImageHandle::Failed(status);
  return ImageHandle::FromMapFrame(bytes, DecodeLimits{kMaxPreviewPixels});
}

ImageHandle FirstLevelOf(const MapFileReader& reader, MapImageDamage* damage) {
  FrameIndex index;
  if (const Status status = reader.ReadFrameIndex(reader.Header().firstLevel, index); status != Status::Ok) {
    return ImageHandle::Failed(status);
  }
  const LevelEntry& level = index.Level();
  const MapImageSize size = MapImageSizeOf(reader.Header());
  if (size.width > INT32_MAX || size.height > INT32_MAX) return ImageHandle::Failed(Status::TooLarge);
  ImageHandle result = ImageHandle::CreateBlank(static_cast<int32_t>(size.width),
                                                static_cast<int32_t>(size.height), PixelFormat::Argb32);
  if (!result) return result;
  Surface surface(result);
  surface.Clear(kOpaqueWhite);

  // A frame is never larger than the frame size; anything claiming more is damage.
  const auto frameW = static_cast<int32_t>(level.frameWidth);
  const auto frameH = static_cast<int32_t>(level.frameHeight);
  const DecodeLimits limits{uint64_t{level.frameWidth} * level.frameHeight};
  MapImageDamage counted{0, uint64_t{level.columns} * level.rows};
  std::vector<uint8_t> frame;
  for (uint32_t row = 0; row < level.rows; ++row) {
    for (uint32_t column = 0; column < level.columns; ++column) {
      if (const Status status = reader.ReadFrame(index, column, row, frame); status != Status::Ok) {
        return ImageHandle::Failed(status);
      }
      ImageHandle decoded = ImageHandle::FromMapFrame(frame, limits);
      if (decoded.IsNull()) {  // its area stays white
        ++counted.damaged;
        continue;
      }
      ColorPalette palette;
      if (row == 0 && column == 0 && decoded.GetPalette(palette) == Status::Ok) result.SetPalette(palette);
      const Rect destination{static_cast<int32_t>(column) * frameW, static_cast<int32_t>(row) * frameH,
                             frameW, frameH};
      surface.DrawImage(decoded, destination, Rect{0, 0, frameW, frameH});
    }
  }
  if (damage != nullptr) *damage = counted;
  return result;
}

Status OpenReader(const std::filesystem::path& path, std::unique_ptr<MapFileReader>& out) {
  return MapFileReader::Open(path, out);
}

Status OpenReader(std::span<const uint8_t> file, std::unique_ptr<MapFileReader>& out) {
  return MapFileReader::FromMemory(file, out);
}

template <typename Source, typename Read>
ImageHandle ReadWith(const Source& source, Read&& read) {
  return GuardMemory([&] {
    std::unique_ptr<MapFileReader> reader;
    const Status status = OpenReader(source, reader);
    return reader ? read(*reader) : ImageHandle::Failed(status);
  });
}

}  // namespace

MapImageSize MapImageSizeOf(const MapHeader& header) {
  const LevelEntry& level = header.firstLevel;
  const MapImageSize grid{uint64_t{level.frameWidth} * level.columns,
                          uint64_t{level.frameHeight} * level.rows};
  const bool fits = header.imageWidth > 0 && header.imageHeight > 0 && header.imageWidth <= grid.width &&
                    header.imageHeight <= grid.height;
  return fits ? MapImageSize{header.imageWidth, header.imageHeight} : grid;
}

std::vector<StoredLevel> StoredLevels(const MapFileReader& reader) {
  std::vector<StoredLevel> levels;
  const std::span<const LevelEntry> table = reader.LevelTable();
  for (size_t i = 0; i < std::min(table.size(), kZoomLevels.size()); ++i) {
    const LevelEntry& entry = table[i];
    if (entry.scale != 0 && entry.frameWidth != 0 && entry.frameHeight != 0)
      levels.push_back({static_cast<uint32_t>(i), entry});
  }
  if (levels.empty()) {
    LevelEntry first = reader.Header().firstLevel;
    first.scale = kZoomLevels[0];
    levels.push_back({0, first});
  }
  return levels;
}

ImageHandle ReadMapPreview(const std::filesystem::path& path) { return ReadWith(path, PreviewOf); }
ImageHandle ReadMapPreview(std::span<const uint8_t> file) { return ReadWith(file, PreviewOf); }
ImageHandle ReadMapImage(const std::filesystem::path& path, MapImageDamage* damage) {
  return ReadWith(path, [damage](const MapFileReader& reader) { return FirstLevelOf(reader, damage); });
}
ImageHandle ReadMapImage(std::span<const uint8_t> file, MapImageDamage* damage) {
  return ReadWith(file, [damage](const MapFileReader& reader) { return FirstLevelOf(reader, damage); });
}

}  // namespace rzt2
