// Batch jobs: converting pictures (and map files) into map files, and
// exporting map files and pictures as ordinary images. A job is its
// request, the work for one file, and a runner that reports through a
// JobHost. Every file is tried; a failure is reported and the job goes on.
// Front ends ignore SIGXFSZ, so that a file over the size limit fails like
// any other instead of ending the program.
#pragma once

#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "base/thread_pool.h"
#include "jobs/job_host.h"
#include "jobs/job_texts.h"
#include "jobs/source_loader.h"
#include "mapfile/encoder_params.h"

namespace rzt2 {

enum class JobKind { Convert, Export };

// Names a job takes after its request's fixed ones, pulled one at a time as
// the batch goes, never read whole: the command line's --files-from, which
// may be an endless pipe. Pulled from the runner's thread only.
class NameSource {
 public:
  // The next name; nothing at the end of the list.
  virtual std::optional<std::string> Next() = 0;

 protected:
  ~NameSource() = default;
};

struct JobRequest {
  JobKind kind = JobKind::Convert;
  std::vector<std::string> names;   // as listed: files, and folders that are skipped
  NameSource* moreNames = nullptr;  // after names, as listed too; none: names are all
  std::string sourceFolder;  // names and relative outputs are taken in it; empty: the current directory
  EncoderParams params;
  OutputPlacement placement;
  int exportFormat = 0;  // the FrameCode of the export's format (FrameFormat)
  // What a conversion takes of files of several pages (PDF, TIFF) or frames
  // (GIF): this page, from 1, or with allPages each into its own map; and
  // the pixels an inch of drawn formats (0: each format's own).
  uint32_t page = 1;
  bool allPages = false;
  uint32_t maxPages = kMaxPages.defaultValue;  // a file of more pages is refused
  uint32_t dpi = 0;
  // Asked to stop: no further file starts, and the file being written is
  // abandoned, as if it had not been started, without an error.
  std::stop_token stop;
};

struct JobResult {
  int files = 0;  // files handled (folders, missing names and an abandoned file are not counted)
  int failed = 0;
};

// Ok for a path that is worked on: anything but a folder. A folder is
// NotRegularFile; a path whose attributes cannot be read counts as one,
// with the reason they could not (FileNotFound, AccessDenied...).
Status JobFileStatus(const std::string& path);
// The names in folder (see ResolvePath) that are worked on.
int CountJobFiles(const std::string& folder, const std::vector<std::string>& names);

// The name of the output of one source, before any destination folder;
// of one page of it (page > 0) "NAME-pN.rzt2".
std::string OutputName(const JobRequest& request, const std::string& sourceName, uint32_t page = 0);

// The maps a conversion makes of one file: one of the file as a whole at
// the request's page (pages 0), unless allPages asks for each page of a
// file of several (pages 1 to `pages`). A file of more than maxPages
// pages, or of fewer than the request's page, is refused with its cause;
// a file that cannot be read or counted is left to fail when it is loaded.
struct FilePages {
  uint32_t pages = 0;
  Status refusal = Status::Ok;
  std::string cause;
};
FilePages PagesToConvert(const JobRequest& request, const std::string& path);

// Both runners take the request's files one at a time as the batch goes:
// the host's BeginJob is told the fixed names' files, and the whole job's
// progress counts a file (each page of it, with allPages) once it is taken,
// so its file count and total may grow while it runs.
//
// One file after the other on the calling thread, with the caller's
// loader (the desktop program's current picture), set to the source folder;
// a conversion's frames are drawn and encoded also on the pool, if any.
JobResult RunJob(const JobRequest& request, SourceLoader& loader, JobHost& host, ThreadPool* pool = nullptr);

// threads in all, shared by the files and their frames. With one, as
// RunJob on the calling thread. With more, files run on a pool of that many
// threads, each with its own loader, writer and memo, and their frames on
// the same pool; the pages of one file run one after the other with one
// loader. A file starts once the pictures of those running are
// loaded and hold less than sideBySideBytes (the first always starts), so
// large pictures are done one at a time with every thread on their frames,
// and small ones side by side. Host calls are serialized.
//
// In both, a file whose output (the same folder and name) an earlier file
// of the job writes fails, naming that file, and leaves the output alone.
inline constexpr uint64_t kSideBySideBytes = uint64_t{64} << 20;
JobResult RunJobInParallel(const JobRequest& request, JobHost& host, int threads,
                           uint64_t sideBySideBytes = kSideBySideBytes);

}  // namespace rzt2
