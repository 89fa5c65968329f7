// The desktop program's answer to a batch job: the progress window while
// the job runs, and a modal error box for each failed file. The job runs
// on the user-interface thread; between files and frames only repaints
// are let through, so clicks and keys wait until the job has ended.
#pragma once

#include <memory>

#include "jobs/job_host.h"
#include "ui/progress_dialog.h"

class QWidget;

namespace rzt2 {

class UserPrompts;

class DesktopJobHost final : public JobHost {
 public:
  // owner: the main window, over which the progress window and the error
  // boxes open.
  DesktopJobHost(QWidget* owner, UserPrompts& prompts);
  ~DesktopJobHost();
  DesktopJobHost(const DesktopJobHost&) = delete;
  DesktopJobHost& operator=(const DesktopJobHost&) = delete;

  void BeginJob(int fileCount) override;
  void EndJob() override;
  void ShowError(const std::string& message, Status cause) override;
  void SetLabel(const std::string& text) override;
  void SetTotalPosition(int filesDone) override;
  void SetCurrentPosition(int percent) override;
  void ProcessPaintEvents() override;

 private:
  QWidget* owner_;
  UserPrompts& prompts_;
  std::unique_ptr<ProgressDialog> progressWindow_;
};

}  // namespace rzt2
