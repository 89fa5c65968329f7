// Lists of files to work on, for batches larger than a command line holds:
// one name a line, or names ended by NUL as `find -print0` writes them. A
// list is read as the batch takes its names, never whole, so an endless
// pipe is an endless batch.
#pragma once

#include <string>
#include <vector>

#include "base/status.h"
#include "io/file_io.h"
#include "jobs/job_runner.h"

namespace rzt2 {

enum class NameSeparator { Line, Nul };

// The longest name a list may hold, a path's longest on Linux: a longer
// one ends the list with NameTooLong, so one name cannot take all memory.
inline constexpr size_t kMaxListedName = 4096;

// The names listed in the file at path ("-": standard input; a pipe will
// do). Empty names are skipped; with lines, a "\r" ending a line goes too
// (lists written on Windows), so a name that really ends in one needs NUL
// separators. A last name without its separator counts.
class NameList final : public NameSource {
 public:
  NameList() = default;
  Status Open(const std::string& path, NameSeparator separator);
  std::optional<std::string> Next() override;
  // Ok while the list reads well; else why it ended early.
  Status ReadStatus() const { return status_; }

 private:
  bool Fill();

  UniqueFd opened_;
  int fd_ = -1;
  char end_ = '\n';
  bool lines_ = true;
  std::vector<char> buffer_ = std::vector<char>(size_t{1} << 16);
  size_t start_ = 0, filled_ = 0;
  bool atEnd_ = false;
  Status status_ = Status::Ok;
};

}  // namespace rzt2
