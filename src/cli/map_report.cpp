#include "cli/map_report.h"

#include <cstdio>

namespace rzt2 {

namespace {

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Number(uint64_t value) { return std::to_string(value); }

std::string LevelJson(const LevelEntry& e) {
  return "{\"scale\": " + Number(e.scale) + ", \"prefixOffset\": " + Number(e.prefixOffset) +
         ", \"prefixSize\": " + Number(e.prefixSize) + ", \"indexOffset\": " + Number(e.indexOffset) +
         ", \"firstFrameRef\": " + Number(e.firstFrameRef) + ", \"refCount\": " + Number(e.refCount) +
         ", \"frameWidth\": " + Number(e.frameWidth) + ", \"frameHeight\": " + Number(e.frameHeight) +
         ", \"columns\": " + Number(e.columns) + ", \"rows\": " + Number(e.rows) + "}";
}

}  // namespace

MapReport InspectMap(const std::string& name, const MapFileReader* reader) {
  MapReport report{name, {}, false, {}};
  std::string problem;
  report.hasInfo = ReadMapFileInfo(reader, report.info, problem);
  if (!report.hasInfo) report.problems.push_back(problem);
  return report;
}

MapReport CheckMap(const std::string& name, const MapFileReader* reader) {
  MapReport report = InspectMap(name, reader);
  if (report.hasInfo) report.problems = CheckMapFile(reader);
  return report;
}

std::string InfoText(const std::vector<MapReport>& reports) {
  std::string out;
  for (const MapReport& r : reports) {
    if (!r.hasInfo) {
      out += r.name + ": " + r.problems.front() + "\n";
      continue;
    }
    const MapFileInfo& i = r.info;
    out += r.name + "\n";
    out += "  picture   " + Number(i.header.imageWidth) + " x " + Number(i.header.imageHeight) + ", file " +
           Number(i.fileSize) + " bytes, version " + Number(i.header.version) + "\n";
    out += "  frames    " + (i.format.empty() ? std::string("unknown format") : i.format) + ", " +
           Number(i.header.firstLevel.frameWidth) + " x " + Number(i.header.firstLevel.frameHeight) + "\n";
    out += "  preview   " + Number(i.previewWidth) + " x " + Number(i.previewHeight) + " at " +
           Number(i.preview.offset) + ", " + Number(i.preview.size) + " bytes\n";
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
  std::string out = "[";
  for (size_t n = 0; n < reports.size(); ++n) {
    const MapReport& r = reports[n];
    out += n == 0 ? "\n" : ",\n";
    out += "  {\"file\": " + JsonString(r.name);
    if (!r.hasInfo) {
      out += ", \"error\": " + JsonString(r.problems.front()) + "}";
      continue;
    }
    const MapFileInfo& i = r.info;
    out += ", \"fileSize\": " + Number(i.fileSize) + ", \"version\": " + Number(i.header.version) +
           ", \"headerSize\": " + Number(i.header.headerSize) +
           ", \"imageWidth\": " + Number(i.header.imageWidth) +
           ", \"imageHeight\": " + Number(i.header.imageHeight) + ", \"format\": " + JsonString(i.format) +
           ",\n   \"preview\": {\"offset\": " + Number(i.preview.offset) +
           ", \"size\": " + Number(i.preview.size) + ", \"width\": " + Number(i.previewWidth) +
           ", \"height\": " + Number(i.previewHeight) + "},\n   \"randomValues\": [";
    for (size_t v = 0; v < i.header.randomValues.size(); ++v) {
      out += (v ? ", " : "") + Number(i.header.randomValues[v]);
    }
    out += "], \"randomSum\": " + Number(i.header.randomSum) + ",\n   \"levels\": [";
    for (size_t level = 0; level < i.levels.size(); ++level) {
      out += std::string(level ? "," : "") + "\n    " + LevelJson(i.levels[level]);
    }
    out += "]}";
  }
  return out + "\n]\n";
}

std::string CheckText(const std::vector<MapReport>& reports) {
  std::string out;
  for (const MapReport& r : reports) {
    if (r.problems.empty()) out += r.name + ": ok\n";
    for (const std::string& problem : r.problems) out += r.name + ": " + problem + "\n";
  }
  return out;
}

}  // namespace rzt2
