// Turns a map writer's per-frame progress into the current bar and the
// zoom label, leaving both alone while the percentage stands still.
#pragma once

#include <string>

#include "jobs/job_host.h"
#include "mapfile/map_writer.h"

namespace rzt2 {

class JobProgress final : public ProgressSink {
 public:
  // currentImagePath is read at each call: the label names the file whose
  // picture is loaded.
  JobProgress(JobHost& host, const std::string& currentImagePath)
      : host_(host), currentImagePath_(currentImagePath) {}

  // A file starts: the current bar goes back to 0.
  void StartFile();
  void OnProgress(int32_t stageCode, int32_t percent) override;

 private:
  JobHost& host_;
  const std::string& currentImagePath_;
  int32_t position_ = 0;
};

}  // namespace rzt2
