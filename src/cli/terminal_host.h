// The command line's job host: failures on stderr, each as its message and
// its cause in brackets on one line, and the whole job's progress: one line
// redrawn on a terminal; or, for scripts, one JSON object a line, failures
// too, so that every line parses.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "jobs/job_host.h"

namespace rzt2 {

// A failure as rzt2 prints it: the fixed message, then its cause in
// brackets, e.g. "Error while creating/saving file a.rzt2! (disk full)".
std::string FailureLine(const JobFailure& failure);

enum class ProgressDisplay { None, Line, Json };

class BatchReport;

class TerminalHost final : public JobHost {
 public:
  // report, if any, gets a line for each file that ends.
  TerminalHost(std::FILE* out, ProgressDisplay display, BatchReport* report = nullptr)
      : out_(out), display_(display), report_(report) {}

  void BeginJob(int fileCount) override;
  void EndJob() override;
  void ShowError(const JobFailure& failure) override;
  // The per-file bars are the desktop program's; the line shows the job.
  void SetLabel(const std::string&) override {}
  void SetTotalPosition(int) override {}
  void SetCurrentPosition(int) override {}
  void ShowBatchProgress(const BatchProgress& progress) override;
  void FileEnded(const FileOutcome& outcome) override;
  // Says which file was replaced and where the earlier one went.
  void Replaced(const Replacement& replacement) override;

 private:
  using Clock = std::chrono::steady_clock;
  // Writes the latest progress; the line replaces the one shown.
  void Show();
  void ClearLine();

  std::FILE* out_;
  ProgressDisplay display_;
  BatchReport* report_;
  Clock::time_point start_;
  Clock::time_point lastShown_;
  BatchProgress latest_;
  bool pending_ = false;  // latest_ is not shown yet
  bool lineShown_ = false;
};

}  // namespace rzt2
