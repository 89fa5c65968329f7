// What a batch job needs from its front end: the desktop program answers
// with message boxes and the progress window, the command line on stderr.
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
  // failed. The job waits until this returns, then goes on.
  virtual void ShowError(const std::string& message, Status cause) = 0;
  virtual void SetLabel(const std::string& text) = 0;
  virtual void SetTotalPosition(int filesDone) = 0;
  virtual void SetCurrentPosition(int percent) = 0;
  // Lets pending repaints through during long work, and nothing else.
  virtual void ProcessPaintEvents() {}

 protected:
  ~JobHost() = default;
};

}  // namespace rzt2
