#include "ui/converter/file_listing.h"

#include <QCollator>
#include <QFile>
#include <algorithm>
#include <cctype>
#include <iterator>
#include <utility>

#include "mapfile/map_records.h"
#include "raster/codecs/image_formats.h"

namespace rzt2 {

namespace {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return lower(x) == lower(y); });
}

// Names in the order of the user's language, without regard to case or
// accents first ("Ölkarte" with the o's, not before "a"), and numbers by
// their value; names it finds equal keep a fixed order by their bytes.
void sortNames(std::vector<std::string>& names) {
  QCollator collator;
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  collator.setNumericMode(true);
  std::vector<std::pair<QCollatorSortKey, std::string>> keyed;
  keyed.reserve(names.size());
  for (std::string& name : names) {
    keyed.emplace_back(collator.sortKey(QFile::decodeName(QByteArray::fromStdString(name))), std::move(name));
  }
  std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    const int order = a.first.compare(b.first);
    return order != 0 ? order < 0 : a.second < b.second;
  });
  for (size_t i = 0; i < names.size(); ++i) names[i] = std::move(keyed[i].second);
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
  sortNames(listing.folders);
  sortNames(listing.files);
  if (folder.has_relative_path()) listing.folders.insert(listing.folders.begin(), "..");
  return listing;
}

}  // namespace rzt2
