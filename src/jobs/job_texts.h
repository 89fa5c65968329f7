// The texts a job shows, and how it names its outputs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rzt2 {

inline constexpr char kErrorLoadingFile[] = "Error loading file %s!";
inline constexpr char kErrorSavingFile[] = "Error while creating/saving file %s!";
inline constexpr char kErrorCreatingFolder[] = "Error while creating folder %s!";
inline constexpr char kLabelLoading[] = "%s: Loading...";
inline constexpr char kLabelCreatingPreview[] = "%s: Creating preview...";
inline constexpr char kLabelWritingZoom[] = "%s: Writing frames for zoom %d%%...";
inline constexpr char kLabelSaving[] = "%s: Saving...";

// A cause that says more than its status: the input whose output this one
// would replace.
inline constexpr char kCauseSameOutput[] = "also the output of %s, earlier in this job";

// printf-style formatting of one of the texts above.
std::string FormatText(const char* format, const std::string& text);
std::string FormatText(const char* format, const std::string& text, int number);

// The browser's causes: "PDF pictures are converted by the desktop program
// rzt2tool and the command-line tool rzt2, not in the browser", and "needs
// more memory than the browser grants: pictures of at most 357 megapixels
// are converted here".
std::string NeedsDesktopProgramCause(std::string_view format);
std::string OverMemoryBudgetCause(uint64_t maxPixels);

// "3 of 40 frames damaged"
std::string DamagedFramesCause(uint64_t damaged, uint64_t frames);
// "has 1000000 pages; at most 10000 are converted at once, see --max-pages"
std::string TooManyPagesCause(uint64_t pages, uint64_t maxPages);
// "has 1 page", "has 3 pages": a page past the last was asked for.
std::string PageCountCause(uint64_t pages);
// "2000000 x 10 pixels; a GIF picture is at most 65535 x 65535"
std::string FormatLimitCause(std::string_view format, uint64_t width, uint64_t height, uint64_t maxSide);

// The file name with the text from its last "." replaced by extension
// (which starts with "."); a name without "." gets it appended. Only the
// last path component is changed, so dots in folder names stay.
std::string ReplaceExtension(const std::string& name, const std::string& extension);

// A source as the progress labels name it: "atlas.pdf, page 2" for a page
// (from 1) of a file of several, the name alone for page 0.
std::string FileSubject(const std::string& name, uint32_t page);

// The last component of a path: the text after its last "/".
std::string FileNameOf(const std::string& path);

// Where an output goes: next to the source, or the destination folder
// text, unchanged, in front of the output's file name.
struct OutputPlacement {
  bool nextToSource = true;
  std::string folder;  // used when nextToSource is false
};
std::string OutputPath(const std::string& outputName, const OutputPlacement& placement);

// path as the program opens it: a relative path is taken in folder; with
// an empty folder it stays relative to the process's current directory.
std::string ResolvePath(const std::string& folder, const std::string& path);

}  // namespace rzt2
