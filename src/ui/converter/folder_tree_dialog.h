// FolderTreeDialog: the modal "Change folder" dialog. The user picks a folder
// from a ShellFolderTree of the given namespace. It opens on the folder it
// is given (or the closest one above it that the tree shows), else on the
// first top-level item, expanded and selected, with the focus in the tree.
// After exec() returned Accepted, selectedPath() is the file-system path of
// the item selected last; it is empty when that item has none (such as
// "Computer") or the tree is empty. OK does not look at the path.
//
// The main window's "..." button beside the folder path box makes the path
// the source folder, taken as it comes: an empty path is stored as such,
// and the list stays on the folder it showed.
// The settings dialog's "..." button makes the path the destination folder.
#pragma once

#include <QDialog>
#include <string>

#include "ui/converter/shell_namespace.h"

namespace rzt2 {

class FolderTreeDialog final : public QDialog {
  Q_OBJECT

 public:
  // start: the folder to open on; empty for the first top-level item.
  FolderTreeDialog(ShellNamespace& shell, const std::string& start, QWidget* parent = nullptr);

  std::string selectedPath() const { return selectedPath_; }

 private:
  std::string selectedPath_;
};

}  // namespace rzt2
