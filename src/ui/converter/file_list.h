// The main window's file list: one column "File" of bare names, folders
// first, with small icons and multiple selection. The current item is the
// focused one, which the preview and the open action act on; tabbing into
// a list without one makes the first item current. A name too long for
// the list loses its middle, and shows whole in a tooltip.
#pragma once

#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <QTreeWidget>
#include <string>
#include <vector>

#include "ui/converter/file_listing.h"

namespace rzt2 {

class FileList final : public QTreeWidget {
  Q_OBJECT

 public:
  explicit FileList(QWidget* parent = nullptr);

  // Replaces all items: the folders, then the files.
  void fill(const FolderListing& listing);

  int count() const { return topLevelItemCount(); }
  std::string itemName(int index) const;
  // The focused item's index, -1 when none has the focus.
  int focusedIndex() const;
  // The index of the item of that name, -1 when there is none.
  int indexOf(const std::string& name) const;
  // Gives the item the focus, and selects it alone when select is true.
  void focusItem(int index, bool select);
  // The names of the selected items, in list order.
  std::vector<std::string> selectedNames() const;

  QSize sizeHint() const override;

 signals:
  // A double-click anywhere in the list.
  void openRequested();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  QIcon iconFor(const std::string& name, bool folder);

  QFileIconProvider iconProvider_;
  QHash<QString, QIcon> iconCache_;  // by lower-case extension
};

}  // namespace rzt2
