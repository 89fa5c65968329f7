// The "Change folder" dialog over the fixture's namespace, which counts its
// listings, and the mount points the Linux namespace offers.

#include "gui_fixture.h"
#include "ui/folder_tree_dialog.h"
#include "ui/linux_shell_namespace.h"
#include "ui/shell_folder_tree.h"

namespace rzt2::test {
namespace {

TEST_F(GuiTest, TheFolderTreeListsEachFolderOnceWhenItIsFirstExpandedOrSelected) {
  const std::string alpha = shell.Add("", "Alpha", true);
  shell.Add(alpha, "Sub2", false);
  shell.Add(alpha, "sub1", false);
  const std::string folders = shell.Add("", "folders", true);
  shell.Add(folders, "inner", false);
  const std::string pathless = shell.Add("", "pathless", true, false);
  const std::string deep = shell.Add(pathless, "deep", false);
  const std::string promises = shell.Add("", "promises", true);
  shell.Add("", "zeta", false);
  FolderTreeDialog dialog(shell);
  auto* tree = Find<QTreeWidget>(dialog, "folderTree");
  const auto item = [&](const char* text) {
    return tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive).value(0);
  };
  // Opening lists the sorted top level, and the first item, expanded and
  // selected.
  EXPECT_EQ(Texts(tree->invisibleRootItem()),
            (QStringList{"Alpha", "folders", "pathless", "promises", "zeta"}));
  EXPECT_TRUE(item("Alpha")->isExpanded());
  EXPECT_EQ(Texts(item("Alpha")), (QStringList{"sub1", "Sub2"}));
  EXPECT_EQ(shell.listCalls, (std::map<std::string, int>{{"", 1}, {alpha, 1}}));
  EXPECT_EQ(dialog.selectedPath(), shell.PathOf(alpha));
  // Selection lists before any expansion; nothing is listed twice, and a
  // folder without sub-folders never, nor has it an expand button.
  tree->setCurrentItem(item("folders"));
  EXPECT_EQ(Texts(item("folders")), QStringList{"inner"});
  EXPECT_FALSE(item("folders")->isExpanded());
  tree->expandItem(item("folders"));
  tree->collapseItem(item("folders"));
  tree->expandItem(item("folders"));
  tree->setCurrentItem(item("zeta"));
  EXPECT_EQ(item("zeta")->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
  // An item without a path is listed, and selecting it empties the path.
  tree->setCurrentItem(item("pathless"));
  EXPECT_EQ(dialog.selectedPath(), "");
  tree->setCurrentItem(item("deep"));
  EXPECT_EQ(dialog.selectedPath(), shell.PathOf(deep));
  // A folder that promised sub-folders but had none loses its button.
  tree->expandItem(item("promises"));
  EXPECT_EQ(item("promises")->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);
  EXPECT_EQ(shell.listCalls,
            (std::map<std::string, int>{{"", 1}, {alpha, 1}, {folders, 1}, {pathless, 1}, {promises, 1}}));
}

TEST(LinuxShellTest, RealMountPointsAreBlockDevicesAndNetworkSharesOnce) {
  const QByteArray table =
      "sysfs /sys sysfs rw 0 0\ntmpfs /run tmpfs rw 0 0\n/dev/sda1 / ext4 rw 0 0\n"
      "/dev/sdb1 /media/me/My\\040Disk vfat rw 0 0\n/dev/loop3 /snap/core/1 squashfs ro 0 0\n"
      "host:/export /mnt/nfs nfs rw 0 0\n//host/share /mnt/smb cifs rw 0 0\n"
      "me@host: /mnt/ssh fuse.sshfs rw 0 0\n/dev/sda1 / ext4 rw 0 0\nbroken line\n";
  EXPECT_EQ(realMountPoints(table),
            (std::vector<QString>{"/", "/media/me/My Disk", "/mnt/nfs", "/mnt/smb", "/mnt/ssh"}));
}

}  // namespace
}  // namespace rzt2::test
