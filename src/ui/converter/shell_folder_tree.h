// ShellFolderTree: the folders of a ShellNamespace as a tree. Siblings are
// sorted by the namespace's order. A folder that reports sub-folders is
// listed once, the first time it is expanded or selected; nothing is
// refreshed afterwards.
#pragma once

#include <QTreeWidget>
#include <string>
#include <vector>

#include "ui/converter/shell_namespace.h"

namespace rzt2 {

class ShellFolderTree final : public QTreeWidget {
  Q_OBJECT

 public:
  explicit ShellFolderTree(ShellNamespace& shell, QWidget* parent = nullptr);

  // Replaces all items by the sorted top level, then expands and selects
  // the first top-level item, which lists its sub-folders.
  void FillRoot();

  // Makes the folder at path current, expanding the folders above it: the
  // item whose path holds it most closely, looked for from the top level
  // down (and among the children of top-level items without a path, such
  // as "Computer"). Leaves the current item alone when none holds it.
  void revealPath(const std::string& path);

  // The file-system path of item; empty for none or for an item without one.
  static std::string pathOf(const QTreeWidgetItem* item);

  QSize sizeHint() const override;

 private:
  // Adds folders, sorted, under parent (the top level for none).
  void InsertFolderChildren(QTreeWidgetItem* parent, std::vector<ShellItem> folders);
  // Of item's children (the top level for none), the one whose path holds
  // path with the longest path; null for none.
  QTreeWidgetItem* closestHolder(QTreeWidgetItem* item, const std::string& path);
  // Lists a folder that reports sub-folders, the first time only.
  void listOnce(QTreeWidgetItem* item);
  // The namespace's normal icon, and its open icon while the item is selected.
  QIcon itemIcon(const ShellItem& folder);

  ShellNamespace& shell_;
};

}  // namespace rzt2
