// rzt2-format-facts: writes the format table's facts into the texts that
// name them, at build time, so that the man pages, the bash completion and
// the MIME type never fall behind the formats the programs read.
//
//   rzt2-format-facts TEMPLATE OUTPUT [NAME=VALUE ...]
//
// copies TEMPLATE to OUTPUT with each @NAME@ filled in: a fact below, or a
// VALUE given (such as PROJECT_VERSION); an unknown @NAME@ fails.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "mapfile/map_records.h"
#include "raster/codecs/image_formats.h"

namespace rzt2 {
namespace {

// "a, b and c", or with "or".
std::string Enumeration(const std::vector<std::string>& items, std::string_view last) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += i + 1 == items.size() ? " " + std::string(last) + " " : ", ";
    text += items[i];
  }
  return text;
}

std::string Joined(const std::vector<std::string>& items, std::string_view separator) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : std::string(separator)) + item;
  return text;
}

std::vector<std::string> FrameFormatNames() {
  std::vector<std::string> names;
  for (const ImageFormat& format : kFrameFormats) names.emplace_back(format.name);
  return names;
}

std::vector<std::string> Extensions(const ImageFormat& format) {
  return {format.extensions.begin(), format.extensions.end()};
}

// Every extension of every format, then the map file's.
std::vector<std::string> ListedExtensions() {
  std::vector<std::string> extensions;
  for (const ImageFormat& format : kImageFormats) {
    for (const std::string& extension : Extensions(format)) extensions.push_back(extension);
  }
  extensions.emplace_back(kMapFileExtension);
  return extensions;
}

// "GIF (.gif), JPEG (.jpg .jpeg), ... and SVG (.svg)".
std::string PictureFormats() {
  std::vector<std::string> items;
  for (const ImageFormat& format : kImageFormats) {
    std::vector<std::string> dotted;
    for (const std::string& extension : Extensions(format)) dotted.push_back("." + extension);
    items.push_back(std::string(format.title) + " (" + Joined(dotted, " ") + ")");
  }
  return Enumeration(items, "and");
}

std::map<std::string, std::string> Facts() {
  std::vector<std::string> frameTitles;
  for (const ImageFormat& format : kFrameFormats) frameTitles.emplace_back(format.title);
  return {
      {"FRAME_FORMATS", Joined(FrameFormatNames(), "|")},       // gif|jpeg|png|bmp|tiff
      {"FRAME_FORMAT_WORDS", Joined(FrameFormatNames(), " ")},  // gif jpeg png bmp tiff
      {"FRAME_FORMAT_TITLES", Enumeration(frameTitles, "or")},  // GIF, JPEG, PNG, BMP or TIFF
      {"PICTURE_FORMATS", PictureFormats()},
      {"LISTED_EXTENSIONS", Joined(ListedExtensions(), "|")},  // gif|jpg|jpeg|...|rzt2, a shell pattern's
      {"MAP_EXTENSION", std::string(kMapFileExtension)},
  };
}

// Fills in every @NAME@ of text; false, naming it on stderr, for one that
// has no value. An "@" that starts no name is kept.
bool FillIn(const std::string& text, const std::map<std::string, std::string>& values, std::string& out) {
  const auto isNameChar = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; };
  size_t at = 0;
  while (at < text.size()) {
    const size_t open = text.find('@', at);
    if (open == std::string::npos) break;
    size_t end = open + 1;
    while (end < text.size() && isNameChar(text[end])) ++end;
    out.append(text, at, open - at);
    if (end == open + 1 || end == text.size() || text[end] != '@') {
      out += '@';
      at = open + 1;
      continue;
    }
    const std::string name = text.substr(open + 1, end - open - 1);
    const auto value = values.find(name);
    if (value == values.end()) {
      std::fprintf(stderr, "rzt2-format-facts: no value for @%s@\n", name.c_str());
      return false;
    }
    out += value->second;
    at = end + 1;
  }
  out.append(text, at);
  return true;
}

int Run(const std::vector<std::string>& args) {
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: rzt2-format-facts TEMPLATE OUTPUT [NAME=VALUE ...]\n");
    return 2;
  }
  std::map<std::string, std::string> values = Facts();
  for (size_t i = 2; i < args.size(); ++i) {
    const size_t equals = args[i].find('=');
    if (equals == std::string::npos) return Run({});
    values[args[i].substr(0, equals)] = args[i].substr(equals + 1);
  }
  std::ifstream in(args[0], std::ios::binary);
  if (!in.is_open()) {
    std::fprintf(stderr, "rzt2-format-facts: cannot read %s\n", args[0].c_str());
    return 1;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string filled;
  if (!FillIn(text, values, filled)) return 1;
  std::ofstream out(args[1], std::ios::binary | std::ios::trunc);
  out << filled;
  out.close();
  if (!out) {
    std::fprintf(stderr, "rzt2-format-facts: cannot write %s\n", args[1].c_str());
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace rzt2

int main(int argc, char** argv) { return rzt2::Run(std::vector<std::string>(argv + 1, argv + argc)); }
