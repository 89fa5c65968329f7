#include "cli/terminal_host.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "cli/batch_report.h"
#include "cli/printable.h"

namespace rzt2 {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr size_t kDefaultWidth = 80;
constexpr char kEllipsis[] = "...";
constexpr size_t kMinNameColumns = 12;

// "1:05", "2:03:04"
std::string Duration(std::chrono::seconds time) {
  const auto s = time.count();
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60));
  }
  return text;
}

bool IsContinuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// Columns a printable text takes: one a character.
size_t Columns(const std::string& text) {
  return static_cast<size_t>(
      std::count_if(text.begin(), text.end(), [](char byte) { return !IsContinuation(byte); }));
}

// The byte offset after the first `columns` characters.
size_t Prefix(const std::string& text, size_t columns) {
  size_t i = 0;
  for (; i < text.size(); ++i) {
    if (!IsContinuation(text[i]) && columns-- == 0) break;
  }
  return i;
}

// text within width columns (more than the ellipsis), its middle given up
// for "...".
std::string ShortenInTheMiddle(const std::string& text, size_t width) {
  const size_t columns = Columns(text);
  if (columns <= width) return text;
  const size_t kept = width - (sizeof kEllipsis - 1);
  const size_t head = kept / 2;
  return text.substr(0, Prefix(text, head)) + kEllipsis + text.substr(Prefix(text, columns - (kept - head)));
}

size_t TerminalWidth(std::FILE* out) {
  winsize size{};
  if (::ioctl(::fileno(out), TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return kDefaultWidth;
  return size.ws_col;
}

// The progress line: files done of all, percent of the job's work, time
// spent and left, and the current file and level, within width columns (a
// long file name loses its middle).
std::string ProgressLine(const BatchProgress& progress, std::chrono::seconds elapsed, size_t width) {
  const double percent = progress.percent;
  std::string left = "--:--";
  if (percent > 0 && elapsed.count() > 0) {
    left = Duration(
        std::chrono::seconds(std::llround(static_cast<double>(elapsed.count()) * (100 - percent) / percent)));
  }
  char head[96];
  std::snprintf(head, sizeof head, "[%d/%d] %3d%% %s, %s left  ", progress.filesDone, progress.fileCount,
                static_cast<int>(percent), Duration(elapsed).c_str(), left.c_str());
  std::string tail = progress.zoom > 0 ? ", zoom " + std::to_string(progress.zoom) + "%" : "";
  // The last column stays free: some terminals wrap when it is written. A
  // narrow terminal loses the zoom, then the end of the line, rather than
  // the whole name.
  const size_t headColumns = Columns(head) + 1;
  if (width < headColumns + kMinNameColumns + tail.size()) tail.clear();
  const size_t fixed = headColumns + tail.size();
  const size_t room = std::max(width > fixed ? width - fixed : 0, kMinNameColumns);
  const std::string line = head + ShortenInTheMiddle(Printable(progress.file), room) + tail;
  return line.substr(0, Prefix(line, width > 0 ? width - 1 : 0));
}

// One line of JSON; bytes that are not UTF-8 become U+FFFD (see PutFileName).
std::string JsonLine(const nlohmann::ordered_json& line) {
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

std::string FailureLine(const JobFailure& failure) {
  std::string line = Printable(failure.message);
  if (failure.status != Status::Ok) line += " (" + Printable(failure.Cause()) + ")";
  return line;
}

void TerminalHost::BeginJob(int) {
  start_ = Clock::now();
  lastShown_ = {};
}

void TerminalHost::EndJob() {
  if (pending_) Show();
  if (lineShown_) std::fputc('\n', out_);
  lineShown_ = false;
  std::fflush(out_);
}

void TerminalHost::ShowError(const JobFailure& failure) {
  ClearLine();
  if (display_ == ProgressDisplay::Json) {
    nlohmann::ordered_json line = nlohmann::ordered_json::object();
    line["error"] = failure.message;
    if (failure.file.empty()) {
      line["file"] = nullptr;
    } else {
      PutFileName(line, failure.file);
    }
    line["cause"] = failure.Cause();
    std::fprintf(out_, "%s\n", JsonLine(line).c_str());
  } else {
    std::fprintf(out_, "%s\n", FailureLine(failure).c_str());
  }
  if (display_ == ProgressDisplay::Line && latest_.fileCount > 0) Show();
  std::fflush(out_);
}

void TerminalHost::Replaced(const Replacement& replacement) {
  ClearLine();
  if (display_ == ProgressDisplay::Json) {
    nlohmann::ordered_json line = nlohmann::ordered_json::object();
    PutName(line, "replaced", replacement.output);
    if (replacement.backup.empty()) {
      line["backup"] = nullptr;
    } else {
      PutName(line, "backup", replacement.backup);
    }
    std::fprintf(out_, "%s\n", JsonLine(line).c_str());
  } else if (replacement.backup.empty()) {
    std::fprintf(out_, "Replaced %s; %s.bak was taken, so the earlier file was not kept\n",
                 Printable(replacement.output).c_str(), Printable(replacement.output).c_str());
  } else {
    std::fprintf(out_, "Replaced %s; the earlier file is now %s\n", Printable(replacement.output).c_str(),
                 Printable(replacement.backup).c_str());
  }
  if (display_ == ProgressDisplay::Line && latest_.fileCount > 0) Show();
  std::fflush(out_);
}

void TerminalHost::ShowBatchProgress(const BatchProgress& progress) {
  if (display_ == ProgressDisplay::None) return;
  // JSON gives a line for each file done; in between, and on the terminal,
  // what the interval lets through.
  const bool fileDone = progress.filesDone != latest_.filesDone && display_ == ProgressDisplay::Json;
  latest_ = progress;
  pending_ = true;
  if (fileDone || Clock::now() - lastShown_ >= kRedrawInterval) Show();
}

void TerminalHost::FileEnded(const FileOutcome& outcome) {
  if (report_ != nullptr) report_->Add(outcome);
}

void TerminalHost::Show() {
  lastShown_ = Clock::now();
  pending_ = false;
  if (display_ == ProgressDisplay::Line) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(lastShown_ - start_);
    std::fprintf(out_, "\r\033[K%s", ProgressLine(latest_, elapsed, TerminalWidth(out_)).c_str());
    lineShown_ = true;
  } else {
    nlohmann::ordered_json line = nlohmann::ordered_json::object();
    PutFileName(line, latest_.file);
    line["level"] = latest_.zoom > 0 ? nlohmann::ordered_json(latest_.zoom) : nlohmann::ordered_json();
    line["filesDone"] = latest_.filesDone;
    line["files"] = latest_.fileCount;
    line["done"] = latest_.done;
    line["total"] = latest_.total;
    line["percent"] = std::round(latest_.percent * 10) / 10;
    std::fprintf(out_, "%s\n", JsonLine(line).c_str());
  }
  std::fflush(out_);
}

void TerminalHost::ClearLine() {
  if (!lineShown_) return;
  std::fputs("\r\033[K", out_);
  lineShown_ = false;
}

}  // namespace rzt2
