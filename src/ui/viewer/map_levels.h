// The stored levels of a map file as the viewer sees them, and the zoom
// steps between them. A zoom is screen pixels per picture pixel; a level
// shows 1:1 at its own zoom, frameWidth / coverWidth.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "mapfile/map_file_reader.h"

namespace rzt2 {

struct ViewLevel {
  int index = 0;  // the zoom level index: its entry in the level table
  LevelEntry entry;
  // Picture pixels that one frame covers: frame size x 10000 / scale.
  uint64_t coverWidth = 1;
  uint64_t coverHeight = 1;

  double zoom() const { return static_cast<double>(entry.frameWidth) / static_cast<double>(coverWidth); }
};

// The stored levels as StoredLevels gives them.
std::vector<ViewLevel> storedLevels(const MapFileReader& reader);

// The level whose zoom is nearest to zoom by ratio; the finer one on a tie.
// levels must not be empty.
size_t nearestLevel(std::span<const ViewLevel> levels, double zoom);

// The largest zoom the viewer offers: 800 %.
inline constexpr double kMaxZoom = 8.0;

// The next zoom step in (or out) from zoom, within [minZoom, kMaxZoom].
// The steps take in every level's own zoom, so that each level can be
// reached at 1:1, and go between them by factors of about the square root
// of two.
double nextZoom(std::span<const ViewLevel> levels, double zoom, double minZoom, bool in);

}  // namespace rzt2
