// The mount points the Linux namespace offers; the "Change folder" dialog
// is picked from in the main window's tests.

#include "gui_fixture.h"
#include "ui/converter/linux_shell_namespace.h"

namespace rzt2::test {
namespace {

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
