// FolderTreeDialog: the modal "Change folder" dialog. The user picks a folder
// from a ShellFolderTree of the given namespace. It cannot be told where to
// start: it opens on the first top-level item, expanded and selected. After
// exec() returned Accepted, selectedPath() is the file-system path of the item
// selected last; it is empty when that item has none (such as "Computer") or
// the tree is empty. OK does not look at the path.
//
// How the main window's "..." button beside the folder path box uses it:
//
//   FolderTreeDialog dialog(shell, this);
//   if (dialog.exec() != QDialog::Accepted) return;  // Cancel changes nothing
//   settings.SrcFolder = dialog.selectedPath();      // taken as it comes, even empty
//   QDir::setCurrent(QString::fromStdString(settings.SrcFolder));
//       // an empty path cannot become the current directory: it stays as it was
//   RefreshFileList();                   // rebuilt from the (maybe unchanged) directory
//   folderPathBox->setText(QString::fromStdString(settings.SrcFolder));
//       // emptied for an empty path; the box's own change handling finds nothing new
//   settings.SaveSettings();             // an empty SrcFolder is saved too
//
// The settings dialog's "..." button makes the path the destination folder.
#pragma once

#include <QDialog>
#include <string>

#include "ui/shell_namespace.h"

namespace rzt2 {

class FolderTreeDialog : public QDialog {
  Q_OBJECT

 public:
  explicit FolderTreeDialog(ShellNamespace& shell, QWidget* parent = nullptr);

  std::string selectedPath() const { return selectedPath_; }

 private:
  std::string selectedPath_;
};

}  // namespace rzt2
