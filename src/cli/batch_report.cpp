#include "cli/batch_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <nlohmann/json.hpp>

#include "cli/printable.h"

namespace rzt2 {

namespace {

using Json = nlohmann::ordered_json;

// A number, or null for the 0 that stands for "not known".
Json KnownOrNull(uint64_t value) { return value != 0 ? Json(value) : Json(); }

std::string ReportLine(const FileOutcome& outcome) {
  Json line = Json::object();
  PutName(line, "input", outcome.input);
  PutName(line, "output", outcome.output);
  const bool ok = outcome.status == Status::Ok;
  line["status"] = ok ? "ok" : "failed";
  line["cause"] = ok ? Json() : Json(outcome.cause);
  line["seconds"] = std::round(outcome.seconds * 1000) / 1000;
  line["width"] = KnownOrNull(outcome.width);
  line["height"] = KnownOrNull(outcome.height);
  line["outputSize"] = KnownOrNull(outcome.outputBytes);
  return line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace

Status BatchReport::Open(const std::string& path) {
  if (path == "-") {
    fd_ = STDOUT_FILENO;
    return Status::Ok;
  }
  struct stat info {};
  const bool exists = ::lstat(path.c_str(), &info) == 0;
  if (exists && S_ISFIFO(info.st_mode)) {
    // Opened without waiting: a FIFO no one reads would block before any work.
    opened_ = UniqueFd(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (!opened_.IsValid())
      return errno == ENXIO ? Status::NobodyReads : StatusFromErrno(errno, Status::WriteFailed);
    const int flags = ::fcntl(opened_.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(opened_.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
      return StatusFromErrno(errno, Status::WriteFailed);
    }
  } else if (exists && !S_ISREG(info.st_mode)) {
    opened_ = UniqueFd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
  } else {
    // The backup is a second link, so the earlier report never goes missing
    // before it has its new name.
    if (exists && ::link(path.c_str(), (path + ".bak").c_str()) != 0 && errno != EEXIST) {
      return Status::BackupFailed;
    }
    if (exists && ::unlink(path.c_str()) != 0) return StatusFromErrno(errno, Status::WriteFailed);
    opened_ = UniqueFd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  }
  if (!opened_.IsValid()) return StatusFromErrno(errno, Status::WriteFailed);
  fd_ = opened_.Get();
  return Status::Ok;
}

void BatchReport::Add(const FileOutcome& outcome) {
  const std::string line = ReportLine(outcome);
  const Status status = WriteAll(fd_, {reinterpret_cast<const uint8_t*>(line.data()), line.size()});
  if (writeStatus_ == Status::Ok) writeStatus_ = status;
}

}  // namespace rzt2
