// Jobs of the browser's build: a conversion or export of files the page's
// worker has put in one folder of the in-memory file system, run by the
// core's own runner, with its progress, failures and outcomes handed to
// the worker as JSON events (web/README.md lists them).
//
// With WebAssembly threads the job runs on a thread of its own and the
// call returns at once: the module's main thread must stay free, since
// every file operation of the other threads is carried out there. Without
// threads the job runs within the call.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "jobs/job_runner.h"

namespace rzt2 {

// The job a request describes, or why it describes none.
//   {"kind": "convert" | "export", "folder": "/job1", "files": ["a.png", ...],
//    "settings": {"FrameSizeX": 160, ...}, "format": "png", "threads": 2}
// Settings are named as the store names them (mapfile/encoder_params.h),
// with "AllPages"; those left out keep their defaults.
struct WebJob {
  JobRequest request;
  int threads = 1;
};
std::optional<std::string> ParseJobRequest(const nlohmann::json& request, WebJob& out);

// Starts the job numbered id; its events carry that number.
void StartWebJob(int id, WebJob job);
// Asks the job to stop: no file starts after, and the one being written is
// abandoned. Nothing when no such job runs.
void CancelWebJob(int id);

}  // namespace rzt2
