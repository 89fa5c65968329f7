// What a batch job needs from its front end: the desktop program answers
// with message boxes and the progress window, the command line on stderr.
// The calls come from the thread the job runs on, which need not be the
// front end's own: the desktop program's job runs on a worker thread.
#pragma once

#include <string>

#include "raster/status.h"

namespace rzt2 {

class JobHost {
 public:
  // The job starts with fileCount files to handle; the current bar runs 0..100.
  virtual void BeginJob(int fileCount) = 0;
  virtual void EndJob() = 0;
  // A failed file: its fixed message ("Error loading file %s!") and why it
  // failed. The job waits until this returns, then goes on unless its
  // request's stop was asked for meanwhile.
  virtual void ShowError(const std::string& message, Status cause) = 0;
  virtual void SetLabel(const std::string& text) = 0;
  virtual void SetTotalPosition(int filesDone) = 0;
  virtual void SetCurrentPosition(int percent) = 0;

 protected:
  ~JobHost() = default;
};

}  // namespace rzt2
