#include "jobs/job_runner.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <iterator>
#include <map>
#include <mutex>
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
void TellFileEnded(const JobRequest& request, const std::string& name, uint32_t page, SourceLoader* loader,
                   Status status, std::string cause, Clock::time_point start, JobHost& host) {
  GuardMemory([&] {
    FileOutcome outcome{.input = name,
                        .output = OutputPath(OutputName(request, name, page), request.placement),
                        .status = status,
                        .cause = std::move(cause),
                        .seconds = std::chrono::duration<double>(Clock::now() - start).count()};
    if (const Bitmap* picture = loader != nullptr ? loader->CurrentImage().GetBitmap() : nullptr) {
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
JobFailure SameOutputFailure(const JobRequest& request, const std::string& name, uint32_t page,
                             const std::string& earlier) {
  const std::string target = OutputPath(OutputName(request, name, page), request.placement);
  return {FormatText(kErrorSavingFile, target), target, Status::WriteFailed,
          FormatText(kCauseSameOutput, earlier)};
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

// The work for one map of a file, under the guard; refusal, when not null,
// fails it before anything is touched. The file's steps report their own
// failures; memory that runs out in the job's own texts and names, between
// them, is reported here.
Status RunOneFile(const JobRequest& request, size_t index, const std::string& name, uint32_t page,
                  SourceLoader& loader, JobProgress& progress, JobHost& host, const FileResources& resources,
                  const JobFailure* refusal) {
  const Clock::time_point start = Clock::now();
  FailureMemo memo(host);
  bool reported = false;
  const Status status = GuardMemory([&] {
    progress.BeginFile(index);
    loader.SetFolder(request.sourceFolder);
    Status result = Status::Ok;
    if (refusal != nullptr) {
      memo.ShowError(*refusal);
      result = refusal->status;
    } else {
      result = request.kind == JobKind::Convert
                   ? ConvertFile(request, name, page, loader, progress, memo, resources)
                   : ExportFile(request, name, loader, progress, memo, resources);
    }
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
      TellFileEnded(request, name, page, &loader, status, memo.Cause(status), start, host);
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

// One map a file of the job makes, with its place in the job's progress
// and the earlier file of the job that writes its output, if any.
struct MapOfFile {
  uint32_t page = 0;  // 0: the file as a whole
  size_t meterIndex = 0;
  std::optional<std::string> earlier;
};

// One file of the job as its list gives it: its maps, and what fails it
// before any is begun.
struct JobFile {
  std::string name;
  std::optional<JobFailure> refusal;
  std::vector<MapOfFile> maps;
};

// The job's files, made one at a time as the batch takes them: the fixed
// names, then those the name source gives, never listed whole. Each output
// is claimed as its file is taken, in the job's order, so that a later file
// with the same output fails naming the first whatever the threads do.
class JobList {
 public:
  JobList(const JobRequest& request, BatchMeter& meter, JobHost& host)
      : request_(request), meter_(meter), host_(host) {}
  ~JobList() { meter_.ListEnded(); }
  JobList(const JobList&) = delete;
  JobList& operator=(const JobList&) = delete;

  // The next file; nothing once the names have run out. A streamed name
  // that is no file fails here, as one that cannot be loaded (the fixed
  // names are the desktop program's list, whose folders are skipped, or
  // the command line's, checked before the job); failed counts it.
  std::optional<JobFile> Next(int& failed) {
    for (;;) {
      const bool streamed = fixed_ >= request_.names.size();
      std::optional<std::string> name;
      if (!streamed) {
        name = request_.names[fixed_++];
      } else if (request_.moreNames != nullptr) {
        name = request_.moreNames->Next();
      }
      if (!name) return std::nullopt;
      const Status status = JobFileStatus(ResolvePath(request_.sourceFolder, *name));
      if (status == Status::Ok) return Take(std::move(*name));
      if (streamed) {
        host_.ShowError({FormatText(kErrorLoadingFile, *name), *name, status, {}});
        TellFileEnded(request_, *name, 0, nullptr, status, StatusText(status), Clock::now(), host_);
        ++failed;
      }
    }
  }

 private:
  JobFile Take(std::string name) {
    JobFile file;
    const FilePages pages = PagesToConvert(request_, ResolvePath(request_.sourceFolder, name));
    if (pages.refusal != Status::Ok) {
      file.refusal = JobFailure{FormatText(kErrorLoadingFile, name), name, pages.refusal, pages.cause};
      file.maps.push_back({0, meter_.AddFile(name), std::nullopt});
    } else if (pages.pages == 0) {
      file.maps.push_back(Claim(name, 0, 1));
    } else {
      file.maps.reserve(pages.pages);
      for (uint32_t page = 1; page <= pages.pages; ++page)
        file.maps.push_back(Claim(name, page, pages.pages));
    }
    file.name = std::move(name);
    return file;
  }

  MapOfFile Claim(const std::string& name, uint32_t page, uint32_t pages) {
    MapOfFile map{page, meter_.AddFile(name, pages), std::nullopt};
    const auto [it, added] = outputs_.emplace(OutputKey(request_, name, page), name);
    if (!added) map.earlier = it->second;
    return map;
  }

  const JobRequest& request_;
  BatchMeter& meter_;
  JobHost& host_;
  size_t fixed_ = 0;
  std::map<std::string, std::string> outputs_;  // each output claimed, with the file that claimed it
};

// The failure that ends a map before it is begun, if any.
std::optional<JobFailure> RefusalOf(const JobRequest& request, const JobFile& file, const MapOfFile& map) {
  if (file.refusal) return file.refusal;
  if (map.earlier) return SameOutputFailure(request, file.name, map.page, *map.earlier);
  return std::nullopt;
}

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

FilePages PagesToConvert(const JobRequest& request, const std::string& path) {
  const bool pageAsked = request.page > 1;
  if (request.kind != JobKind::Convert || (!request.allPages && !pageAsked)) return {};
  std::vector<uint8_t> bytes;
  uint32_t count = 0;
  // A file that cannot be read or counted fails when it is loaded, as a whole.
  if (ReadWholeFile(path, kMaxPictureFileBytes, bytes) != Status::Ok ||
      CountPages(bytes, count) != Status::Ok) {
    return {};
  }
  if (request.allPages) {
    if (count > request.maxPages) return {0, Status::TooLarge, TooManyPagesCause(count, request.maxPages)};
    return {count < 2 ? 0 : count, Status::Ok, {}};
  }
  if (count < request.page) return {0, Status::NoSuchPage, PageCountCause(count)};
  return {};
}

JobResult RunJob(const JobRequest& request, SourceLoader& loader, JobHost& host, ThreadPool* pool) {
  if (const auto refusal = RefuseJob(request)) {
    host.ShowError({*refusal, {}, Status::InvalidParameter, {}});
    return JobResult{0, 0};
  }
  // A file that goes missing after it was taken fails to load and is
  // reported, like any file that cannot be read.
  host.BeginJob(CountJobFiles(request.sourceFolder, request.names));
  BatchMeter batch(host, request);
  JobResult result;
  {
    JobList list(request, batch, host);
    JobProgress progress(host, loader.CurrentImagePath(), batch);
    int filesDone = 0;
    bool cancelled = false;
    while (!cancelled && !request.stop.stop_requested()) {
      const std::optional<JobFile> file = list.Next(result.failed);
      if (!file) break;
      for (const MapOfFile& map : file->maps) {
        const std::optional<JobFailure> refusal = RefusalOf(request, *file, map);
        const Status status =
            request.stop.stop_requested()
                ? Status::Cancelled
                : RunOneFile(request, map.meterIndex, file->name, map.page, loader, progress, host,
                             FileResources{.pool = pool, .pictureLoaded = {}}, refusal ? &*refusal : nullptr);
        cancelled = status == Status::Cancelled;
        if (cancelled) break;
        if (status != Status::Ok) ++result.failed;
        ++result.files;
      }
      if (!cancelled) host.SetTotalPosition(++filesDone);
    }
  }
  host.EndJob();
  return result;
}

JobResult RunJobInParallel(const JobRequest& request, JobHost& host, int threads, uint64_t sideBySideBytes) {
  if (const auto refusal = RefuseJob(request)) {
    host.ShowError({*refusal, {}, Status::InvalidParameter, {}});
    return JobResult{0, 0};
  }
  SerializedHost shared(host);
  shared.BeginJob(CountJobFiles(request.sourceFolder, request.names));
  BatchMeter batch(shared, request);
  std::atomic<int> failed{0};
  std::atomic<int> mapsDone{0};
  std::mutex totalMutex;  // keeps the total bar moving forward only
  int filesDone = 0;
  ThreadPool* framePool = nullptr;  // the pool below, once there is one
  Admission admission(std::max(threads, 1), sideBySideBytes);
  // The pages of a file one after the other, with one loader: a document
  // is parsed by one task, and its pictures let go of one by one.
  const auto runFile = [&](const JobFile& file) {
    // Whatever ends the file, its place is given back.
    const struct FileEnd {
      Admission& admission;
      ~FileEnd() { admission.GroupDone(); }
    } end{admission};
    SourceLoader loader;
    JobProgress progress(shared, loader.CurrentImagePath(), batch);
    bool cancelled = false;
    for (size_t i = 0; i < file.maps.size() && !cancelled; ++i) {
      const MapOfFile& map = file.maps[i];
      if (i > 0) admission.NextFile();
      std::optional<uint64_t> loaded;
      const FileResources resources{.pool = framePool, .pictureLoaded = [&](uint64_t bytes) {
                                      loaded = bytes;
                                      admission.Loaded(bytes);
                                    }};
      const std::optional<JobFailure> refusal = RefusalOf(request, file, map);
      const Status status = request.stop.stop_requested()
                                ? Status::Cancelled
                                : RunOneFile(request, map.meterIndex, file.name, map.page, loader, progress,
                                             shared, resources, refusal ? &*refusal : nullptr);
      // Let go of the picture now rather than when the next one is loaded.
      loader.Clear();
      cancelled = status == Status::Cancelled;
      if (status != Status::Ok && !cancelled) ++failed;
      if (!cancelled) ++mapsDone;
      // Counted done before another file may start.
      if (!cancelled && i + 1 == file.maps.size()) {
        GuardMemory([&] {
          std::lock_guard lock(totalMutex);
          shared.SetTotalPosition(++filesDone);
          return Status::Ok;
        });
      }
      admission.FileDone(loaded);
    }
  };
  // With one thread the files run on this one, one after the other, as in
  // RunJob; with more, each file is a long task on the pool. The pool comes
  // after everything its workers use, and the task group after the pool, so
  // that the group waits for its tasks and the pool joins its workers
  // before any of it goes, also when an exception unwinds.
  {
    JobList list(request, batch, shared);
    std::optional<ThreadPool> pool;
    if (threads > 1) framePool = &pool.emplace(threads);
    TaskGroup fileTasks(framePool, "file of a job");
    int refused = 0;
    while (!request.stop.stop_requested()) {
      std::optional<JobFile> file = list.Next(refused);
      if (!file) break;
      admission.Start();
      fileTasks.RunLong([&runFile, file = std::move(*file)] {
        runFile(file);
        return Status::Ok;
      });
    }
    admission.WaitForAll();
    fileTasks.Wait();
    failed += refused;
  }
  shared.EndJob();
  return JobResult{mapsDone.load(), failed.load()};
}

}  // namespace rzt2
