#include "jobs/source_loader.h"

#include <algorithm>
#include <cctype>

#include "jobs/job_texts.h"
#include "mapfile/map_file_reader.h"

namespace rzt2 {

bool HasMapFileExtension(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string_view extension = std::string_view(name).substr(dot + 1);
  return std::equal(extension.begin(), extension.end(), kMapFileExtension.begin(), kMapFileExtension.end(),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

void SourceLoader::LoadSource(const std::string& name, bool previewOnly, const DecodeLimits& limits,
                              ThreadPool* copiesPool) {
  if (!currentImagePath_.empty() && name == currentImagePath_) return;
  Clear();
  const std::string path = ResolvePath(folder_, name);
  if (HasMapFileExtension(path)) {
    if (previewOnly) {
      currentImage_ = ReadMapPreview(path);
      return;
    }
    currentImage_ = ReadMapImage(path, &damage_);
  } else {
    currentImage_ = ImageHandle::FromFile(path, limits, copiesPool);
    // A picture decoded for a shown size may be a reduced one, not the full picture.
    if (limits.shownWidth != 0 || limits.shownHeight != 0) return;
  }
  if (!currentImage_.IsNull()) currentImagePath_ = name;
}

void SourceLoader::SetFolder(const std::string& folder) {
  if (folder == folder_) return;
  folder_ = folder;
  Clear();
}

void SourceLoader::Clear() {
  currentImage_.Reset();
  damage_ = {};
  currentImagePath_.clear();
}

}  // namespace rzt2
