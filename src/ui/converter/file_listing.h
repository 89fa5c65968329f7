// What the file list shows of a folder: its sub-folders, then the files
// the program can convert or export, each group sorted by name as the
// user's language sorts words (QCollator of the default locale), without
// regard to case, numbers by their value. Names are bare, relative to the
// folder.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace rzt2 {

struct FolderListing {
  std::vector<std::string> folders;  // ".." first, except at the root
  std::vector<std::string> files;
};

// True when the text after the last "." is, in any case, an extension of a
// format of the format table or a map file's.
bool isListedFileName(std::string_view name);

// An unreadable folder lists nothing but its parent entry.
FolderListing listFolder(const std::filesystem::path& folder);

}  // namespace rzt2
