// The "Change folder" dialog over a fake namespace that counts its listings,
// and the Linux namespace over folders and a mount table in a temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTreeWidgetItem>

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
  std::string Add(const std::string& parent, const QString& name, bool hasSubFolders,
                  bool withPath = true) {
    const std::string key = parent + "/" + name.toStdString();
    ShellItem item{key, name, {}, hasSubFolders, 0};
    if (withPath) {
      const QString path = root_ + QString::fromStdString(key);
      QDir().mkpath(path);
      item.path = path.toStdString();
    }
    children_[parent].push_back(item);
    return key;
  }
  std::string PathOf(const std::string& key) const {
    return (root_ + QString::fromStdString(key)).toStdString();
  }

  std::vector<ShellItem> TopLevel() override {
    ++topLevelCalls;
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

  int topLevelCalls = 0;
  std::map<std::string, int> listCalls;

 private:
  QString root_;
  std::map<std::string, std::vector<ShellItem>> children_;
};

class FolderTreeTest : public ::testing::Test {
 protected:
  ShellFolderTree* TreeOf(FolderTreeDialog& dialog) {
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
  int TotalListCalls() const {
    int total = 0;
    for (const auto& [key, calls] : shell.listCalls) total += calls;
    return total;
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
  EXPECT_EQ(shell.topLevelCalls, 1);
  EXPECT_EQ(shell.listCalls, (std::map<std::string, int>{{alpha, 1}}));

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
  EXPECT_EQ(TotalListCalls(), 0);
  EXPECT_EQ(dialog.selectedPath(), shell.PathOf(alpha));
  EXPECT_EQ(Child(root, "alpha")->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);

  // Selection lists before any expansion; nothing lists twice.
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
  EXPECT_EQ(shell.listCalls[folders], 1);
  EXPECT_EQ(dialog.selectedPath(), shell.PathOf(folders));

  // Selecting a leaf lists nothing.
  tree->setCurrentItem(Child(foldersItem, "inner"));
  EXPECT_EQ(TotalListCalls(), 1);

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

  // Selecting the pathless item last, then OK, returns an empty path.
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

TEST_F(FolderTreeTest, SelectedItemsShowTheOpenIcon) {
  shell.Add("", "only", false);
  FolderTreeDialog dialog(shell);
  const QIcon icon = TreeOf(dialog)->topLevelItem(0)->icon(0);
  EXPECT_EQ(icon.pixmap(16, QIcon::Normal).toImage().pixelColor(8, 8), QColor(Qt::red));
  EXPECT_EQ(icon.pixmap(16, QIcon::Selected).toImage().pixelColor(8, 8), QColor(Qt::blue));
}

// The Linux namespace over a home folder, a desktop folder and a mount table
// in a temporary folder.
class LinuxShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* folder : {"home/b", "home/A/x", "home/.hidden/y", "home/b/.hidden", "Desk",
                               "vol one/sub", "emptyvol"}) {
      ASSERT_TRUE(QDir(dir.path()).mkpath(folder));
    }
    WriteFile("home/file.txt", "");
    WriteFile("home/b/file.txt", "");
    WriteFile("mounts", QStringLiteral("proc /proc proc rw 0 0\n"
                                       "/dev/vda / ext4 rw 0 0\n"
                                       "/dev/vdb %1/vol\\040one ext4 rw 0 0\n"
                                       "/dev/vdb %1/home/file.txt ext4 rw 0 0\n"
                                       "/dev/loop1 %1/emptyvol squashfs ro 0 0\n"
                                       "server:/share %1/emptyvol nfs4 rw 0 0\n"
                                       "/dev/vdb %1/vol\\040one ext4 rw 0 0\n")
                            .arg(dir.path())
                            .toUtf8());
  }
  void WriteFile(const QString& name, const QByteArray& bytes) {
    QFile file(dir.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  }
  LinuxShellNamespace Namespace(const QString& desktop) {
    return LinuxShellNamespace(dir.filePath("home"), desktop, dir.filePath("mounts"));
  }
  static std::vector<std::string> Paths(const std::vector<ShellItem>& items) {
    std::vector<std::string> paths;
    for (const ShellItem& item : items) paths.push_back(item.path);
    return paths;
  }

  QTemporaryDir dir;
};

TEST_F(LinuxShellTest, TopLevelIsHomeDesktopComputerInThatOrder) {
  LinuxShellNamespace shell = Namespace(dir.filePath("Desk"));
  ShellFolderTree tree(shell);
  tree.FillRoot();
  ASSERT_EQ(tree.topLevelItemCount(), 3);
  EXPECT_EQ(tree.topLevelItem(0)->text(0), "Home");
  EXPECT_EQ(tree.topLevelItem(1)->text(0), "Desk");
  EXPECT_EQ(tree.topLevelItem(2)->text(0), "Computer");
  EXPECT_EQ(ShellFolderTree::PathOf(tree.topLevelItem(0)), dir.filePath("home").toStdString());
  EXPECT_EQ(ShellFolderTree::PathOf(tree.topLevelItem(2)), "");
  EXPECT_EQ(tree.topLevelItem(2)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);

  // A desktop that is missing or is the home folder itself is left out.
  for (const QString& desktop : {dir.filePath("nowhere"), dir.filePath("home"), QString()}) {
    EXPECT_EQ(Namespace(desktop).TopLevel().size(), 2u) << desktop.toStdString();
  }
}

TEST_F(LinuxShellTest, FoldersListVisibleSubFoldersOnly) {
  LinuxShellNamespace shell = Namespace({});
  std::vector<ShellItem> items = shell.SubFolders(shell.TopLevel().front());
  std::sort(items.begin(), items.end(),
            [&](const auto& a, const auto& b) { return shell.Before(a, b); });
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].displayName, "A");
  EXPECT_EQ(items[0].path, dir.filePath("home/A").toStdString());
  EXPECT_TRUE(items[0].hasSubFolders);
  EXPECT_EQ(items[1].displayName, "b");
  EXPECT_FALSE(items[1].hasSubFolders);  // a hidden folder and a file only
  EXPECT_TRUE(shell.SubFolders(items[1]).empty());
}

TEST_F(LinuxShellTest, ComputerHoldsRootAndRealFolderMountPoints) {
  LinuxShellNamespace shell = Namespace({});
  const ShellItem computer = shell.TopLevel().back();
  const std::vector<ShellItem> volumes = shell.SubFolders(computer);
  EXPECT_EQ(Paths(volumes), (std::vector<std::string>{"/", dir.filePath("vol one").toStdString(),
                                                      dir.filePath("emptyvol").toStdString()}));
  EXPECT_EQ(volumes[1].displayName, dir.filePath("vol one"));
  EXPECT_TRUE(volumes[1].hasSubFolders);
  EXPECT_FALSE(volumes[2].hasSubFolders);

  // Without a mount table the computer still holds the root.
  LinuxShellNamespace noTable(dir.filePath("home"), {}, dir.filePath("missing"));
  EXPECT_EQ(Paths(noTable.SubFolders(computer)), std::vector<std::string>{"/"});
}

TEST(RealMountPoints, KeepsBlockDevicesAndNetworkSharesOnce) {
  const QByteArray table =
      "sysfs /sys sysfs rw 0 0\n"
      "tmpfs /run tmpfs rw 0 0\n"
      "/dev/sda1 / ext4 rw 0 0\n"
      "/dev/sdb1 /media/me/My\\040Disk vfat rw 0 0\n"
      "/dev/loop3 /snap/core/1 squashfs ro 0 0\n"
      "host:/export /mnt/nfs nfs rw 0 0\n"
      "//host/share /mnt/smb cifs rw 0 0\n"
      "me@host: /mnt/ssh fuse.sshfs rw 0 0\n"
      "/dev/sda1 / ext4 rw 0 0\n"
      "broken line\n";
  EXPECT_EQ(RealMountPoints(table),
            (std::vector<QString>{"/", "/media/me/My Disk", "/mnt/nfs", "/mnt/smb", "/mnt/ssh"}));
}

}  // namespace
}  // namespace rzt2
