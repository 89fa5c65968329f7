// LinuxShellNamespace: the folder tree of a Linux desktop, which has no shell
// namespace of its own. The top level holds, in this order, the home folder,
// the desktop folder where there is one, and "Computer", an item without a
// path that holds "/" and the mount points of real file systems.
#pragma once

#include <QByteArray>
#include <QFileIconProvider>
#include <QString>
#include <vector>

#include "ui/converter/shell_namespace.h"

namespace rzt2 {

class LinuxShellNamespace : public ShellNamespace {
 public:
  // The user's home and desktop folders and /proc/mounts.
  LinuxShellNamespace();
  // Given folders and mount table; an empty or missing desktop means none.
  LinuxShellNamespace(QString home, QString desktop, QString mountTableFile);

  std::vector<ShellItem> topLevel() override;
  std::vector<ShellItem> subFolders(const ShellItem& folder) override;
  QIcon icon(const ShellItem& item, IconKind kind) override;

 private:
  std::vector<ShellItem> volumes() const;

  QString home_;
  QString desktop_;
  QString mountTableFile_;
  QFileIconProvider icons_;
};

// The mount points of real file systems (block devices other than squashfs
// images, and network shares) in the text of a mount table such as
// /proc/mounts, in table order, each once, with escapes like "\040" decoded.
std::vector<QString> realMountPoints(const QByteArray& mountTable);

}  // namespace rzt2
