#include "cli/map_report.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/printable.h"

namespace rzt2 {

namespace {

using Json = nlohmann::ordered_json;

std::string Number(uint64_t value) { return std::to_string(value); }

// "frames 81.2 %, prefixes 0.4 %, preview 16.1 %, tables 2.3 %".
std::string SharesText(const FileShares& shares, uint64_t fileSize) {
  const std::pair<const char*, uint64_t> parts[] = {{"frames", shares.frames},
                                                    {"prefixes", shares.prefixes},
                                                    {"preview", shares.preview},
                                                    {"tables", shares.tables}};
  std::string out;
  for (const auto& [name, bytes] : parts) {
    char part[64];
    std::snprintf(part, sizeof part, "%s%s %.1f %%", out.empty() ? "" : ", ", name,
                  fileSize != 0 ? 100.0 * static_cast<double>(bytes) / static_cast<double>(fileSize) : 0.0);
    out += part;
  }
  return out;
}

Json LevelJson(const LevelEntry& e) {
  return {{"scale", e.scale},
          {"prefixOffset", e.prefixOffset},
          {"prefixSize", e.prefixSize},
          {"indexOffset", e.indexOffset},
          {"firstFrameRef", e.firstFrameRef},
          {"refCount", e.refCount},
          {"frameWidth", e.frameWidth},
          {"frameHeight", e.frameHeight},
          {"columns", e.columns},
          {"rows", e.rows}};
}

}  // namespace

MapReport InspectMap(const std::string& name, const MapFileReader* reader) {
  MapReport report{name, {}, false, {}};
  const Status status =
      reader != nullptr ? ReadMapFileInfo(*reader, report.info) : Status::UnknownImageFormat;
  report.hasInfo = status == Status::Ok;
  if (!report.hasInfo) report.problems.push_back(MapInfoProblem(status));
  return report;
}

MapReport CheckMap(const std::string& name, const MapFileReader* reader) {
  MapReport report = InspectMap(name, reader);
  if (!report.hasInfo) return report;
  if (const Status status = CheckMapFile(*reader, report.info, report.problems); status != Status::Ok) {
    report.problems.emplace_back(StatusText(status));
  }
  return report;
}

std::string InfoText(const std::vector<MapReport>& reports) {
  std::string out;
  for (const MapReport& r : reports) {
    if (!r.hasInfo) {
      out += Printable(r.name) + ": " + r.problems.front() + "\n";
      continue;
    }
    const MapFileInfo& i = r.info;
    out += Printable(r.name) + "\n";
    out += "  picture   " + Number(i.header.imageWidth) + " x " + Number(i.header.imageHeight) + ", file " +
           Number(i.fileSize) + " bytes, version " + Number(i.header.version) + "\n";
    out += "  frames    " +
           (i.format != nullptr ? std::string(i.format->name) : std::string("unknown format")) + ", " +
           Number(i.header.firstLevel.frameWidth) + " x " + Number(i.header.firstLevel.frameHeight) + "\n";
    out += "  preview   " + Number(i.previewWidth) + " x " + Number(i.previewHeight) + " at " +
           Number(i.preview.offset) + ", " + Number(i.preview.size) + " bytes\n";
    out += "  bytes     " + SharesText(SharesOf(i), i.fileSize) + "\n";
    if (const auto kind = PaletteKindOf(i)) {
      out += "  palette   " +
             (kind->builtIn ? std::string("built-in")
                            : "fitted or the picture's own, " + Number(kind->colors) + " colours") +
             "\n";
    }
    out += "  level  zoom     grid     frames  index at    prefix\n";
    for (size_t level = 0; level < i.levels.size(); ++level) {
      const LevelEntry& e = i.levels[level];
      if (e.scale == 0) continue;
      char line[160];
      std::snprintf(line, sizeof line, "  %-5zu  %5.2f%%  %4ux%-4u %7u  %-10u  %u bytes at %u\n", level,
                    e.scale / 100.0, e.columns, e.rows, e.columns * e.rows, e.indexOffset, e.prefixSize,
                    e.prefixOffset);
      out += line;
    }
  }
  return out;
}

std::string InfoJson(const std::vector<MapReport>& reports) {
  Json files = Json::array();
  for (const MapReport& r : reports) {
    Json file = Json::object();
    PutFileName(file, r.name);
    if (!r.hasInfo) {
      file["error"] = r.problems.front();
      files.push_back(std::move(file));
      continue;
    }
    const MapFileInfo& i = r.info;
    file["fileSize"] = i.fileSize;
    file["version"] = i.header.version;
    file["headerSize"] = i.header.headerSize;
    file["imageWidth"] = i.header.imageWidth;
    file["imageHeight"] = i.header.imageHeight;
    file["format"] = i.format != nullptr ? std::string(i.format->name) : std::string();
    file["preview"] = {{"offset", i.preview.offset},
                       {"size", i.preview.size},
                       {"width", i.previewWidth},
                       {"height", i.previewHeight}};
    if (const auto kind = PaletteKindOf(i)) {
      file["palette"] = {{"kind", kind->builtIn ? "built-in" : "own"}, {"colors", kind->colors}};
    }
    const FileShares shares = SharesOf(i);
    file["bytes"] = {{"frames", shares.frames},
                     {"prefixes", shares.prefixes},
                     {"preview", shares.preview},
                     {"tables", shares.tables}};
    file["randomValues"] = i.header.randomValues;
    file["randomSum"] = i.header.randomSum;
    Json& levels = file["levels"] = Json::array();
    for (const LevelEntry& level : i.levels) levels.push_back(LevelJson(level));
    files.push_back(std::move(file));
  }
  return files.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string CheckText(const std::vector<MapReport>& reports) {
  std::string out;
  for (const MapReport& r : reports) {
    const std::string name = Printable(r.name);
    if (r.problems.empty()) out += name + ": ok\n";
    for (const std::string& problem : r.problems) out.append(name).append(": ").append(problem).append("\n");
  }
  return out;
}

}  // namespace rzt2
