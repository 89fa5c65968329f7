// The file list and the folder path box: folder changes, the open action.
#include <unistd.h>

#include <QLineEdit>
#include <filesystem>
#include <system_error>

#include "app/main_dialog.h"
#include "ui/file_list.h"
#include "ui/file_listing.h"
#include "ui/folder_tree_dialog.h"
#include "ui/settings_dialog.h"
#include "ui/user_prompts.h"

namespace rzt2 {

namespace fs = std::filesystem;

namespace {

bool isFolder(const std::string& path) {
  std::error_code error;
  return !path.empty() && fs::is_directory(path, error);
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
  loader_.SetFolder(sourceFolder_);
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
  FolderTreeDialog dialog(*shell_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  // An item without a path (the computer) gives an empty folder; it is
  // stored as such, and the list stays where it was.
  changeFolder(dialog.selectedPath());
}

void MainDialog::onSettingsButton() {
  // The dialog saves the settings itself when it closes with OK; the next
  // load or job reads them from the record.
  SettingsDialog dialog(settings_, *shell_, *prompts_, this);
  dialog.exec();
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
                          MessageIcon::Error);
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
