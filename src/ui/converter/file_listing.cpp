#include "ui/converter/file_listing.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#include "mapfile/map_records.h"
#include "raster/codecs/image_formats.h"

namespace rzt2 {

namespace {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return lower(x) == lower(y); });
}

// Case-blind order; names that differ only in case keep a fixed order.
bool nameLess(const std::string& a, const std::string& b) {
  const auto lowerLess = [](char x, char y) { return lower(x) < lower(y); };
  if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), lowerLess)) return true;
  if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), lowerLess)) return false;
  return a < b;
}

}  // namespace

bool isListedFileName(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view extension = name.substr(dot + 1);
  const auto named = [extension](std::string_view listed) { return equalsIgnoringCase(extension, listed); };
  return named(kMapFileExtension) ||
         std::any_of(std::begin(kImageFormats), std::end(kImageFormats), [&named](const ImageFormat& format) {
           return std::any_of(format.extensions.begin(), format.extensions.end(), named);
         });
}

FolderListing listFolder(const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  FolderListing listing;
  std::error_code error;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    const std::string name = it->path().filename().string();
    std::error_code statusError;
    // Links to folders are folders; anything else, dangling links included,
    // is judged by its name.
    if (it->is_directory(statusError)) {
      listing.folders.push_back(name);
    } else if (isListedFileName(name)) {
      listing.files.push_back(name);
    }
  }
  std::sort(listing.folders.begin(), listing.folders.end(), nameLess);
  std::sort(listing.files.begin(), listing.files.end(), nameLess);
  if (folder.has_relative_path()) listing.folders.insert(listing.folders.begin(), "..");
  return listing;
}

}  // namespace rzt2
