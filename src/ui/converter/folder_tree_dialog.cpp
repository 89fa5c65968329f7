#include "ui/converter/folder_tree_dialog.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QString>
#include <QVBoxLayout>

#include "ui/converter/shell_folder_tree.h"

namespace rzt2 {

FolderTreeDialog::FolderTreeDialog(ShellNamespace& shell, const std::string& start, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(tr("Change folder"));

  auto* ok = new QPushButton(tr("OK"), this);
  ok->setObjectName(QStringLiteral("okButton"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(tr("Cancel"), this);
  cancel->setObjectName(QStringLiteral("cancelButton"));
  auto* tree = new ShellFolderTree(shell, this);
  tree->setObjectName(QStringLiteral("folderTree"));

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tree);
  layout->addLayout(buttons);
  // The tree first: the arrow keys move in it at once.
  QWidget::setTabOrder(tree, ok);
  QWidget::setTabOrder(ok, cancel);

  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(tree, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current) { selectedPath_ = ShellFolderTree::pathOf(current); });
  tree->FillRoot();
  if (!start.empty()) tree->revealPath(start);
  tree->setFocus();
}

}  // namespace rzt2
