// What the info and check commands say about map files, as text or JSON.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mapfile/map_inspector.h"

namespace rzt2 {

struct MapReport {
  std::string name;
  MapFileInfo info;
  bool hasInfo = false;
  std::vector<std::string> problems;  // empty: the file is sound
};

// reader is null for a file that MapFileReader refused as no map file.
MapReport InspectMap(const std::string& name, const MapFileReader* reader);
MapReport CheckMap(const std::string& name, const MapFileReader* reader);

std::string InfoText(const std::vector<MapReport>& reports);
// UTF-8 JSON whatever the names' bytes: see "fileBytes" in the README.
std::string InfoJson(const std::vector<MapReport>& reports);
std::string CheckText(const std::vector<MapReport>& reports);

}  // namespace rzt2
