#include "ui/converter/desktop_job_host.h"

#include <QMetaObject>
#include <QString>
#include <condition_variable>
#include <mutex>
#include <optional>
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

template <typename T, typename F>
T DesktopJobHost::waitForAnswer(F&& ask, T fallback) {
  struct Answer {
    std::mutex mutex;
    std::condition_variable_any given;
    std::optional<T> value;
  };
  const auto answer = std::make_shared<Answer>();
  onWindowThread([answer, ask = std::forward<F>(ask)] {
    T value = ask();
    std::lock_guard lock(answer->mutex);
    answer->value = value;
    answer->given.notify_all();
  });
  // Not a cancel: the job goes on only once the box is closed. But the box
  // is never shown when the window goes away first.
  std::unique_lock lock(answer->mutex);
  answer->given.wait(lock, abandoned_.get_token(), [&] { return answer->value.has_value(); });
  return answer->value.value_or(fallback);
}

void DesktopJobHost::ShowError(const JobFailure& failure) {
  const QString text = QString::fromStdString(failure.message);
  const QString cause = failure.status == Status::Ok ? QString() : QString::fromStdString(failure.Cause());
  waitForAnswer(
      [this, text, cause] {
        if (!prompts_.showJobError(progressWindow_.get(), text, cause, QStringLiteral("Error"))) cancel();
        return true;
      },
      false);
}

ReplaceAnswer DesktopJobHost::AskReplace(const Replacement& replacement) {
  const QString output = QString::fromStdString(replacement.output);
  const QString text =
      replacement.backup.empty()
          ? QStringLiteral(
                "%1 exists already, and so does %1.bak.\nReplace it? The earlier file will not be kept.")
                .arg(output)
          : QStringLiteral("%1 exists already.\nReplace it? The earlier file is kept as %2.")
                .arg(output, QString::fromStdString(replacement.backup));
  return waitForAnswer(
      [this, text] {
        if (replaceAll_) return ReplaceAnswer::Replace;
        switch (prompts_.askReplace(progressWindow_.get(), text)) {
          case ReplaceChoice::ReplaceAll:
            replaceAll_ = true;
            return ReplaceAnswer::Replace;
          case ReplaceChoice::Replace:
            return ReplaceAnswer::Replace;
          case ReplaceChoice::Skip:
            return ReplaceAnswer::Skip;
          case ReplaceChoice::Cancel:
            break;
        }
        cancel();
        return ReplaceAnswer::Cancel;
      },
      ReplaceAnswer::Cancel);
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
