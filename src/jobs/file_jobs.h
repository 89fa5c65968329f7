// The work for one file of a job. Each reports its own failure through the
// host, with its cause, and returns that cause; Ok when the output was
// written, Cancelled when the request's stop ended it first (not reported;
// nothing is left behind).
#pragma once

#include <string>

#include "jobs/job_progress.h"
#include "jobs/job_runner.h"

namespace rzt2 {

Status ConvertFile(const JobRequest& request, const std::string& name, SourceLoader& loader,
                   JobProgress& progress, JobHost& host);

Status ExportFile(const JobRequest& request, const std::string& name, SourceLoader& loader,
                  JobProgress& progress, JobHost& host);

}  // namespace rzt2
