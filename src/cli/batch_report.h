// The report of a batch for schedulers and scripts: one JSON object a line
// for each input, written as soon as the input has ended, so that the
// report of a batch that was stopped still tells which inputs were done.
#pragma once

#include <string>

#include "io/file_io.h"
#include "jobs/job_host.h"

namespace rzt2 {

class BatchReport {
 public:
  // Opens the report at path, "-" for standard output. An earlier regular
  // file there is kept as "<path>.bak" when that name is free (else it is
  // replaced and the backup left alone), as outputs are; anything else there
  // (a terminal, a pipe, a symlink such as /dev/stdout) is written to as it
  // is, after what it holds.
  Status Open(const std::string& path);
  // Writes the input's line, whole, with one write. A line that cannot be
  // written is lost; WriteStatus tells why.
  void Add(const FileOutcome& outcome);
  // Ok while every line has been written; else the first failure.
  Status WriteStatus() const { return writeStatus_; }

 private:
  UniqueFd opened_;
  int fd_ = -1;
  Status writeStatus_ = Status::Ok;
};

}  // namespace rzt2
