// The desktop program's side of a batch job that runs on another thread:
// the progress window, shown at once, an error box for each failed file,
// with the failure's cause beneath its message, and a question before an
// export replaces a file. The JobHost calls come from the job's thread and
// are carried to the window's thread in order; ShowError and AskReplace
// wait for the user's answer. "Cancel" on the progress window (or Escape,
// or its close box), Cancel in an error box or the question, and cancel()
// all stop the job through the stop token that its request carries.
#pragma once

#include <QObject>
#include <memory>
#include <stop_token>

#include "jobs/job_host.h"
#include "ui/converter/progress_dialog.h"

class QWidget;

namespace rzt2 {

class UserPrompts;

class DesktopJobHost final : public QObject, public JobHost {
  Q_OBJECT

 public:
  // On the window's thread. owner: the main window, over which the progress
  // window opens, modal, expecting fileCount files; error boxes open over
  // the progress window.
  DesktopJobHost(QWidget* owner, UserPrompts& prompts, int fileCount);
  // Closes the progress window. The job must have ended.
  ~DesktopJobHost() override;
  DesktopJobHost(const DesktopJobHost&) = delete;
  DesktopJobHost& operator=(const DesktopJobHost&) = delete;

  std::stop_token stopToken() const { return stop_.get_token(); }
  // From any thread.
  void cancel() { stop_.request_stop(); }
  // The main window goes away and its thread answers no more: stops the job,
  // and a wait for an error box's answer with it.
  void abandon();

  // From the job's thread.
  void BeginJob(int fileCount) override;
  // The window closes when the main window has learnt that the job ended.
  void EndJob() override {}
  void ShowError(const JobFailure& failure) override;
  void SetLabel(const std::string& text) override;
  void SetTotalPosition(int filesDone) override;
  void SetCurrentPosition(int percent) override;
  // "Replace all" answers the rest of the job's questions.
  ReplaceAnswer AskReplace(const Replacement& replacement) override;

 private:
  // Runs call on the window's thread, after the calls posted before it;
  // dropped when the host is gone by then.
  template <typename F>
  void onWindowThread(F&& call);
  // Runs ask on the window's thread and waits for it, unless the window
  // goes away first; then the result is fallback.
  template <typename T, typename F>
  T waitForAnswer(F&& ask, T fallback);

  UserPrompts& prompts_;
  std::unique_ptr<ProgressDialog> progressWindow_;
  std::stop_source stop_;
  std::stop_source abandoned_;
  bool replaceAll_ = false;  // on the window's thread
};

}  // namespace rzt2
