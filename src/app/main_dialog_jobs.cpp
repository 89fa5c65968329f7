// "Create RZT2 files" and "&Export images": the selection is counted and
// confirmed, the job runs on this thread with the progress window, and
// the list is read again so that new files appear.
#include <QString>
#include <QTimer>

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

void MainDialog::onCreateButton() {
  const int files = CountSelectedFiles();
  if (files == 0) {
    prompts_->showMessage(this, QString::fromLatin1(kNoFilesSelected), QStringLiteral("Information"),
                          MessageIcon::Information);
    return;
  }
  const QString question = QString::asprintf(kConfirmConversion, files, "rzt2");
  if (!prompts_->askYesNo(this, question, QStringLiteral("Start to create maps"))) return;
  runDesktopJob(JobKind::Convert, 0);
  RefreshFileList();
  if (closeAfterJob_) close();
}

void MainDialog::onExportButton() {
  const int files = CountSelectedFiles();
  if (files == 0) {
    prompts_->showMessage(this, QString::fromLatin1(kNoFilesSelected), QStringLiteral("Information"),
                          MessageIcon::Information);
    return;
  }
  const std::optional<int> format = prompts_->askExportFormat(this, QString::asprintf(kConfirmExport, files));
  if (!format) return;
  runDesktopJob(JobKind::Export, *format);
  RefreshFileList();
  if (closeAfterJob_) close();
}

void MainDialog::runDesktopJob(JobKind kind, int exportFormat) {
  // No preview may load into the current picture while the job uses it.
  previewTimer_->stop();
  JobRequest request;
  request.kind = kind;
  request.names = fileList_->selectedNames();
  request.sourceFolder = sourceFolder_;
  request.params = settings_.Encoder();
  request.placement = OutputPlacement{settings_.DstFolderAsSame != 0, settings_.DstFolder};
  request.exportFormat = exportFormat;
  DesktopJobHost host(this, *prompts_);
  jobHost_ = &host;
  RunJob(request, loader_, host);
  jobHost_ = nullptr;
}

}  // namespace rzt2
