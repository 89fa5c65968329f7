// The "Change folder" dialog over a fake namespace that counts its listings,
// and the Linux namespace over folders and a mount table in a temporary folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTreeWidgetItem>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "ui/folder_tree_dialog.h"
#include "ui/linux_shell_namespace.h"
#include "ui/shell_folder_tree.h"

namespace rzt2 {
namespace {

// Folders kept in memory, each with a real folder of the same path below a
// temporary root unless it is made without one.
class FakeShell : public ShellNamespace {
 public:
  explicit FakeShell(QString root) : root_(std::move(root)) {}

  // Adds a folder under parent ("" for the top level) and returns its key.
  std::string Add(const std::string& parent, const QString& name, bool hasSubFolders, bool withPath = true) {
    const std::string key = parent + "/" + name.toStdString();
    children_[parent].push_back({key, name, withPath ? PathOf(key) : "", hasSubFolders, 0});
    if (withPath) QDir().mkpath(QString::fromStdString(PathOf(key)));
    return key;
  }
  std::string PathOf(const std::string& key) const { return root_.toStdString() + key; }

  std::vector<ShellItem> TopLevel() override {
    ++listCalls[""];
    return children_[""];
  }
  std::vector<ShellItem> SubFolders(const ShellItem& folder) override {
    ++listCalls[folder.key];
    return children_[folder.key];
  }
  // Red when closed, blue when open, so a test can tell which one it sees.
  QIcon Icon(const ShellItem&, IconKind kind) override {
    QPixmap pixmap(16, 16);
    pixmap.fill(kind == IconKind::Normal ? Qt::red : Qt::blue);
    return QIcon(pixmap);
  }

  std::map<std::string, int> listCalls;  // "" for the top level

 private:
  QString root_;
  std::map<std::string, std::vector<ShellItem>> children_;
};

class FolderTreeTest : public ::testing::Test {
 protected:
  static ShellFolderTree* TreeOf(FolderTreeDialog& dialog) {
    return dialog.findChild<ShellFolderTree*>(QStringLiteral("folderTree"));
  }
  static std::vector<QString> Texts(QTreeWidgetItem* parent) {
    std::vector<QString> texts;
    for (int i = 0; i < parent->childCount(); ++i) texts.push_back(parent->child(i)->text(0));
    return texts;
  }
  static QTreeWidgetItem* Child(QTreeWidgetItem* parent, const QString& text) {
    for (int i = 0; i < parent->childCount(); ++i) {
      if (parent->child(i)->text(0) == text) return parent->child(i);
    }
    return nullptr;
  }

  QTemporaryDir dir;
  FakeShell shell{dir.path()};
};

TEST_F(FolderTreeTest, OpeningListsTheTopLevelAndTheFirstItemOnly) {
  shell.Add("", "zeta", true);
  const std::string alpha = shell.Add("", "Alpha", true);
  shell.Add("", "beta", true);
  shell.Add(alpha, "Sub2", false);
  shell.Add(alpha, "sub1", false);
  FolderTreeDialog dialog(shell);
  ShellFolderTree* tree = TreeOf(dialog);
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(Texts(tree->invisibleRootItem()), (std::vector<QString>{"Alpha", "beta", "zeta"}));
  QTreeWidgetItem* first = tree->topLevelItem(0);
  EXPECT_TRUE(first->isExpanded());
  EXPECT_EQ(tree->currentItem(), first);
  EXPECT_EQ(Texts(first), (std::vector<QString>{"sub1", "Sub2"}));
  EXPECT_EQ(shell.listCalls, (std::map<std::string, int>{{"", 1}, {alpha, 1}}));
  // Its icon turns to the open one when selected.
  EXPECT_EQ(first->icon(0).pixmap(16, QIcon::Normal).toImage().pixelColor(8, 8), QColor(Qt::red));
  EXPECT_EQ(first->icon(0).pixmap(16, QIcon::Selected).toImage().pixelColor(8, 8), QColor(Qt::blue));
  // OK at once returns the first item's path.
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.selectedPath(), shell.PathOf(alpha));
}

TEST_F(FolderTreeTest, EachFolderIsListedOnceOnSelectionOrExpansion) {
  const std::string alpha = shell.Add("", "alpha", false);
  const std::string folders = shell.Add("", "folders", true);
  const std::string pathless = shell.Add("", "pathless", true, false);
  const std::string promises = shell.Add("", "promises", true);
  shell.Add(folders, "inner", false);
  const std::string deep = shell.Add(pathless, "deep", false);

  FolderTreeDialog dialog(shell);
  ShellFolderTree* tree = TreeOf(dialog);
  QTreeWidgetItem* root = tree->invisibleRootItem();
  // The first item has no sub-folders: nothing is listed, its path is taken.
  EXPECT_EQ(shell.listCalls.size(), 1u);
  EXPECT_EQ(dialog.selectedPath(), shell.PathOf(alpha));
  EXPECT_EQ(Child(root, "alpha")->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);

  // Selection lists before any expansion; nothing lists twice; a leaf lists nothing.
  QTreeWidgetItem* foldersItem = Child(root, "folders");
  EXPECT_EQ(foldersItem->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
  tree->setCurrentItem(foldersItem);
  EXPECT_EQ(Texts(foldersItem), std::vector<QString>{"inner"});
  EXPECT_FALSE(foldersItem->isExpanded());
  tree->expandItem(foldersItem);
  tree->collapseItem(foldersItem);
  tree->expandItem(foldersItem);
  tree->setCurrentItem(Child(root, "alpha"));
  tree->setCurrentItem(foldersItem);
  EXPECT_EQ(Texts(foldersItem), std::vector<QString>{"inner"});
  EXPECT_EQ(dialog.selectedPath(), shell.PathOf(folders));
  tree->setCurrentItem(Child(foldersItem, "inner"));
  EXPECT_EQ(shell.listCalls, (std::map<std::string, int>{{"", 1}, {folders, 1}}));

  // An item without a path is listed, and selecting it empties the path.
  QTreeWidgetItem* pathlessItem = Child(root, "pathless");
  tree->expandItem(pathlessItem);
  tree->setCurrentItem(pathlessItem);
  EXPECT_EQ(shell.listCalls[pathless], 1);
  EXPECT_EQ(dialog.selectedPath(), "");
  tree->setCurrentItem(Child(pathlessItem, "deep"));
  EXPECT_EQ(dialog.selectedPath(), shell.PathOf(deep));

  // A folder that promised sub-folders but had none loses its button.
  QTreeWidgetItem* promisesItem = Child(root, "promises");
  tree->expandItem(promisesItem);
  EXPECT_EQ(shell.listCalls[promises], 1);
  EXPECT_EQ(promisesItem->childCount(), 0);
  EXPECT_EQ(promisesItem->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);
  tree->setCurrentItem(pathlessItem);
  dialog.accept();
  EXPECT_EQ(dialog.selectedPath(), "");
}

TEST_F(FolderTreeTest, FirstItemWithoutPathOrNoItemsGiveAnEmptyPath) {
  shell.Add("", "B with path", false);
  shell.Add("", "a without", true, false);
  FolderTreeDialog dialog(shell);
  EXPECT_EQ(TreeOf(dialog)->currentItem()->text(0), "a without");
  EXPECT_EQ(dialog.selectedPath(), "");
  FakeShell empty(dir.path());
  FolderTreeDialog emptyDialog(empty);
  EXPECT_EQ(TreeOf(emptyDialog)->topLevelItemCount(), 0);
  emptyDialog.accept();
  EXPECT_EQ(emptyDialog.selectedPath(), "");
}

std::vector<std::string> Paths(const std::vector<ShellItem>& items) {
  std::vector<std::string> paths;
  for (const ShellItem& item : items) paths.push_back(item.path);
  return paths;
}

// A home folder, a desktop folder and a mount table in a temporary folder.
TEST(LinuxShellTest, HomeDesktopAndComputerWithVisibleFoldersAndRealMountPoints) {
  QTemporaryDir dir;
  for (const char* folder :
       {"home/b", "home/A/x", "home/.hidden/y", "home/b/.hidden", "Desk", "vol one/sub", "emptyvol"}) {
    ASSERT_TRUE(QDir(dir.path()).mkpath(folder));
  }
  for (const char* file : {"home/file.txt", "home/b/file.txt", "mounts"}) {
    QFile out(dir.filePath(file));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    if (file == std::string("mounts")) {
      out.write(QStringLiteral("proc /proc proc rw 0 0\n"
                               "/dev/vda / ext4 rw 0 0\n"
                               "/dev/vdb %1/vol\\040one ext4 rw 0 0\n"
                               "/dev/vdb %1/home/file.txt ext4 rw 0 0\n"
                               "/dev/loop1 %1/emptyvol squashfs ro 0 0\n"
                               "server:/share %1/emptyvol nfs4 rw 0 0\n"
                               "/dev/vdb %1/vol\\040one ext4 rw 0 0\n")
                    .arg(dir.path())
                    .toUtf8());
    }
  }
  LinuxShellNamespace shell(dir.filePath("home"), dir.filePath("Desk"), dir.filePath("mounts"));
  ShellFolderTree tree(shell);
  tree.FillRoot();
  ASSERT_EQ(tree.topLevelItemCount(), 3);
  EXPECT_EQ(tree.topLevelItem(0)->text(0) + tree.topLevelItem(1)->text(0) + tree.topLevelItem(2)->text(0),
            "HomeDeskComputer");
  EXPECT_EQ(ShellFolderTree::PathOf(tree.topLevelItem(0)), dir.filePath("home").toStdString());
  EXPECT_EQ(ShellFolderTree::PathOf(tree.topLevelItem(2)), "");
  EXPECT_EQ(tree.topLevelItem(2)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
  // A desktop that is missing or is the home folder itself is left out.
  for (const QString& desktop : {dir.filePath("nowhere"), dir.filePath("home"), QString()}) {
    EXPECT_EQ(LinuxShellNamespace(dir.filePath("home"), desktop, dir.filePath("mounts")).TopLevel().size(),
              2u);
  }

  // Home lists its visible sub-folders; "b" holds a hidden folder and a file only.
  std::vector<ShellItem> items = shell.SubFolders(shell.TopLevel().front());
  std::sort(items.begin(), items.end(), [&](const auto& a, const auto& b) { return shell.Before(a, b); });
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(Paths(items), (std::vector<std::string>{dir.filePath("home/A").toStdString(),
                                                    dir.filePath("home/b").toStdString()}));
  EXPECT_EQ(items[0].displayName + items[1].displayName, "Ab");
  EXPECT_TRUE(items[0].hasSubFolders);
  EXPECT_FALSE(items[1].hasSubFolders);
  EXPECT_TRUE(shell.SubFolders(items[1]).empty());

  // The computer holds the root and the mount points that are real folders, once each.
  const ShellItem computer = shell.TopLevel().back();
  const std::vector<ShellItem> volumes = shell.SubFolders(computer);
  EXPECT_EQ(Paths(volumes), (std::vector<std::string>{"/", dir.filePath("vol one").toStdString(),
                                                      dir.filePath("emptyvol").toStdString()}));
  EXPECT_EQ(volumes[1].displayName, dir.filePath("vol one"));
  EXPECT_TRUE(volumes[1].hasSubFolders);
  EXPECT_FALSE(volumes[2].hasSubFolders);
  LinuxShellNamespace noTable(dir.filePath("home"), {}, dir.filePath("missing"));
  EXPECT_EQ(Paths(noTable.SubFolders(computer)), std::vector<std::string>{"/"});
}

TEST(RealMountPoints, KeepsBlockDevicesAndNetworkSharesOnce) {
  const QByteArray table =
      "sysfs /sys sysfs rw 0 0\ntmpfs /run tmpfs rw 0 0\n/dev/sda1 / ext4 rw 0 0\n"
      "/dev/sdb1 /media/me/My\\040Disk vfat rw 0 0\n/dev/loop3 /snap/core/1 squashfs ro 0 0\n"
      "host:/export /mnt/nfs nfs rw 0 0\n//host/share /mnt/smb cifs rw 0 0\n"
      "me@host: /mnt/ssh fuse.sshfs rw 0 0\n/dev/sda1 / ext4 rw 0 0\nbroken line\n";
  EXPECT_EQ(RealMountPoints(table),
            (std::vector<QString>{"/", "/media/me/My Disk", "/mnt/nfs", "/mnt/smb", "/mnt/ssh"}));
}

}  // namespace
}  // namespace rzt2
