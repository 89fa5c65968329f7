// The work for one file of a job. Each reports its own failures through
// the host and returns whether the output was written.
#pragma once

#include <string>

#include "jobs/job_progress.h"
#include "jobs/job_runner.h"

namespace rzt2 {

bool ConvertFile(const JobRequest& request, const std::string& name, SourceLoader& loader,
                 JobProgress& progress, JobHost& host);

bool ExportFile(const JobRequest& request, const std::string& name, SourceLoader& loader,
                JobProgress& progress, JobHost& host);

}  // namespace rzt2
