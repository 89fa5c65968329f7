// What a batch job needs from its front end: the desktop program answers
// with message boxes and the progress window, the command line on stderr.
// The calls come from the thread the job runs on, which need not be the
// front end's own: the desktop program's job runs on a worker thread.
#pragma once

#include <cstdint>
#include <string>

#include "base/status.h"

namespace rzt2 {

// How far a whole job has come. Work is counted in pixels: decoding the
// picture, the preview and each level's frames, so that big pictures weigh
// more. A file not loaded yet is estimated from its byte size, at the
// pixels per byte of the files loaded so far; done and percent never go
// back, and the last report of a job that ran to its end has done equal to
// total and percent 100.
struct BatchProgress {
  int filesDone = 0;
  int fileCount = 0;
  std::string file;  // the file that moved last, as the request names it
  int zoom = 0;      // the zoom of its level being written, as its label shows it; 0 for none
  uint64_t done = 0;
  uint64_t total = 0;
  double percent = 0;
};

// A failed file as a job reports it.
struct JobFailure {
  std::string message;  // the fixed message with its subject: "Error loading file a.png!"
  std::string file;     // that subject, a source's name or an output's path; empty for the whole job
  Status status = Status::Ok;
  // What went wrong where the status's own text would not say it
  // ("3 of 40 frames damaged"); empty when it does.
  std::string detail;
  std::string Cause() const { return detail.empty() ? StatusText(status) : detail; }
};

// What became of one file of a job, once it ended (a file abandoned on a
// stop is not told).
struct FileOutcome {
  std::string input;   // as the request names it
  std::string output;  // the output it was to write, as failure messages name it
  Status status = Status::Ok;
  std::string cause;               // what went wrong, as the failure said it; empty when it ended well
  double seconds = 0;              // from the start of its work to its end
  uint32_t width = 0, height = 0;  // the picture's size; 0 when it was not loaded
  uint64_t outputBytes = 0;        // the size of the output written; 0 when it failed
};

// An export's output that exists already, and where the earlier file goes
// when it is replaced.
struct Replacement {
  std::string output;  // as failure messages name it
  // Its backup, "<output>.bak"; empty when that name is taken, so that the
  // earlier file is not kept.
  std::string backup;
};

enum class ReplaceAnswer { Replace, Skip, Cancel };

class JobHost {
 public:
  // The job starts with fileCount files to handle; the current bar runs 0..100.
  virtual void BeginJob(int fileCount) = 0;
  virtual void EndJob() = 0;
  // A failed file. The job waits until this returns, then goes on unless
  // its request's stop was asked for meanwhile.
  virtual void ShowError(const JobFailure& failure) = 0;
  virtual void SetLabel(const std::string& text) = 0;
  virtual void SetTotalPosition(int filesDone) = 0;
  virtual void SetCurrentPosition(int percent) = 0;
  // After each change of the whole job's progress. The desktop program
  // shows the bars above instead and leaves this alone.
  virtual void ShowBatchProgress(const BatchProgress& /*progress*/) {}
  // After each file that ended, failed or not, once its failure was shown.
  virtual void FileEnded(const FileOutcome& /*outcome*/) {}
  // An export's output exists: asked before the picture is loaded. Skip
  // leaves the file alone and counts it done; Cancel abandons it, and the
  // host asks its request's stop. The command line replaces.
  virtual ReplaceAnswer AskReplace(const Replacement& /*replacement*/) { return ReplaceAnswer::Replace; }
  // The earlier file was replaced; the command line says where it went.
  virtual void Replaced(const Replacement& /*replacement*/) {}

 protected:
  ~JobHost() = default;
};

}  // namespace rzt2
