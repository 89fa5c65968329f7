#include "cli/name_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace rzt2 {

Status NameList::Open(const std::string& path, NameSeparator separator) {
  end_ = separator == NameSeparator::Nul ? '\0' : '\n';
  lines_ = separator == NameSeparator::Line;
  if (path == "-") {
    fd_ = STDIN_FILENO;
    return Status::Ok;
  }
  opened_ = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!opened_.IsValid()) return StatusFromErrno(errno, Status::ReadFailed);
  fd_ = opened_.Get();
  // A folder opens, and would fail only when read: said here, before the batch.
  struct stat info {};
  if (::fstat(fd_, &info) != 0) return StatusFromErrno(errno, Status::ReadFailed);
  return S_ISDIR(info.st_mode) ? Status::IsAFolder : Status::Ok;
}

// Reads more after what is held, keeping the name begun; false at the end
// of the list or on a failure.
bool NameList::Fill() {
  if (start_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + start_, filled_ - start_);
    filled_ -= start_;
    start_ = 0;
  }
  for (;;) {
    const ssize_t count = ::read(fd_, buffer_.data() + filled_, buffer_.size() - filled_);
    if (count > 0) {
      filled_ += static_cast<size_t>(count);
      return true;
    }
    if (count == 0) return false;
    if (errno != EINTR) {
      status_ = StatusFromErrno(errno, Status::ReadFailed);
      return false;
    }
  }
}

std::optional<std::string> NameList::Next() {
  while (!atEnd_) {
    const char* begin = buffer_.data() + start_;
    const char* held = buffer_.data() + filled_;
    const char* stop = std::find(begin, held, end_);
    const bool whole = stop != held;
    if (!whole && held - begin > static_cast<ptrdiff_t>(kMaxListedName)) {
      status_ = Status::NameTooLong;
      break;
    }
    if (!whole && Fill()) continue;
    if (!whole) atEnd_ = true;  // the last name may lack its separator
    std::string_view name(begin, static_cast<size_t>(stop - begin));
    start_ += name.size() + (whole ? 1 : 0);
    if (lines_ && name.ends_with('\r')) name.remove_suffix(1);
    if (name.size() > kMaxListedName) {
      status_ = Status::NameTooLong;
      break;
    }
    if (!name.empty()) return std::string(name);
  }
  atEnd_ = true;
  return std::nullopt;
}

}  // namespace rzt2
