// The file list and the folder path box: folder changes, the open action,
// and files and folders dropped on the window.
#include <unistd.h>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QTimer>
#include <filesystem>
#include <system_error>

#include "app/main_dialog.h"
#include "ui/common/user_prompts.h"
#include "ui/converter/file_list.h"
#include "ui/converter/file_listing.h"
#include "ui/converter/folder_tree_dialog.h"
#include "ui/converter/preview_pane.h"
#include "ui/converter/settings_dialog.h"

namespace rzt2 {

namespace fs = std::filesystem;

namespace {

bool isFolder(const std::string& path) {
  std::error_code error;
  return !path.empty() && fs::is_directory(path, error);
}

// The local files and folders among dropped items, as the system names them.
std::vector<std::string> localPaths(const QMimeData& data) {
  std::vector<std::string> paths;
  for (const QUrl& url : data.urls()) {
    if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
  }
  return paths;
}

}  // namespace

std::string MainDialog::resolve(const std::string& path) const { return ResolvePath(sourceFolder_, path); }

bool MainDialog::enterFolder(const std::string& path) {
  const std::string folder = resolve(path);
  // A folder without search permission cannot be entered, as a current
  // directory could not be; its files could not be read either.
  if (!isFolder(folder) || ::access(folder.c_str(), X_OK) != 0) return false;
  // The real path, as the system reports a current directory: ".." and
  // links are resolved.
  std::error_code error;
  const fs::path canonical = fs::canonical(folder, error);
  if (error) return false;
  sourceFolder_ = canonical.string();
  return true;
}

void MainDialog::RefreshFileList() {
  refreshing_ = true;
  fileList_->fill(sourceFolder_.empty() ? FolderListing{} : listFolder(sourceFolder_));
  refreshing_ = false;
  ResetPreview();
}

void MainDialog::changeFolder(const std::string& folder) {
  settings_.SrcFolder = folder;
  enterFolder(folder);
  RefreshFileList();
  pathBox_->setText(QString::fromStdString(settings_.SrcFolder));
  settings_.SaveSettings();
}

void MainDialog::stepIntoFolder(const std::string& relative) {
  // A folder that cannot be entered leaves the one shown, which is stored.
  enterFolder(relative);
  if (!sourceFolder_.empty()) settings_.SrcFolder = sourceFolder_;
  RefreshFileList();
  pathBox_->setText(QString::fromStdString(settings_.SrcFolder));
  settings_.SaveSettings();
}

void MainDialog::goToParentFolder() { stepIntoFolder(".."); }

void MainDialog::onBrowseButton() {
  FolderTreeDialog dialog(*shell_, sourceFolder_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  // An item without a path (the computer) gives an empty folder; it is
  // stored as such, and the list stays where it was.
  changeFolder(dialog.selectedPath());
}

void MainDialog::onSettingsButton() {
  // The dialog saves the settings itself when it closes with OK; the next
  // load or job reads them from the record.
  SettingsDialog dialog(settings_, *shell_, *prompts_, this);
  // The picture as a map shows what the new settings make of it.
  if (dialog.exec() == QDialog::Accepted && asMap_ && (previewPane_->hasPicture() || awaitingPreview_)) {
    BuildPreviewBitmap();
  }
}

void MainDialog::dragEnterEvent(QDragEnterEvent* event) {
  if (jobHost_ || localPaths(*event->mimeData()).empty()) return;
  // Never a move, after which a file manager would delete the sources.
  event->setDropAction(Qt::CopyAction);
  event->accept();
}

void MainDialog::dropEvent(QDropEvent* event) {
  std::vector<std::string> files;
  std::vector<std::string> folders;
  for (std::string& path : localPaths(*event->mimeData())) {
    (isFolder(path) ? folders : files).push_back(std::move(path));
  }
  if (jobHost_ || (files.empty() && folders.empty())) return;
  event->setDropAction(Qt::CopyAction);
  event->accept();
  // The file manager waits until the drop is over: the question comes after.
  QTimer::singleShot(0, this, [this, files, folder = folders.empty() ? std::string() : folders.front()] {
    if (!files.empty()) {
      convertFiles(files);
    } else {
      changeFolder(folder);
    }
  });
}

void MainDialog::OpenFocusedItem() {
  const int focused = fileList_->focusedIndex();
  const std::string name = focused >= 0 ? fileList_->itemName(focused) : std::string();
  if (isFolder(resolve(name))) {
    stepIntoFolder(name);
  } else if (!fileList_->selectedNames().empty()) {
    onCreateButton();
  }
}

int MainDialog::CountSelectedFiles() const {
  return CountJobFiles(sourceFolder_, fileList_->selectedNames());
}

void MainDialog::onPathTextChanged(const QString& text) {
  // Every folder met while typing is entered at once, but only saved when
  // the box is left.
  const std::string folder = text.toStdString();
  if (folder == settings_.SrcFolder || !isFolder(resolve(folder))) return;
  settings_.SrcFolder = folder;
  enterFolder(folder);
  RefreshFileList();
}

void MainDialog::onPathFocusLost() {
  const std::string folder = pathBox_->text().toStdString();
  if (!isFolder(resolve(folder))) {
    prompts_->showMessage(this, QStringLiteral("Invalid folder name"), QStringLiteral("Error"),
                          MessageIcon::Error, {});
    pathBox_->setText(QString::fromStdString(settings_.SrcFolder));
    return;
  }
  if (folder == settings_.SrcFolder) return;
  settings_.SrcFolder = folder;
  enterFolder(folder);
  RefreshFileList();
  settings_.SaveSettings();
}

}  // namespace rzt2
