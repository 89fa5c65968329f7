#include "ui/file_list.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QSignalBlocker>

namespace rzt2 {

namespace {
constexpr int kNameRole = Qt::UserRole;  // the name's bytes, exactly as listed
constexpr int kIconSize = 16;
}  // namespace

FileList::FileList(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(1);
  setHeaderLabels({QStringLiteral("File")});
  // A small-icon view shows no column header.
  header()->hide();
  header()->setStretchLastSection(false);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSortingEnabled(false);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setIconSize(QSize(kIconSize, kIconSize));
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setFocusPolicy(Qt::StrongFocus);
}

QIcon FileList::IconFor(const std::string& name, bool folder) {
  if (folder) return iconProvider_.icon(QFileIconProvider::Folder);
  const QString file = QString::fromStdString(name);
  const QString extension = QFileInfo(file).suffix().toLower();
  auto cached = iconCache_.constFind(extension);
  if (cached != iconCache_.constEnd()) return *cached;
  QIcon icon = iconProvider_.icon(QFileInfo(file));
  if (icon.isNull()) icon = iconProvider_.icon(QFileIconProvider::File);
  iconCache_.insert(extension, icon);
  return icon;
}

void FileList::Fill(const FolderListing& listing) {
  setUpdatesEnabled(false);
  clear();
  QList<QTreeWidgetItem*> items;
  const auto add = [&](const std::string& name, bool folder) {
    auto* item = new QTreeWidgetItem(QStringList{QString::fromStdString(name)});
    item->setData(0, kNameRole, QByteArray::fromStdString(name));
    item->setIcon(0, IconFor(name, folder));
    items.append(item);
  };
  for (const std::string& name : listing.folders) add(name, true);
  for (const std::string& name : listing.files) add(name, false);
  addTopLevelItems(items);
  setUpdatesEnabled(true);
}

std::string FileList::ItemName(int index) const {
  const QTreeWidgetItem* item = topLevelItem(index);
  return item ? item->data(0, kNameRole).toByteArray().toStdString() : std::string();
}

bool FileList::IsItemSelected(int index) const {
  const QTreeWidgetItem* item = topLevelItem(index);
  return item && item->isSelected();
}

int FileList::FocusedIndex() const {
  const QModelIndex current = currentIndex();
  return current.isValid() ? current.row() : -1;
}

void FileList::SetFocusedIndex(int index) {
  setCurrentItem(topLevelItem(index), 0, QItemSelectionModel::NoUpdate);
}

std::vector<std::string> FileList::SelectedNames() const {
  std::vector<std::string> names;
  for (int i = 0; i < Count(); ++i) {
    if (IsItemSelected(i)) names.push_back(ItemName(i));
  }
  return names;
}

void FileList::showEvent(QShowEvent* event) {
  QTreeWidget::showEvent(event);
  // Once, when the client area has its real width.
  if (columnFitted_) return;
  columnFitted_ = true;
  setColumnWidth(0, viewport()->width() - 18);
}

void FileList::focusInEvent(QFocusEvent* event) {
  // Qt makes the first item current when a list without one gains the
  // focus; here no item has the focus until the user moves it there.
  const bool hadCurrent = currentIndex().isValid();
  const QSignalBlocker quiet(selectionModel());
  QTreeWidget::focusInEvent(event);
  if (!hadCurrent) selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
}

void FileList::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeWidget::mouseDoubleClickEvent(event);
  emit openRequested();
}

}  // namespace rzt2
