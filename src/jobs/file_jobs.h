// The work for one file of a job. Each reports its own failure through the
// host, with its cause, and returns that cause; Ok when the output was
// written (or, for an export whose output exists, the host answered Skip),
// Cancelled when the request's stop ended it first or the host answered
// Cancel (not reported; nothing is left behind).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/thread_pool.h"
#include "jobs/job_progress.h"
#include "jobs/job_runner.h"

namespace rzt2 {

// What the work for one file shares with the rest of its job.
struct FileResources {
  ThreadPool* pool = nullptr;  // for a conversion's frames; null: the file's own thread alone
  // Told the bytes of the picture's pixels once it is loaded.
  std::function<void(uint64_t pictureBytes)> pictureLoaded;
};

// page > 0: that page of the file into its own map (OutputName's "NAME-pN");
// 0: the request's page into the file's map.
Status ConvertFile(const JobRequest& request, const std::string& name, uint32_t page, SourceLoader& loader,
                   JobProgress& progress, JobHost& host, const FileResources& resources = {});

// A destination folder that does not exist is made, with its parents,
// before a job starts. When it cannot be, the host is told why
// (kErrorCreatingFolder) and the job must not run. Ok for outputs next to
// their sources.
Status MakeOutputFolder(const JobRequest& request, JobHost& host);

Status ExportFile(const JobRequest& request, const std::string& name, SourceLoader& loader,
                  JobProgress& progress, JobHost& host, const FileResources& resources = {});

}  // namespace rzt2
