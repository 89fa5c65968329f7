#include "ui/viewer/map_levels.h"

#include <algorithm>
#include <cmath>

namespace rzt2 {

namespace {

constexpr uint32_t kFullScale = 10000;
// Two zooms this close are one step.
constexpr double kSameZoom = 1e-9;

uint64_t cover(uint32_t frameSide, uint32_t scale) {
  return std::max<uint64_t>(1, uint64_t{frameSide} * kFullScale / scale);
}

ViewLevel makeLevel(int index, const LevelEntry& entry) {
  return ViewLevel{index, entry, cover(entry.frameWidth, entry.scale), cover(entry.frameHeight, entry.scale)};
}

}  // namespace

std::vector<ViewLevel> storedLevels(const MapFileReader& reader) {
  std::vector<ViewLevel> levels;
  for (const StoredLevel& stored : StoredLevels(reader))
    levels.push_back(makeLevel(static_cast<int>(stored.index), stored.entry));
  return levels;
}

size_t nearestLevel(std::span<const ViewLevel> levels, double zoom) {
  size_t best = 0;
  double bestDistance = INFINITY;
  for (size_t i = 0; i < levels.size(); ++i) {
    const double distance = std::abs(std::log(levels[i].zoom() / zoom));
    const bool finer = levels[i].zoom() > levels[best].zoom();
    if (distance < bestDistance - kSameZoom || (distance <= bestDistance + kSameZoom && finer)) {
      best = i;
      bestDistance = distance;
    }
  }
  return best;
}

double nextZoom(std::span<const ViewLevel> levels, double zoom, double minZoom, bool in) {
  std::vector<double> anchors{kMaxZoom, minZoom};
  for (const ViewLevel& level : levels) {
    if (level.zoom() > minZoom && level.zoom() < kMaxZoom) anchors.push_back(level.zoom());
  }
  std::sort(anchors.begin(), anchors.end());
  anchors.erase(std::unique(anchors.begin(), anchors.end()), anchors.end());
  // Each gap between anchors is cut into equal ratios of at most sqrt(2).
  std::vector<double> steps{anchors.front()};
  for (size_t i = 1; i < anchors.size(); ++i) {
    const double ratio = anchors[i] / anchors[i - 1];
    const int parts = std::max(1, static_cast<int>(std::ceil(std::log2(ratio) * 2 - kSameZoom)));
    for (int k = 1; k < parts; ++k) steps.push_back(anchors[i - 1] * std::pow(ratio, double(k) / parts));
    steps.push_back(anchors[i]);
  }
  if (in) {
    const auto next = std::upper_bound(steps.begin(), steps.end(), zoom * (1 + kSameZoom));
    return next == steps.end() ? steps.back() : *next;
  }
  const auto next = std::lower_bound(steps.begin(), steps.end(), zoom * (1 - kSameZoom));
  return next == steps.begin() ? steps.front() : *(next - 1);
}

}  // namespace rzt2
