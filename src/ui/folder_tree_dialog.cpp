#include "ui/folder_tree_dialog.h"

#include <QPushButton>
#include <QString>

#include "ui/dialog_units.h"
#include "ui/shell_folder_tree.h"

namespace rzt2 {

FolderTreeDialog::FolderTreeDialog(ShellNamespace& shell, QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Change folder"));
  const DialogUnits units(font());
  setFixedSize(units.Size(208, 210));

  // Created in tab order.
  auto* ok = new QPushButton(tr("OK"), this);
  ok->setObjectName(QStringLiteral("okButton"));
  ok->setGeometry(units.Rect(95, 189, 50, 14));
  ok->setDefault(true);
  auto* cancel = new QPushButton(tr("Cancel"), this);
  cancel->setObjectName(QStringLiteral("cancelButton"));
  cancel->setGeometry(units.Rect(151, 189, 50, 14));
  auto* tree = new ShellFolderTree(shell, this);
  tree->setObjectName(QStringLiteral("folderTree"));
  tree->setGeometry(units.Rect(7, 7, 194, 177));

  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(tree, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current) { selectedPath_ = ShellFolderTree::PathOf(current); });
  tree->FillRoot();
}

}  // namespace rzt2
