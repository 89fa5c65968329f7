#include "ui/converter/file_list.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QHelpEvent>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace rzt2 {

namespace {
constexpr int kNameRole = Qt::UserRole;  // the name's bytes, exactly as listed
constexpr int kIconSize = 16;
// The list is as wide as this many average characters.
constexpr int kWidthChars = 34;
// Shows the whole name as a tooltip where the list cuts it short, and no
// tooltip where the name fits.
class CutNameTips final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override {
    if (event->type() != QEvent::ToolTip || !index.isValid()) {
      return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    QStyle* style = view->style();
    // The styles draw an item's text this far inside its text rectangle.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, &item, view) + 1;
    const int room = style->subElementRect(QStyle::SE_ItemViewItemText, &item, view).width() - 2 * margin;
    if (item.fontMetrics.horizontalAdvance(item.text) > room) {
      QToolTip::showText(event->globalPos(), item.text, view);
    } else {
      QToolTip::hideText();
    }
    return true;
  }
};

}  // namespace

FileList::FileList(QWidget* parent) : QTreeWidget(parent) {
  setItemDelegate(new CutNameTips(this));
  setColumnCount(1);
  setHeaderLabels({QStringLiteral("File")});
  // A small-icon view shows no column header.
  header()->hide();
  // The one column fills the list, and so does a selected row.
  header()->setStretchLastSection(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // A long name keeps its start and its extension.
  setTextElideMode(Qt::ElideMiddle);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSortingEnabled(false);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setIconSize(QSize(kIconSize, kIconSize));
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setFocusPolicy(Qt::StrongFocus);
}

QIcon FileList::iconFor(const std::string& name, bool folder) {
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

void FileList::fill(const FolderListing& listing) {
  setUpdatesEnabled(false);
  clear();
  QList<QTreeWidgetItem*> items;
  const auto add = [&](const std::string& name, bool folder) {
    auto* item = new QTreeWidgetItem(QStringList{QString::fromStdString(name)});
    item->setData(0, kNameRole, QByteArray::fromStdString(name));
    item->setIcon(0, iconFor(name, folder));
    items.append(item);
  };
  for (const std::string& name : listing.folders) add(name, true);
  for (const std::string& name : listing.files) add(name, false);
  addTopLevelItems(items);
  setUpdatesEnabled(true);
}

std::string FileList::itemName(int index) const {
  const QTreeWidgetItem* item = topLevelItem(index);
  return item ? item->data(0, kNameRole).toByteArray().toStdString() : std::string();
}

int FileList::focusedIndex() const {
  const QModelIndex current = currentIndex();
  return current.isValid() ? current.row() : -1;
}

std::vector<std::string> FileList::selectedNames() const {
  std::vector<std::string> names;
  for (int i = 0; i < count(); ++i) {
    if (topLevelItem(i)->isSelected()) names.push_back(itemName(i));
  }
  return names;
}

QSize FileList::sizeHint() const {
  return {fontMetrics().averageCharWidth() * kWidthChars, QTreeWidget::sizeHint().height()};
}

int FileList::indexOf(const std::string& name) const {
  for (int i = 0; i < count(); ++i) {
    if (itemName(i) == name) return i;
  }
  return -1;
}

void FileList::focusItem(int index, bool select) {
  setCurrentItem(topLevelItem(index), 0,
                 select ? QItemSelectionModel::ClearAndSelect : QItemSelectionModel::NoUpdate);
}

void FileList::focusInEvent(QFocusEvent* event) {
  QTreeWidget::focusInEvent(event);
  // Qt does this only the first time: a list tabbed into shows where its
  // focus is, whenever it has none, and the preview follows.
  if (!currentIndex().isValid() && count() > 0 && event->reason() != Qt::MouseFocusReason)
    focusItem(0, false);
}

void FileList::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeWidget::mouseDoubleClickEvent(event);
  emit openRequested();
}

}  // namespace rzt2
