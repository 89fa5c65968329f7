// What the page shows of a map file: the report of `rzt2 info --json` and
// the problems `rzt2 check` finds, and for its viewer the stored levels,
// the preview and each frame as RGBA pixels (canvas ImageData order).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"

namespace rzt2 {

// The JSON of `rzt2 info --json NAME` for the file at path.
std::string MapInfoJson(const std::string& path, const std::string& name);
// {"file": NAME, "problems": [...]}: none for a sound file.
std::string MapCheckJson(const std::string& path, const std::string& name);

// Pixels for a canvas: width x height x 4 bytes, R, G, B, A.
struct RgbaPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;
};

// Open maps, by number: the file stays open (and in the file system) until
// it is closed. Open gives the number, or 0 with the reason.
int OpenMapView(const std::string& path, Status& status);
void CloseMapView(int view);
// {"imageWidth", "imageHeight", "levels": [{"level", "scale", "frameWidth",
// "frameHeight", "columns", "rows"}]}: the stored levels, largest first,
// as the desktop viewer offers them; empty for no open view.
std::string MapViewLevels(int view);
// The preview, or one frame of a stored level (its place in the level
// table). A frame that does not decode, or decodes to another size than
// the level's frames, fails with its cause, as the desktop viewer marks it.
Status MapViewPreview(int view, RgbaPicture& out);
Status MapViewFrame(int view, uint32_t level, uint32_t column, uint32_t row, RgbaPicture& out);

}  // namespace rzt2
