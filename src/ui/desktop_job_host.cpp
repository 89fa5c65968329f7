#include "ui/desktop_job_host.h"

#include <QCoreApplication>

#include "ui/user_prompts.h"

namespace rzt2 {

namespace {

void pumpPaintEvents() {
  // Input stays queued until the job has ended; the main window's own
  // timer is stopped for the job, so nothing but drawing happens here.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace

DesktopJobHost::DesktopJobHost(QWidget* owner, UserPrompts& prompts) : owner_(owner), prompts_(prompts) {}

DesktopJobHost::~DesktopJobHost() = default;

void DesktopJobHost::BeginJob(int fileCount) {
  progressWindow_ = std::make_unique<ProgressDialog>(owner_);
  progressWindow_->setFileCount(fileCount);
  progressWindow_->show();
  progressWindow_->repaint();
  // A window just shown is drawn once the window system has mapped it.
  pumpPaintEvents();
}

void DesktopJobHost::EndJob() { progressWindow_.reset(); }

void DesktopJobHost::ShowError(const std::string& message, Status /*cause*/) {
  // The message box shows the fixed message only, as it always has.
  prompts_.showMessage(owner_, QString::fromStdString(message), QStringLiteral("Information"),
                       MessageIcon::Error);
}

void DesktopJobHost::SetLabel(const std::string& text) {
  if (progressWindow_) progressWindow_->setStepText(QString::fromStdString(text));
}

void DesktopJobHost::SetTotalPosition(int filesDone) {
  if (progressWindow_) progressWindow_->setFilesDone(filesDone);
}

void DesktopJobHost::SetCurrentPosition(int percent) {
  if (progressWindow_) progressWindow_->setCurrentPercent(percent);
}

void DesktopJobHost::ProcessPaintEvents() { pumpPaintEvents(); }

}  // namespace rzt2
