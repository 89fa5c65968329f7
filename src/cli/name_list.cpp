#include "cli/name_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "io/file_io.h"

namespace rzt2 {

namespace {

// Everything fd holds until its end.
Status ReadAll(int fd, std::string& text) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count == 0) return Status::Ok;
    if (count < 0) {
      if (errno == EINTR) continue;
      return StatusFromErrno(errno, Status::ReadFailed);
    }
    text.append(buffer, static_cast<size_t>(count));
  }
}

}  // namespace

Status ReadNameList(const std::string& path, NameSeparator separator, std::vector<std::string>& names) {
  UniqueFd opened;
  if (path != "-") {
    opened = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!opened.IsValid()) return StatusFromErrno(errno, Status::ReadFailed);
  }
  std::string text;
  if (const Status status = ReadAll(opened.IsValid() ? opened.Get() : STDIN_FILENO, text);
      status != Status::Ok) {
    return status;
  }
  const char end = separator == NameSeparator::Nul ? '\0' : '\n';
  for (size_t start = 0; start < text.size();) {
    size_t stop = text.find(end, start);
    if (stop == std::string::npos) stop = text.size();
    std::string_view name(text.data() + start, stop - start);
    if (separator == NameSeparator::Line && name.ends_with('\r')) name.remove_suffix(1);
    if (!name.empty()) names.emplace_back(name);
    start = stop + 1;
  }
  return Status::Ok;
}

}  // namespace rzt2
