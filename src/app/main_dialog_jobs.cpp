// "Create RZT2 files" and "&Export images": the selection is counted and
// confirmed, the job runs on this thread with the progress window, and
// the list is read again so that new files appear.
#include <QString>

#include "app/main_dialog.h"
#include "ui/desktop_job_host.h"
#include "ui/file_list.h"
#include "ui/user_prompts.h"

namespace rzt2 {

namespace {

constexpr char kNoFilesSelected[] = "No files selected.\nPlease select at least one file!";
constexpr char kConfirmConversion[] =
    "Would you like to convert %d file(s) into %s format?\nIt can take several time!";
constexpr char kConfirmExport[] =
    "Would you like to convert %d file(s) into selected format?\nIt can take several time!";

}  // namespace

ProgressDialog* MainDialog::ProgressWindow() const { return jobHost_ ? jobHost_->ProgressWindow() : nullptr; }

void MainDialog::OnCreateButton() {
  const int files = CountSelectedFiles();
  if (files == 0) {
    prompts_->ShowMessage(this, QString::fromLatin1(kNoFilesSelected), QStringLiteral("Information"),
                          MessageIcon::Information);
    return;
  }
  const QString question = QString::asprintf(kConfirmConversion, files, "rzt2");
  if (!prompts_->AskYesNo(this, question, QStringLiteral("Start to create maps"))) return;
  RunDesktopJob(JobKind::Convert, 0);
  RefreshFileList();
  if (closeAfterJob_) close();
}

void MainDialog::OnExportButton() {
  const int files = CountSelectedFiles();
  if (files == 0) {
    prompts_->ShowMessage(this, QString::fromLatin1(kNoFilesSelected), QStringLiteral("Information"),
                          MessageIcon::Information);
    return;
  }
  const std::optional<int> format = prompts_->AskExportFormat(this, QString::asprintf(kConfirmExport, files));
  if (!format) return;
  RunDesktopJob(JobKind::Export, *format);
  RefreshFileList();
  if (closeAfterJob_) close();
}

void MainDialog::RunDesktopJob(JobKind kind, int exportFormat) {
  // No preview may load into the current picture while the job uses it.
  previewTimer_.stop();
  JobRequest request;
  request.kind = kind;
  request.names = fileList_->SelectedNames();
  request.params = settings_.Encoder();
  request.placement = OutputPlacement{settings_.DstFolderAsSame != 0, settings_.DstFolder};
  request.exportFormat = exportFormat;
  DesktopJobHost host(this, *prompts_, jobObserver_);
  jobHost_ = &host;
  RunJob(request, loader_, host);
  jobHost_ = nullptr;
}

}  // namespace rzt2
