#include "ui/converter/shell_folder_tree.h"

#include <QHeaderView>
#include <QStyle>
#include <algorithm>
#include <utility>

namespace rzt2 {

namespace {

// The tree's preferred size in average characters and lines of its font.
constexpr int kWidthChars = 48;
constexpr int kHeightLines = 22;

// A tree item with the namespace's record of its folder.
class FolderItem : public QTreeWidgetItem {
 public:
  static constexpr int kType = QTreeWidgetItem::UserType + 1;

  FolderItem(ShellItem folder, const QIcon& icon) : QTreeWidgetItem(kType), folder_(std::move(folder)) {
    setText(0, folder_.displayName);
    setIcon(0, icon);
    if (!folder_.path.empty()) setToolTip(0, QString::fromStdString(folder_.path));
    // The expand button promises sub-folders before they are listed.
    setChildIndicatorPolicy(folder_.hasSubFolders ? ShowIndicator : DontShowIndicator);
  }

  const ShellItem& folder() const { return folder_; }
  // True only the first time: the caller lists the folder then.
  bool markListed() { return !std::exchange(listed_, true); }

 private:
  ShellItem folder_;
  bool listed_ = false;
};

FolderItem* asFolderItem(QTreeWidgetItem* item) {
  return item != nullptr && item->type() == FolderItem::kType ? static_cast<FolderItem*>(item) : nullptr;
}

const FolderItem* asFolderItem(const QTreeWidgetItem* item) {
  return item != nullptr && item->type() == FolderItem::kType ? static_cast<const FolderItem*>(item)
                                                              : nullptr;
}

// Whether folder is path or one of the folders above it.
bool holds(const std::string& folder, const std::string& path) {
  if (folder.empty() || !path.starts_with(folder)) return false;
  return path.size() == folder.size() || folder.back() == '/' || path[folder.size()] == '/';
}

}  // namespace

ShellFolderTree::ShellFolderTree(ShellNamespace& shell, QWidget* parent)
    : QTreeWidget(parent), shell_(shell) {
  setColumnCount(1);
  setHeaderHidden(true);
  setRootIsDecorated(true);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  const int iconSize = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
  setIconSize(QSize(iconSize, iconSize));
  // Long names scroll sideways instead of being cut off.
  header()->setStretchLastSection(false);
  header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  // Whichever comes first, expansion or selection, lists the folder.
  connect(this, &QTreeWidget::itemExpanded, this, &ShellFolderTree::listOnce);
  connect(this, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current) { listOnce(current); });
}

void ShellFolderTree::FillRoot() {
  clear();
  InsertFolderChildren(nullptr, shell_.topLevel());
  if (QTreeWidgetItem* first = topLevelItem(0)) {
    expandItem(first);
    setCurrentItem(first);
  }
}

QSize ShellFolderTree::sizeHint() const {
  return {fontMetrics().averageCharWidth() * kWidthChars, fontMetrics().height() * kHeightLines};
}

QTreeWidgetItem* ShellFolderTree::closestHolder(QTreeWidgetItem* item, const std::string& path) {
  if (item != nullptr) listOnce(item);
  QTreeWidgetItem* closest = nullptr;
  const int count = item != nullptr ? item->childCount() : topLevelItemCount();
  for (int i = 0; i < count; ++i) {
    QTreeWidgetItem* child = item != nullptr ? item->child(i) : topLevelItem(i);
    const std::string& folder = pathOf(child);
    if (holds(folder, path) && (closest == nullptr || folder.size() > pathOf(closest).size()))
      closest = child;
  }
  return closest;
}

void ShellFolderTree::revealPath(const std::string& path) {
  QTreeWidgetItem* found = closestHolder(nullptr, path);
  // Folders such as "Computer" have none of their own: their children may.
  for (int i = 0; i < topLevelItemCount(); ++i) {
    QTreeWidgetItem* top = topLevelItem(i);
    if (!pathOf(top).empty()) continue;
    QTreeWidgetItem* inside = closestHolder(top, path);
    if (inside != nullptr && (found == nullptr || pathOf(inside).size() > pathOf(found).size()))
      found = inside;
  }
  if (found == nullptr) return;
  while (pathOf(found) != path) {
    QTreeWidgetItem* next = closestHolder(found, path);
    if (next == nullptr) break;
    found = next;
  }
  for (QTreeWidgetItem* above = found->parent(); above != nullptr; above = above->parent()) expandItem(above);
  setCurrentItem(found);
  scrollToItem(found);
}

std::string ShellFolderTree::pathOf(const QTreeWidgetItem* item) {
  const FolderItem* folder = asFolderItem(item);
  return folder != nullptr ? folder->folder().path : std::string();
}

void ShellFolderTree::InsertFolderChildren(QTreeWidgetItem* parent, std::vector<ShellItem> folders) {
  std::stable_sort(folders.begin(), folders.end(),
                   [this](const ShellItem& a, const ShellItem& b) { return shell_.before(a, b); });
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<qsizetype>(folders.size()));
  for (ShellItem& folder : folders) {
    const QIcon icon = itemIcon(folder);
    items.append(new FolderItem(std::move(folder), icon));
  }
  if (parent != nullptr) {
    parent->addChildren(items);
  } else {
    addTopLevelItems(items);
  }
}

void ShellFolderTree::listOnce(QTreeWidgetItem* item) {
  FolderItem* folder = asFolderItem(item);
  // A folder without sub-folders has nothing to list (and no expand button).
  if (folder == nullptr || !folder->folder().hasSubFolders || !folder->markListed()) return;
  InsertFolderChildren(folder, shell_.subFolders(folder->folder()));
  // A folder that promised sub-folders but had none loses its button.
  folder->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

QIcon ShellFolderTree::itemIcon(const ShellItem& folder) {
  const QSize size = iconSize();
  QIcon icon;
  icon.addPixmap(shell_.icon(folder, IconKind::Normal).pixmap(size), QIcon::Normal);
  icon.addPixmap(shell_.icon(folder, IconKind::Open).pixmap(size), QIcon::Selected);
  return icon;
}

}  // namespace rzt2
