// The main window's file list: one column "File" of bare names, folders
// first, with small icons and multiple selection. The current item is the
// focused one, which the preview and the open action act on.
#pragma once

#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <QTreeWidget>
#include <string>
#include <vector>

#include "ui/file_listing.h"

namespace rzt2 {

class FileList final : public QTreeWidget {
  Q_OBJECT

 public:
  explicit FileList(QWidget* parent = nullptr);

  // Replaces all items: the folders, then the files.
  void Fill(const FolderListing& listing);

  int Count() const { return topLevelItemCount(); }
  std::string ItemName(int index) const;
  bool IsItemSelected(int index) const;
  // The focused item's index, -1 when none has the focus.
  int FocusedIndex() const;
  void SetFocusedIndex(int index);
  // The names of the selected items, in list order.
  std::vector<std::string> SelectedNames() const;

 signals:
  // A double-click anywhere in the list.
  void openRequested();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QIcon IconFor(const std::string& name, bool folder);

  QFileIconProvider iconProvider_;
  QHash<QString, QIcon> iconCache_;  // by lower-case extension
  bool columnFitted_ = false;
};

}  // namespace rzt2
