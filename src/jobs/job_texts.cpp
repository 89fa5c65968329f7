#include "jobs/job_texts.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

namespace rzt2 {

namespace {

template <typename... Args>
std::string Format(const char* format, Args... args) {
  const int length = std::snprintf(nullptr, 0, format, args...);
  if (length <= 0) return {};
  std::vector<char> buffer(static_cast<size_t>(length) + 1);
  std::snprintf(buffer.data(), buffer.size(), format, args...);
  return std::string(buffer.data(), static_cast<size_t>(length));
}

// A format's name as the texts write it: "png" is PNG.
std::string UpperCase(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
  return upper;
}

size_t FileNameStart(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace

std::string FileNameOf(const std::string& path) { return path.substr(FileNameStart(path)); }

std::string FormatText(const char* format, const std::string& text) { return Format(format, text.c_str()); }

std::string FormatText(const char* format, const std::string& text, int number) {
  return Format(format, text.c_str(), number);
}

std::string FileSubject(const std::string& name, uint32_t page) {
  return page > 0 ? name + ", page " + std::to_string(page) : name;
}

std::string DamagedFramesCause(uint64_t damaged, uint64_t frames) {
  return std::to_string(damaged) + " of " + std::to_string(frames) + " frames damaged";
}

std::string TooManyPagesCause(uint64_t pages, uint64_t maxPages) {
  return "has " + std::to_string(pages) + " pages; at most " + std::to_string(maxPages) +
         " are converted at once, see --max-pages";
}

std::string PageCountCause(uint64_t pages) {
  return "has " + std::to_string(pages) + (pages == 1 ? " page" : " pages");
}

std::string FormatLimitCause(std::string_view format, uint64_t width, uint64_t height, uint64_t maxSide) {
  return std::to_string(width) + " x " + std::to_string(height) + " pixels; a " + UpperCase(format) +
         " picture is at most " + std::to_string(maxSide) + " x " + std::to_string(maxSide);
}

std::string NeedsDesktopProgramCause(std::string_view format) {
  return UpperCase(format) +
         " pictures are converted by the desktop program rzt2tool and the command-line tool rzt2, not in the "
         "browser";
}

std::string OverMemoryBudgetCause(uint64_t maxPixels) {
  return "needs more memory than the browser grants: pictures of at most " +
         std::to_string(maxPixels / 1000000) + " megapixels are converted here";
}

std::string ReplaceExtension(const std::string& name, const std::string& extension) {
  const size_t start = FileNameStart(name);
  const size_t dot = name.rfind('.');
  const bool hasDot = dot != std::string::npos && dot >= start;
  return (hasDot ? name.substr(0, dot) : name) + extension;
}

std::string OutputPath(const std::string& outputName, const OutputPlacement& placement) {
  if (placement.nextToSource) return outputName;
  return placement.folder + FileNameOf(outputName);
}

std::string ResolvePath(const std::string& folder, const std::string& path) {
  if (folder.empty() || path.empty() || path.front() == '/') return path;
  return folder.back() == '/' ? folder + path : folder + '/' + path;
}

}  // namespace rzt2
