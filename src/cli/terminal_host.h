// The command line's job host: failures on stderr, each as its message and
// its cause in brackets on one line, and a one-line progress display on
// stderr when it is a terminal.
#pragma once

#include <cstdio>
#include <string>

#include "jobs/job_host.h"

namespace rzt2 {

// A failure as rzt2 prints it: the fixed message, then its cause in
// brackets, e.g. "Error while creating/saving file a.rzt2! (disk full)".
std::string FailureLine(const std::string& message, Status cause);

class TerminalHost final : public JobHost {
 public:
  TerminalHost(std::FILE* out, bool showProgress) : out_(out), showProgress_(showProgress) {}

  void BeginJob(int fileCount) override;
  void EndJob() override;
  void ShowError(const std::string& message, Status cause) override;
  void SetLabel(const std::string& text) override;
  void SetTotalPosition(int filesDone) override;
  void SetCurrentPosition(int percent) override;

 private:
  void Redraw();
  void ClearLine();

  std::FILE* out_;
  bool showProgress_;
  int fileCount_ = 0;
  int filesDone_ = 0;
  int percent_ = 0;
  std::string label_;
  bool lineShown_ = false;
};

}  // namespace rzt2
