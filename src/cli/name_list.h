// Lists of files to work on, for batches larger than a command line holds:
// one name a line, or names ended by NUL as `find -print0` writes them.
#pragma once

#include <string>
#include <vector>

#include "base/status.h"

namespace rzt2 {

enum class NameSeparator { Line, Nul };

// Appends the names listed in the file at path ("-": standard input; a pipe
// will do) to names. Empty names are skipped; with lines, a "\r" ending a
// line goes too (lists written on Windows), so a name that really ends in
// one needs NUL separators.
Status ReadNameList(const std::string& path, NameSeparator separator, std::vector<std::string>& names);

}  // namespace rzt2
