#include "ui/converter/desktop_job_host.h"

#include <QMetaObject>
#include <QString>
#include <condition_variable>
#include <mutex>
#include <string_view>

#include "jobs/job_texts.h"
#include "ui/common/user_prompts.h"

namespace rzt2 {

namespace {

// Loading a picture and saving an export give no percentage.
bool isUnmeasuredStep(const std::string& label) {
  for (const std::string_view format : {kLabelLoading, kLabelSaving}) {
    // The texts put the file's name first.
    if (label.ends_with(format.substr(format.find("%s") + 2))) return true;
  }
  return false;
}

}  // namespace

DesktopJobHost::DesktopJobHost(QWidget* owner, UserPrompts& prompts, int fileCount)
    : prompts_(prompts), progressWindow_(std::make_unique<ProgressDialog>(owner)) {
  connect(progressWindow_.get(), &ProgressDialog::cancelRequested, this, &DesktopJobHost::cancel);
  progressWindow_->setFileCount(fileCount);
  progressWindow_->show();
}

DesktopJobHost::~DesktopJobHost() = default;

void DesktopJobHost::abandon() {
  cancel();
  abandoned_.request_stop();
}

template <typename F>
void DesktopJobHost::onWindowThread(F&& call) {
  QMetaObject::invokeMethod(this, std::forward<F>(call), Qt::QueuedConnection);
}

void DesktopJobHost::BeginJob(int fileCount) {
  onWindowThread([this, fileCount] { progressWindow_->setFileCount(fileCount); });
}

void DesktopJobHost::ShowError(const JobFailure& failure) {
  // The message box shows the fixed message only, as it always has.
  struct Answer {
    std::mutex mutex;
    std::condition_variable_any given;
    bool done = false;
  };
  const auto answer = std::make_shared<Answer>();
  onWindowThread([this, answer, text = QString::fromStdString(failure.message)] {
    if (!prompts_.showJobError(progressWindow_.get(), text, QStringLiteral("Information"))) cancel();
    std::lock_guard lock(answer->mutex);
    answer->done = true;
    answer->given.notify_all();
  });
  // Not a cancel: the job ends only once the box is closed. But the box is
  // never shown when the window goes away first.
  std::unique_lock lock(answer->mutex);
  answer->given.wait(lock, abandoned_.get_token(), [&] { return answer->done; });
}

void DesktopJobHost::SetLabel(const std::string& text) {
  onWindowThread([this, text = QString::fromStdString(text), busy = isUnmeasuredStep(text)] {
    progressWindow_->setStepText(text);
    progressWindow_->setCurrentBusy(busy);
  });
}

void DesktopJobHost::SetTotalPosition(int filesDone) {
  onWindowThread([this, filesDone] { progressWindow_->setFilesDone(filesDone); });
}

void DesktopJobHost::SetCurrentPosition(int percent) {
  onWindowThread([this, percent] { progressWindow_->setCurrentPercent(percent); });
}

}  // namespace rzt2
