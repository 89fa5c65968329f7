#include "cli/terminal_host.h"

#include "cli/printable.h"

namespace rzt2 {

namespace {
constexpr size_t kLabelWidth = 60;
}

std::string FailureLine(const std::string& message, Status cause) {
  std::string line = Printable(message);
  if (cause != Status::Ok) line += std::string(" (") + StatusText(cause) + ")";
  return line;
}

void TerminalHost::BeginJob(int fileCount) {
  fileCount_ = fileCount;
  filesDone_ = 0;
  Redraw();
}

void TerminalHost::EndJob() { ClearLine(); }

void TerminalHost::ShowError(const std::string& message, Status cause) {
  ClearLine();
  std::fprintf(out_, "%s\n", FailureLine(message, cause).c_str());
  std::fflush(out_);
  Redraw();
}

void TerminalHost::SetLabel(const std::string& text) {
  label_ = text;
  Redraw();
}

void TerminalHost::SetTotalPosition(int filesDone) {
  filesDone_ = filesDone;
  Redraw();
}

void TerminalHost::SetCurrentPosition(int percent) {
  percent_ = percent;
  Redraw();
}

void TerminalHost::Redraw() {
  if (!showProgress_) return;
  std::string label = Printable(label_);
  if (label.size() > kLabelWidth) {
    size_t cut = label.size() - kLabelWidth + 3;
    while (cut < label.size() && (static_cast<unsigned char>(label[cut]) & 0xC0) == 0x80) ++cut;
    label = "..." + label.substr(cut);
  }
  std::fprintf(out_, "\r\033[K[%d/%d] %3d%% %s", filesDone_, fileCount_, percent_, label.c_str());
  std::fflush(out_);
  lineShown_ = true;
}

void TerminalHost::ClearLine() {
  if (!lineShown_) return;
  std::fprintf(out_, "\r\033[K");
  std::fflush(out_);
  lineShown_ = false;
}

}  // namespace rzt2
