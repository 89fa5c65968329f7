// A job host that records what a job shows: each failure as rzt2 prints it
// ("message (cause)"), and the labels, bars, repaints and end in order.
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "jobs/job_host.h"

namespace rzt2::test {

struct RecordingHost final : JobHost {
  std::vector<std::string> events;  // "label ...", "total N", "current P", "end"
  std::vector<std::string> errors;  // "message (cause)"
  int fileCount = -1;
  std::function<void(const std::string&)> onEvent;  // runs after each event is recorded

  void BeginJob(int n) override { fileCount = n; }
  void EndJob() override { Record("end"); }
  void ShowError(const JobFailure& failure) override {
    errors.push_back(failure.message + " (" + failure.Cause() + ")");
  }
  void SetLabel(const std::string& text) override { Record("label " + text); }
  void SetTotalPosition(int n) override { Record("total " + std::to_string(n)); }
  void SetCurrentPosition(int percent) override { Record("current " + std::to_string(percent)); }
  void Record(const std::string& event) {
    events.push_back(event);
    if (onEvent) onEvent(event);
  }
  bool Saw(const std::string& event) const {
    return std::find(events.begin(), events.end(), event) != events.end();
  }
};

}  // namespace rzt2::test
