#include "web/map_views.h"

#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

#include "cli/map_report.h"
#include "mapfile/map_file_reader.h"

namespace rzt2 {

namespace {

using Json = nlohmann::ordered_json;

struct MapView {
  std::unique_ptr<MapFileReader> reader;
  std::map<uint32_t, FrameIndex> indexes;  // by level, read when first asked for
};

// Views are opened, read and closed on the module's main thread only; the
// lock keeps that true if a caller forgets.
std::mutex viewsMutex;
std::map<int, MapView> views;
int lastView = 0;

MapView* Find(int view) {
  const auto found = views.find(view);
  return found == views.end() ? nullptr : &found->second;
}

std::unique_ptr<MapFileReader> OpenReader(const std::string& path, Status& status) {
  std::unique_ptr<MapFileReader> reader;
  status = MapFileReader::Open(path, reader);
  return reader;
}

// The picture as RGBA bytes; an Argb32 word 0xAARRGGBB is R, G, B, A.
Status ToRgba(ImageHandle& image, RgbaPicture& out) {
  const Bitmap* bitmap = image.GetBitmap();
  if (bitmap == nullptr) return image.LastStatus();
  out.width = static_cast<uint32_t>(bitmap->Width());
  out.height = static_cast<uint32_t>(bitmap->Height());
  out.pixels.resize(size_t{out.width} * out.height * 4);
  std::vector<uint32_t> row(out.width);
  for (int32_t y = 0; y < bitmap->Height(); ++y) {
    bitmap->ReadArgb(0, y, bitmap->Width(), row.data());
    uint8_t* rgba = &out.pixels[size_t{out.width} * 4 * static_cast<size_t>(y)];
    for (const uint32_t argb : row) {
      *rgba++ = static_cast<uint8_t>(argb >> 16);
      *rgba++ = static_cast<uint8_t>(argb >> 8);
      *rgba++ = static_cast<uint8_t>(argb);
      *rgba++ = static_cast<uint8_t>(argb >> 24);
    }
  }
  return Status::Ok;
}

}  // namespace

std::string MapInfoJson(const std::string& path, const std::string& name) {
  Status status = Status::Ok;
  const auto reader = OpenReader(path, status);
  return InfoJson({InspectMap(name, reader.get())});
}

std::string MapCheckJson(const std::string& path, const std::string& name) {
  Status status = Status::Ok;
  const auto reader = OpenReader(path, status);
  const MapReport report = CheckMap(name, reader.get());
  return Json{{"file", name}, {"problems", report.problems}}.dump(-1, ' ', false,
                                                                  Json::error_handler_t::replace);
}

int OpenMapView(const std::string& path, Status& status) {
  auto reader = OpenReader(path, status);
  if (!reader) return 0;
  const std::lock_guard lock(viewsMutex);
  views[++lastView].reader = std::move(reader);
  return lastView;
}

void CloseMapView(int view) {
  const std::lock_guard lock(viewsMutex);
  views.erase(view);
}

std::string MapViewLevels(int view) {
  const std::lock_guard lock(viewsMutex);
  const MapView* open = Find(view);
  if (open == nullptr) return {};
  const MapHeader& header = open->reader->Header();
  Json levels = Json::array();
  for (const auto& [level, entry] : StoredLevels(*open->reader)) {
    levels.push_back({{"level", level},
                      {"scale", entry.scale},
                      {"frameWidth", entry.frameWidth},
                      {"frameHeight", entry.frameHeight},
                      {"columns", entry.columns},
                      {"rows", entry.rows}});
  }
  return Json{{"imageWidth", header.imageWidth}, {"imageHeight", header.imageHeight}, {"levels", levels}}
      .dump();
}

Status MapViewPreview(int view, RgbaPicture& out) {
  return GuardMemory([&] {
    const std::lock_guard lock(viewsMutex);
    const MapView* open = Find(view);
    if (open == nullptr) return Status::InvalidParameter;
    std::vector<uint8_t> bytes;
    if (const Status status = open->reader->ReadPreview(bytes); status != Status::Ok) return status;
    ImageHandle preview = ImageHandle::FromMapFrame(bytes, DecodeLimits{kMaxPreviewPixels});
    return ToRgba(preview, out);
  });
}

Status MapViewFrame(int view, uint32_t level, uint32_t column, uint32_t row, RgbaPicture& out) {
  return GuardMemory([&] {
    const std::lock_guard lock(viewsMutex);
    MapView* open = Find(view);
    if (open == nullptr) return Status::InvalidParameter;
    auto index = open->indexes.find(level);
    if (index == open->indexes.end()) {
      const auto levels = StoredLevels(*open->reader);
      const auto stored =
          std::find_if(levels.begin(), levels.end(), [&](const StoredLevel& l) { return l.index == level; });
      if (stored == levels.end()) return Status::InvalidParameter;
      FrameIndex read;
      if (const Status status = open->reader->ReadFrameIndex(stored->entry, read); status != Status::Ok) {
        return status;
      }
      index = open->indexes.emplace(level, std::move(read)).first;
    }
    const LevelEntry& entry = index->second.Level();
    std::vector<uint8_t> bytes;
    if (const Status status = open->reader->ReadFrame(index->second, column, row, bytes);
        status != Status::Ok) {
      return status;
    }
    // A frame is never larger than the frame size; anything claiming more is damage.
    ImageHandle frame =
        ImageHandle::FromMapFrame(bytes, DecodeLimits{uint64_t{entry.frameWidth} * entry.frameHeight});
    if (frame && (static_cast<uint32_t>(frame.Width()) != entry.frameWidth ||
                  static_cast<uint32_t>(frame.Height()) != entry.frameHeight)) {
      return Status::CorruptData;
    }
    return ToRgba(frame, out);
  });
}

}  // namespace rzt2
