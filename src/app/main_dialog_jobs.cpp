// "Create RZT2 files", "&Export images" and files dropped on the window:
// the files are counted and the job confirmed, the job runs on the worker
// with the progress window, and when it has ended the list is read again
// so that new files appear.
#include <QMetaObject>
#include <QPushButton>
#include <QSettings>
#include <QString>
#include <QTimer>
#include <QToolButton>

#include "app/main_dialog.h"
#include "jobs/file_jobs.h"
#include "ui/common/user_prompts.h"
#include "ui/converter/desktop_job_host.h"
#include "ui/converter/file_list.h"

namespace rzt2 {

namespace {

constexpr char kNoFilesSelected[] = "No files selected.\nPlease select at least one file!";
constexpr char kConfirmConversion[] =
    "Would you like to convert %d file(s) into %s format?\nIt can take several time!";
constexpr char kConfirmExport[] =
    "Would you like to convert %d file(s) into selected format?\nIt can take several time!";
// In the window's own group of the settings' store.
constexpr char kExportFormatKey[] = "MainWindow/exportFormat";

}  // namespace

void MainDialog::onCreateButton() { convertFiles(fileList_->selectedNames()); }

void MainDialog::convertFiles(const std::vector<std::string>& names) {
  // The list's open action reaches here too.
  if (jobHost_) return;
  const int files = CountJobFiles(sourceFolder_, names);
  if (files == 0) {
    prompts_->showMessage(this, QString::fromLatin1(kNoFilesSelected), QStringLiteral("Information"),
                          MessageIcon::Information, {});
    return;
  }
  const QString question = QString::asprintf(kConfirmConversion, files, "rzt2");
  if (!prompts_->askYesNo(this, question, QStringLiteral("Start to create maps"))) return;
  runDesktopJob(JobKind::Convert, 0, names, files);
}

void MainDialog::onExportButton() {
  const int files = CountSelectedFiles();
  if (files == 0) {
    prompts_->showMessage(this, QString::fromLatin1(kNoFilesSelected), QStringLiteral("Information"),
                          MessageIcon::Information, {});
    return;
  }
  // The format chosen last is offered again.
  QSettings store(QString::fromStdString(settings_.StoreFileName()), QSettings::NativeFormat);
  const int last = store.value(QLatin1String(kExportFormatKey)).toInt();
  const std::optional<int> format = prompts_->askExportFormat(this, QString::asprintf(kConfirmExport, files),
                                                              FrameFormat(last) != nullptr ? last : 0);
  if (!format) return;
  store.setValue(QLatin1String(kExportFormatKey), *format);
  runDesktopJob(JobKind::Export, *format, fileList_->selectedNames(), files);
}

void MainDialog::runDesktopJob(JobKind kind, int exportFormat, std::vector<std::string> names,
                               int fileCount) {
  // No preview may load into the current picture while the job uses it;
  // one being loaded is finished first, as the worker does one thing at a time.
  previewTimer_->stop();
  dropPreviewRequests();
  JobRequest request;
  request.kind = kind;
  request.names = std::move(names);
  request.sourceFolder = sourceFolder_;
  request.params = settings_.Encoder();
  request.dpi = static_cast<uint32_t>(settings_.DrawingDpi);
  request.allPages = settings_.AllPages != 0;
  request.maxPages = static_cast<uint32_t>(settings_.MaxPages);
  request.placement = OutputPlacement{settings_.DstFolderAsSame != 0, settings_.DstFolder};
  request.exportFormat = exportFormat;
  jobHost_ = std::make_unique<DesktopJobHost>(this, *prompts_, fileCount);
  request.stop = jobHost_->stopToken();
  setButtonsEnabled(false);
  updateBusyCursor();
  worker_.post([this, request = std::move(request), host = jobHost_.get()](SourceLoader& loader) {
    // A destination folder that does not exist is made now, as the
    // settings dialog says; one that cannot be made ends the job.
    if (MakeOutputFolder(request, *host) == Status::Ok) RunJob(request, loader, *host, &pool_);
    // After every call the job made on the host, which are queued before.
    QMetaObject::invokeMethod(this, &MainDialog::finishJob, Qt::QueuedConnection);
  });
}

void MainDialog::setButtonsEnabled(bool enabled) {
  const std::initializer_list<QAbstractButton*> buttons = {createButton_, settingsButton_, exportButton_,
                                                           browseButton_};
  for (QAbstractButton* button : buttons) button->setEnabled(enabled);
}

void MainDialog::finishJob() {
  jobHost_.reset();
  setButtonsEnabled(true);
  RefreshFileList();
  updateBusyCursor();
  if (closeAfterJob_) close();
}

}  // namespace rzt2
