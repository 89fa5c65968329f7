// The command line's job host: failures on stderr, and a one-line
// progress display on stderr when it is a terminal.
#pragma once

#include <cstdio>
#include <string>

#include "jobs/job_host.h"

namespace rzt2 {

class TerminalHost final : public JobHost {
 public:
  TerminalHost(std::FILE* out, bool showProgress) : out_(out), showProgress_(showProgress) {}

  void BeginJob(int fileCount) override;
  void EndJob() override;
  void ShowError(const std::string& message) override;
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
