#include "web/web_job.h"

#include <emscripten/em_asm.h>
#include <emscripten/threading.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <stop_token>
#include <thread>

#include "raster/codecs/image_formats.h"

namespace rzt2 {

namespace {

using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

// At most this many progress events a second; the rest are dropped.
constexpr int kProgressPerSecond = 20;

// Hands an event to the worker's onJobEvent on the module's main thread:
// at once without threads; with them through that thread's queue, in the
// order they were posted (the runner serializes its host's calls).
void PostEvent(int id, const Json& event) {
  char* text = strdup(event.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
  if (text == nullptr) return;
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdollar-in-identifier-extension"  // $0, $1: the arguments
  MAIN_THREAD_ASYNC_EM_ASM({ Module["onJobEvent"]($0, $1); }, id, text);
#pragma clang diagnostic pop
}

class WebJobHost final : public JobHost {
 public:
  explicit WebJobHost(int id) : id_(id) {}

  void BeginJob(int fileCount) override { Post({{"type", "begin"}, {"files", fileCount}}); }
  void EndJob() override {}
  void ShowError(const JobFailure& failure) override {
    Post({{"type", "error"},
          {"message", failure.message},
          {"file", failure.file},
          {"cause", failure.Cause()}});
  }
  void SetLabel(const std::string& text) override { Post({{"type", "label"}, {"text", text}}); }
  void SetTotalPosition(int filesDone) override { Post({{"type", "filesDone"}, {"filesDone", filesDone}}); }
  void SetCurrentPosition(int percent) override {
    if (percent == filePercent_ || !Due(fileDue_, percent == 100)) return;
    filePercent_ = percent;
    Post({{"type", "filePercent"}, {"percent", percent}});
  }
  void ShowBatchProgress(const BatchProgress& progress) override {
    const bool milestone = progress.filesDone != filesDone_ || progress.percent >= 100;
    if (!Due(batchDue_, milestone)) return;
    filesDone_ = progress.filesDone;
    Post({{"type", "batch"},
          {"file", progress.file},
          {"zoom", progress.zoom == 0 ? Json(nullptr) : Json(progress.zoom)},
          {"filesDone", progress.filesDone},
          {"files", progress.fileCount},
          {"done", progress.done},
          {"total", progress.total},
          {"percent", progress.percent}});
  }
  void FileEnded(const FileOutcome& outcome) override {
    Post({{"type", "fileEnded"},
          {"input", outcome.input},
          {"output", outcome.output},
          {"status", outcome.status == Status::Ok ? "ok" : "failed"},
          {"cause", outcome.cause.empty() ? Json(nullptr) : Json(outcome.cause)},
          {"seconds", outcome.seconds},
          {"width", outcome.width},
          {"height", outcome.height},
          {"outputBytes", outcome.outputBytes}});
  }

 private:
  void Post(const Json& event) { PostEvent(id_, event); }
  // Whether a progress event is due: a milestone always, else not sooner
  // than the rate allows after the last one.
  static bool Due(Clock::time_point& next, bool milestone) {
    const Clock::time_point now = Clock::now();
    if (!milestone && now < next) return false;
    next = now + std::chrono::milliseconds(1000 / kProgressPerSecond);
    return true;
  }

  const int id_;
  int filePercent_ = -1;
  int filesDone_ = -1;
  Clock::time_point fileDue_{};
  Clock::time_point batchDue_{};
};

// The stop of each running job, for CancelWebJob.
std::mutex runningMutex;
std::map<int, std::stop_source> running;

void RunWebJob(int id, const WebJob& job) {
  WebJobHost host(id);
  // One file at a time, whatever the threads: the budget is all the memory
  // there is, and two pictures side by side could each fit it alone but
  // not together.
  const JobResult result = RunJobInParallel(job.request, host, job.threads, 0);
  {
    const std::lock_guard lock(runningMutex);
    running.erase(id);
  }
  PostEvent(id, Json{{"type", "end"},
                     {"files", result.files},
                     {"failed", result.failed},
                     {"cancelled", job.request.stop.stop_requested()}});
}

std::optional<std::string> ParseSettings(const nlohmann::json& settings, WebJob& out) {
  if (!settings.is_object()) return "settings: not an object";
  for (const auto& [name, value] : settings.items()) {
    if (!value.is_number_integer()) return "settings: " + name + " is not a whole number";
    const auto number = value.get<int64_t>();
    if (number < INT32_MIN || number > INT32_MAX) return "settings: " + name + " is out of range";
    const auto setting = static_cast<int32_t>(number);
    bool known = false;
    for (const EncoderParamField& field : kEncoderParamFields) {
      if (field.setting->name == name) {
        out.request.params.*field.member = setting;
        known = true;
      }
    }
    if (name == kAllPages.name) {
      out.request.allPages = setting != 0;
    } else if (name == kMaxPages.name) {
      if (const auto error = RangeError(kMaxPages, setting)) return "settings: " + *error;
      out.request.maxPages = static_cast<uint32_t>(setting);
    } else if (!known) {
      return "settings: no setting is named " + name;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ParseJobRequest(const nlohmann::json& request, WebJob& out) {
  if (!request.is_object()) return "the request is not an object";
  const std::string kind = request.value("kind", "");
  if (kind != "convert" && kind != "export") return "kind: neither convert nor export";
  out.request.kind = kind == "convert" ? JobKind::Convert : JobKind::Export;
  if (!request.contains("folder") || !request["folder"].is_string()) return "folder: missing";
  out.request.sourceFolder = request["folder"].get<std::string>();
  if (!request.contains("files") || !request["files"].is_array()) return "files: missing";
  for (const nlohmann::json& name : request["files"]) {
    if (!name.is_string()) return "files: a name is not a string";
    out.request.names.push_back(name.get<std::string>());
  }
  if (request.contains("settings")) {
    if (auto error = ParseSettings(request["settings"], out)) return error;
  }
  if (out.request.kind == JobKind::Export) {
    const ImageFormat* format = FindFrameFormat(request.value("format", ""));
    if (format == nullptr) return "format: not an export format";
    out.request.exportFormat = FrameCode(*format);
  }
  // The module without threads has its one.
  out.threads = emscripten_has_threading_support() ? std::max(request.value("threads", 1), 1) : 1;
  return std::nullopt;
}

void StartWebJob(int id, WebJob job) {
  std::stop_source stop;
  job.request.stop = stop.get_token();
  {
    const std::lock_guard lock(runningMutex);
    running[id] = stop;
  }
  if (emscripten_has_threading_support()) {
    std::thread([id, job = std::move(job)] { RunWebJob(id, job); }).detach();
  } else {
    RunWebJob(id, job);
  }
}

void CancelWebJob(int id) {
  const std::lock_guard lock(runningMutex);
  if (const auto found = running.find(id); found != running.end()) found->second.request_stop();
}

}  // namespace rzt2
