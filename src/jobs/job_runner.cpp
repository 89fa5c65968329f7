#include "jobs/job_runner.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <iterator>
#include <map>
#include <mutex>
#include <numeric>
#include <optional>

#include "base/task_group.h"
#include "io/file_io.h"
#include "jobs/file_jobs.h"
#include "mapfile/map_records.h"
#include "raster/codecs/image_formats.h"

namespace rzt2 {

namespace {

using Clock = std::chrono::steady_clock;

// Tells the host what became of a file that ended: its picture is still the
// loader's.
void TellFileEnded(const JobRequest& request, const std::string& name, uint32_t page, SourceLoader& loader,
                   Status status, std::string cause, Clock::time_point start, JobHost& host) {
  GuardMemory([&] {
    FileOutcome outcome{.input = name,
                        .output = OutputPath(OutputName(request, name, page), request.placement),
                        .status = status,
                        .cause = std::move(cause),
                        .seconds = std::chrono::duration<double>(Clock::now() - start).count()};
    if (const Bitmap* picture = loader.CurrentImage().GetBitmap()) {
      outcome.width = static_cast<uint32_t>(picture->Width());
      outcome.height = static_cast<uint32_t>(picture->Height());
    }
    if (status == Status::Ok) {
      std::error_code error;
      const uintmax_t bytes =
          std::filesystem::file_size(ResolvePath(request.sourceFolder, outcome.output), error);
      if (!error) outcome.outputBytes = bytes;
    }
    host.FileEnded(outcome);
    return Status::Ok;
  });
}

// The output of a source as one file: folder and name, however written.
std::string OutputKey(const JobRequest& request, const std::string& name, uint32_t page) {
  const std::string output =
      ResolvePath(request.sourceFolder, OutputPath(OutputName(request, name, page), request.placement));
  // Absolute first: the relative form would change once the output exists.
  std::error_code error;
  const std::filesystem::path canonical =
      std::filesystem::weakly_canonical(std::filesystem::absolute(output, error), error);
  return error ? output : canonical.string();
}

// A file whose output an earlier file of the job writes fails, naming that
// file: one of the two pictures would be lost without a word.
Status RefuseSameOutput(const JobRequest& request, const std::string& name, uint32_t page,
                        const std::string& earlier, JobHost& host) {
  const std::string target = OutputPath(OutputName(request, name, page), request.placement);
  host.ShowError({FormatText(kErrorSavingFile, target), target, Status::WriteFailed,
                  FormatText(kCauseSameOutput, earlier)});
  return Status::WriteFailed;
}

// Passes every call on and keeps the cause of the last failure, for the
// file's outcome.
class FailureMemo final : public JobHost {
 public:
  explicit FailureMemo(JobHost& host) : host_(host) {}
  void BeginJob(int fileCount) override { host_.BeginJob(fileCount); }
  void EndJob() override { host_.EndJob(); }
  void ShowError(const JobFailure& failure) override {
    cause_ = failure.Cause();
    host_.ShowError(failure);
  }
  void SetLabel(const std::string& text) override { host_.SetLabel(text); }
  void SetTotalPosition(int filesDone) override { host_.SetTotalPosition(filesDone); }
  void SetCurrentPosition(int percent) override { host_.SetCurrentPosition(percent); }
  void ShowBatchProgress(const BatchProgress& progress) override { host_.ShowBatchProgress(progress); }
  void FileEnded(const FileOutcome& outcome) override { host_.FileEnded(outcome); }
  ReplaceAnswer AskReplace(const Replacement& replacement) override { return host_.AskReplace(replacement); }
  void Replaced(const Replacement& replacement) override { host_.Replaced(replacement); }
  // The last failure's cause, else the status's own text; empty for Ok.
  std::string Cause(Status status) const {
    if (status == Status::Ok) return {};
    return cause_.empty() ? StatusText(status) : cause_;
  }

 private:
  JobHost& host_;
  std::string cause_;
};

// The work for one file, under the guard; earlier, when not null, is the
// earlier file of the job with the same output. The file's steps report
// their own failures; memory that runs out in the job's own texts and
// names, between them, is reported here.
Status RunOneFile(const JobRequest& request, size_t index, const std::string& name, uint32_t page,
                  SourceLoader& loader, JobProgress& progress, JobHost& host, const FileResources& resources,
                  const std::string* earlier) {
  const Clock::time_point start = Clock::now();
  FailureMemo memo(host);
  bool reported = false;
  const Status status = GuardMemory([&] {
    progress.BeginFile(index);
    loader.SetFolder(request.sourceFolder);
    const Status result = earlier != nullptr ? RefuseSameOutput(request, name, page, *earlier, memo)
                          : request.kind == JobKind::Convert
                              ? ConvertFile(request, name, page, loader, progress, memo, resources)
                              : ExportFile(request, name, loader, progress, memo, resources);
    reported = true;
    return result;
  });
  if (!reported) {
    GuardMemory([&] {
      memo.ShowError({FormatText(kErrorLoadingFile, name), name, status, {}});
      return Status::Ok;
    });
  }
  if (status != Status::Cancelled) {
    GuardMemory([&] {
      progress.EndFile();
      TellFileEnded(request, name, page, loader, status, memo.Cause(status), start, host);
      return Status::Ok;
    });
  }
  return status;
}

// A refusal of the whole job before any file is touched, or nothing.
std::optional<std::string> RefuseJob(const JobRequest& request) {
  if (request.kind == JobKind::Convert) return CheckEncoderParams(request.params);
  if (FrameFormat(request.exportFormat) == nullptr) {
    return "The export format " + std::to_string(request.exportFormat) + " does not exist";
  }
  return std::nullopt;
}

// Forwards every call under one lock, for workers sharing one host.
class SerializedHost final : public JobHost {
 public:
  explicit SerializedHost(JobHost& host) : host_(host) {}
  void BeginJob(int fileCount) override {
    Locked([&] { host_.BeginJob(fileCount); });
  }
  void EndJob() override {
    Locked([&] { host_.EndJob(); });
  }
  void ShowError(const JobFailure& failure) override {
    Locked([&] { host_.ShowError(failure); });
  }
  void SetLabel(const std::string& text) override {
    Locked([&] { host_.SetLabel(text); });
  }
  void SetTotalPosition(int filesDone) override {
    Locked([&] { host_.SetTotalPosition(filesDone); });
  }
  void SetCurrentPosition(int percent) override {
    Locked([&] { host_.SetCurrentPosition(percent); });
  }
  void ShowBatchProgress(const BatchProgress& progress) override {
    Locked([&] { host_.ShowBatchProgress(progress); });
  }
  void FileEnded(const FileOutcome& outcome) override {
    Locked([&] { host_.FileEnded(outcome); });
  }
  ReplaceAnswer AskReplace(const Replacement& replacement) override {
    ReplaceAnswer answer = ReplaceAnswer::Replace;
    Locked([&] { answer = host_.AskReplace(replacement); });
    return answer;
  }
  void Replaced(const Replacement& replacement) override {
    Locked([&] { host_.Replaced(replacement); });
  }

 private:
  template <typename F>
  void Locked(F&& call) {
    std::lock_guard lock(mutex_);
    call();
  }
  JobHost& host_;
  std::mutex mutex_;
};

// Which files may run side by side. A picture's size is known only once it
// is loaded, so a file starts when no other is loading and the pictures
// loaded hold less than a share of memory, or when none runs.
class Admission {
 public:
  Admission(int maxRunning, uint64_t sideBySideBytes) : maxRunning_(maxRunning), share_(sideBySideBytes) {}

  // Waits until a group of files may start; its first file is loading.
  void Start() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] {
      return running_ == 0 || (running_ < maxRunning_ && loading_ == 0 && bytes_ < share_);
    });
    ++running_;
    ++loading_;
  }
  // The next file of a group that runs is loading.
  void NextFile() {
    Change([this] { ++loading_; });
  }
  void Loaded(uint64_t bytes) {
    Change([&] {
      --loading_;
      bytes_ += bytes;
    });
  }
  // A file is done, its picture (bytes, when it was Loaded) let go.
  void FileDone(std::optional<uint64_t> bytes) {
    Change([&] {
      if (bytes) {
        bytes_ -= *bytes;
      } else {
        --loading_;
      }
    });
  }
  void GroupDone() {
    Change([this] { --running_; });
  }
  void WaitForAll() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return running_ == 0; });
  }

 private:
  template <typename F>
  void Change(F&& change) {
    {
      std::lock_guard lock(mutex_);
      change();
    }
    changed_.notify_all();
  }
  const int maxRunning_;
  const uint64_t share_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int running_ = 0;
  int loading_ = 0;
  uint64_t bytes_ = 0;
};

bool IsRequestFile(const JobRequest& request, const std::string& name) {
  return JobFileStatus(ResolvePath(request.sourceFolder, name)) == Status::Ok;
}

// The request's files, each once for every page it is converted from.
struct PageList {
  std::vector<std::string> files;
  std::vector<uint32_t> pages;
  void Add(const JobRequest& request, const std::string& name) {
    for (const uint32_t page : PagesToConvert(request, ResolvePath(request.sourceFolder, name))) {
      files.push_back(name);
      pages.push_back(page);
    }
  }
};

}  // namespace

Status JobFileStatus(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error) return StatusFromErrno(error.value(), Status::ReadFailed);
  if (!std::filesystem::exists(status)) return Status::FileNotFound;
  return std::filesystem::is_directory(status) ? Status::NotRegularFile : Status::Ok;
}

int CountJobFiles(const std::string& folder, const std::vector<std::string>& names) {
  return static_cast<int>(std::count_if(names.begin(), names.end(), [&](const std::string& name) {
    return JobFileStatus(ResolvePath(folder, name)) == Status::Ok;
  }));
}

std::string OutputName(const JobRequest& request, const std::string& sourceName, uint32_t page) {
  if (request.kind == JobKind::Convert) {
    const std::string extension = "." + std::string(kMapFileExtension);
    return ReplaceExtension(sourceName, page > 0 ? "-p" + std::to_string(page) + extension : extension);
  }
  return ReplaceExtension(sourceName, "." + std::string(FrameFormat(request.exportFormat)->name));
}

std::vector<uint32_t> PagesToConvert(const JobRequest& request, const std::string& path) {
  if (request.kind != JobKind::Convert || !request.allPages) return {0};
  std::vector<uint8_t> bytes;
  uint32_t count = 0;
  // A file that cannot be read or counted fails when it is loaded, as a whole.
  if (ReadWholeFile(path, kMaxPictureFileBytes, bytes) != Status::Ok ||
      CountPages(bytes, count) != Status::Ok || count < 2) {
    return {0};
  }
  std::vector<uint32_t> pages(count);
  std::iota(pages.begin(), pages.end(), 1u);
  return pages;
}

JobResult RunJob(const JobRequest& request, SourceLoader& loader, JobHost& host, ThreadPool* pool) {
  if (const auto refusal = RefuseJob(request)) {
    host.ShowError({*refusal, {}, Status::InvalidParameter, {}});
    return JobResult{0, 0};
  }
  // The files are decided when the job begins: one that goes missing later
  // fails to load and is reported, like any file that cannot be read.
  PageList list;
  for (const std::string& name : request.names) {
    if (IsRequestFile(request, name)) list.Add(request, name);
  }
  const std::vector<std::string>& files = list.files;
  JobResult result;
  host.BeginJob(static_cast<int>(files.size()));
  BatchMeter batch(host, request, files);
  JobProgress progress(host, loader.CurrentImagePath(), batch);
  std::map<std::string, size_t> firstOfOutput;
  for (size_t i = 0; i < files.size(); ++i) {
    if (request.stop.stop_requested()) break;
    const size_t first = firstOfOutput.emplace(OutputKey(request, files[i], list.pages[i]), i).first->second;
    const Status status =
        RunOneFile(request, i, files[i], list.pages[i], loader, progress, host,
                   FileResources{.pool = pool, .pictureLoaded = {}}, first != i ? &files[first] : nullptr);
    if (status == Status::Cancelled) break;
    if (status != Status::Ok) ++result.failed;
    host.SetTotalPosition(++result.files);
  }
  host.EndJob();
  return result;
}

JobResult RunJobInParallel(const JobRequest& request, JobHost& host, int threads, uint64_t sideBySideBytes) {
  if (const auto refusal = RefuseJob(request)) {
    host.ShowError({*refusal, {}, Status::InvalidParameter, {}});
    return JobResult{0, 0};
  }
  // Files that write the same output form one group, worked on in order
  // (all but its first fail); a group holds indexes into files.
  PageList list;
  for (const std::string& name : request.names) {
    if (IsRequestFile(request, name)) list.Add(request, name);
  }
  const std::vector<std::string>& files = list.files;
  std::vector<std::vector<size_t>> groups;
  std::map<std::string, size_t> groupOfOutput;
  for (size_t i = 0; i < files.size(); ++i) {
    const auto [it, added] =
        groupOfOutput.emplace(OutputKey(request, files[i], list.pages[i]), groups.size());
    if (added) groups.emplace_back();
    groups[it->second].push_back(i);
  }

  SerializedHost shared(host);
  shared.BeginJob(static_cast<int>(files.size()));
  BatchMeter batch(shared, request, files);
  std::atomic<int> failed{0};
  std::mutex totalMutex;  // keeps the total bar moving forward only
  int done = 0;
  ThreadPool* framePool = nullptr;  // the pool below, once there is one
  Admission admission(std::max(threads, 1), sideBySideBytes);
  const auto runGroup = [&](const std::vector<size_t>& group) {
    // Whatever ends the group, its place is given back.
    const struct GroupEnd {
      Admission& admission;
      ~GroupEnd() { admission.GroupDone(); }
    } end{admission};
    SourceLoader loader;
    JobProgress progress(shared, loader.CurrentImagePath(), batch);
    for (size_t i = 0; i < group.size(); ++i) {
      if (i > 0) admission.NextFile();
      std::optional<uint64_t> loaded;
      const FileResources resources{.pool = framePool, .pictureLoaded = [&](uint64_t bytes) {
                                      loaded = bytes;
                                      admission.Loaded(bytes);
                                    }};
      const Status status = request.stop.stop_requested()
                                ? Status::Cancelled
                                : RunOneFile(request, group[i], files[group[i]], list.pages[group[i]], loader,
                                             progress, shared, resources, i > 0 ? &files[group[0]] : nullptr);
      // Let go of the picture now rather than when the next one is loaded.
      loader.Clear();
      if (status != Status::Ok && status != Status::Cancelled) ++failed;
      if (status != Status::Cancelled) {
        GuardMemory([&] {
          std::lock_guard lock(totalMutex);
          shared.SetTotalPosition(++done);
          return Status::Ok;
        });
      }
      admission.FileDone(loaded);
      if (status == Status::Cancelled) break;
    }
  };
  // With one thread the files run on this one, one after the other, as in
  // RunJob; with more, each group is a long task on the pool. The pool comes
  // after everything its workers use, and the task group after the pool, so
  // that the group waits for its tasks and the pool joins its workers
  // before any of it goes, also when an exception unwinds.
  std::optional<ThreadPool> pool;
  if (threads > 1) framePool = &pool.emplace(threads);
  TaskGroup fileTasks(framePool, "file of a job");
  for (const auto& group : groups) {
    if (request.stop.stop_requested()) break;
    admission.Start();
    fileTasks.RunLong([&runGroup, &group] {
      runGroup(group);
      return Status::Ok;
    });
  }
  admission.WaitForAll();
  fileTasks.Wait();
  shared.EndJob();
  return JobResult{done, failed.load()};
}

}  // namespace rzt2
