// The file list and the folder path box: folder changes, the open action.
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

bool NamesFolder(const std::string& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

void EnterFolder(const std::string& path) {
  // A folder that cannot be entered leaves the current one; callers read
  // the current directory back or list it, so that is what the user sees.
  std::error_code error;
  fs::current_path(path, error);
}

}  // namespace

void MainDialog::RefreshFileList() {
  std::error_code error;
  const fs::path here = fs::current_path(error);
  refreshing_ = true;
  fileList_->Fill(error ? FolderListing{} : ListFolder(here));
  refreshing_ = false;
  ResetPreview();
}

void MainDialog::ChangeFolder(const std::string& folder) {
  settings_.SrcFolder = folder;
  EnterFolder(folder);
  RefreshFileList();
  pathBox_->setText(QString::fromStdString(settings_.SrcFolder));
  settings_.SaveSettings();
}

void MainDialog::StepIntoFolder(const std::string& relative) {
  EnterFolder(relative);
  std::error_code error;
  const fs::path here = fs::current_path(error);
  if (!error) settings_.SrcFolder = here.string();
  RefreshFileList();
  pathBox_->setText(QString::fromStdString(settings_.SrcFolder));
  settings_.SaveSettings();
}

void MainDialog::GoToParentFolder() { StepIntoFolder(".."); }

void MainDialog::OnBrowseButton() {
  FolderTreeDialog dialog(*shell_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  // An item without a path (the computer) gives an empty folder; it is
  // stored as such, and the current directory cannot follow it.
  ChangeFolder(dialog.selectedPath());
}

void MainDialog::OnSettingsButton() {
  // The dialog saves the settings itself when it closes with OK; the next
  // load or job reads them from the record.
  SettingsDialog dialog(settings_, *shell_, this);
  dialog.exec();
}

void MainDialog::OpenFocusedItem() {
  const int focused = fileList_->FocusedIndex();
  const std::string name = focused >= 0 ? fileList_->ItemName(focused) : std::string();
  if (!name.empty() && NamesFolder(name)) {
    StepIntoFolder(name);
  } else if (!fileList_->SelectedNames().empty()) {
    OnCreateButton();
  }
}

int MainDialog::CountSelectedFiles() const { return CountJobFiles({}, fileList_->SelectedNames()); }

void MainDialog::OnPathTextChanged(const QString& text) {
  // Every folder met while typing is entered at once, but only saved when
  // the box is left.
  const std::string folder = text.toStdString();
  if (!NamesFolder(folder) || folder == settings_.SrcFolder) return;
  settings_.SrcFolder = folder;
  EnterFolder(folder);
  RefreshFileList();
}

void MainDialog::OnPathFocusLost() {
  const std::string folder = pathBox_->text().toStdString();
  if (!NamesFolder(folder)) {
    prompts_->ShowMessage(this, QStringLiteral("Invalid folder name"), QStringLiteral("Error"),
                          MessageIcon::Error);
    pathBox_->setText(QString::fromStdString(settings_.SrcFolder));
    return;
  }
  if (folder == settings_.SrcFolder) return;
  settings_.SrcFolder = folder;
  EnterFolder(folder);
  RefreshFileList();
  settings_.SaveSettings();
}

}  // namespace rzt2
