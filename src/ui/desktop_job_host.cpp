#include "ui/desktop_job_host.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>

#include "ui/user_prompts.h"

namespace rzt2 {

DesktopJobHost::DesktopJobHost(QWidget* owner, UserPrompts& prompts, JobHost* observer)
    : owner_(owner), prompts_(prompts), observer_(observer) {}

DesktopJobHost::~DesktopJobHost() = default;

void DesktopJobHost::PumpPaintEvents() {
  // Input stays queued until the job has ended; the main window's own
  // timer is stopped for the job, so nothing but drawing happens here.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void DesktopJobHost::BeginJob(int fileCount) {
  progressWindow_ = std::make_unique<ProgressDialog>(owner_);
  progressWindow_->show();
  progressWindow_->TotalBar()->setRange(0, fileCount);
  progressWindow_->TotalBar()->setValue(0);
  progressWindow_->CurrentBar()->setRange(0, 100);
  progressWindow_->repaint();
  // A window just shown is drawn once the window system has mapped it.
  PumpPaintEvents();
  if (observer_) observer_->BeginJob(fileCount);
}

void DesktopJobHost::EndJob() {
  progressWindow_.reset();
  if (observer_) observer_->EndJob();
}

void DesktopJobHost::ShowError(const std::string& message) {
  prompts_.ShowMessage(owner_, QString::fromStdString(message), QStringLiteral("Information"),
                       MessageIcon::Error);
  if (observer_) observer_->ShowError(message);
}

void DesktopJobHost::SetLabel(const std::string& text) {
  if (progressWindow_) progressWindow_->Label()->setText(QString::fromStdString(text));
  if (observer_) observer_->SetLabel(text);
}

void DesktopJobHost::SetTotalPosition(int filesDone) {
  if (progressWindow_) progressWindow_->TotalBar()->setValue(filesDone);
  if (observer_) observer_->SetTotalPosition(filesDone);
}

void DesktopJobHost::SetCurrentPosition(int percent) {
  if (progressWindow_) {
    progressWindow_->CurrentBar()->setValue(percent);
    progressWindow_->CurrentBar()->repaint();
  }
  if (observer_) observer_->SetCurrentPosition(percent);
}

void DesktopJobHost::ProcessPaintEvents() {
  PumpPaintEvents();
  if (observer_) observer_->ProcessPaintEvents();
}

}  // namespace rzt2
