#include "ui/converter/linux_shell_namespace.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStyle>
#include <algorithm>
#include <array>
#include <utility>

namespace rzt2 {

namespace {

constexpr char kHomeKey[] = "home";
constexpr char kDesktopKey[] = "desktop";
constexpr char kComputerKey[] = "computer";
constexpr char kVolumeKey[] = "volume";
constexpr char kFolderKey[] = "folder";

// QDir lists hidden entries only when asked to, so these filters leave them out.
constexpr QDir::Filters kVisibleFolders = QDir::Dirs | QDir::NoDotAndDotDot;

bool hasVisibleSubFolder(const QString& path) { return QDirIterator(path, kVisibleFolders).hasNext(); }

ShellItem folderItem(const char* key, const QString& path, QString name, int rank) {
  return {key, std::move(name), QFile::encodeName(path).toStdString(), hasVisibleSubFolder(path), rank};
}

bool isOctalDigit(char c) { return c >= '0' && c <= '7'; }

// The kernel writes a space in a mount point as "\040", a backslash as "\134".
QByteArray unescape(const QByteArray& field) {
  QByteArray text;
  for (qsizetype i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && isOctalDigit(field[i + 1]) &&
        isOctalDigit(field[i + 2]) && isOctalDigit(field[i + 3])) {
      text.append(
          static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0')));
      i += 3;
    } else {
      text.append(field[i]);
    }
  }
  return text;
}

bool isRealFileSystem(const QByteArray& device, const QByteArray& type) {
  static constexpr std::array<const char*, 5> kNetworkTypes = {"nfs", "nfs4", "cifs", "smb3", "fuse.sshfs"};
  if (std::any_of(kNetworkTypes.begin(), kNetworkTypes.end(),
                  [&](const char* network) { return type == network; })) {
    return true;
  }
  // Snap packages and the like mount squashfs images from loop devices.
  return device.startsWith("/dev/") && type != "squashfs";
}

}  // namespace

std::vector<QString> realMountPoints(const QByteArray& mountTable) {
  std::vector<QString> mountPoints;
  for (const QByteArray& line : mountTable.split('\n')) {
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() < 3 || !isRealFileSystem(unescape(fields[0]), fields[2])) continue;
    QString mountPoint = QFile::decodeName(unescape(fields[1]));
    if (std::find(mountPoints.begin(), mountPoints.end(), mountPoint) == mountPoints.end()) {
      mountPoints.push_back(std::move(mountPoint));
    }
  }
  return mountPoints;
}

LinuxShellNamespace::LinuxShellNamespace()
    : LinuxShellNamespace(QDir::homePath(), QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
                          QStringLiteral("/proc/mounts")) {}

LinuxShellNamespace::LinuxShellNamespace(QString home, QString desktop, QString mountTableFile)
    : home_(std::move(home)), desktop_(std::move(desktop)), mountTableFile_(std::move(mountTableFile)) {}

std::vector<ShellItem> LinuxShellNamespace::topLevel() {
  std::vector<ShellItem> items{folderItem(kHomeKey, home_, QStringLiteral("Home"), 0)};
  // Without a desktop folder the desktop location falls back to the home folder.
  if (!desktop_.isEmpty() && QFileInfo(desktop_).isDir() && QDir(desktop_) != QDir(home_)) {
    items.push_back(folderItem(kDesktopKey, desktop_, QFileInfo(desktop_).fileName(), 1));
  }
  items.push_back({kComputerKey, QStringLiteral("Computer"), {}, true, 2});
  return items;
}

std::vector<ShellItem> LinuxShellNamespace::subFolders(const ShellItem& folder) {
  if (folder.key == kComputerKey) return volumes();
  std::vector<ShellItem> items;
  if (folder.path.empty()) return items;
  const QDir dir(QFile::decodeName(QByteArray::fromStdString(folder.path)));
  for (const QFileInfo& info : dir.entryInfoList(kVisibleFolders, QDir::NoSort)) {
    items.push_back(folderItem(kFolderKey, info.absoluteFilePath(), info.fileName(), 0));
  }
  return items;
}

std::vector<ShellItem> LinuxShellNamespace::volumes() const {
  const QString root = QStringLiteral("/");
  std::vector<ShellItem> items{folderItem(kVolumeKey, root, root, 0)};
  QFile table(mountTableFile_);
  if (!table.open(QIODevice::ReadOnly)) return items;
  for (const QString& mountPoint : realMountPoints(table.readAll())) {
    // Containers bind single files (/etc/hosts) from block devices too.
    if (mountPoint == root || !QFileInfo(mountPoint).isDir()) continue;
    items.push_back(folderItem(kVolumeKey, mountPoint, mountPoint, 1));
  }
  return items;
}

QIcon LinuxShellNamespace::icon(const ShellItem& item, IconKind kind) {
  if (item.key == kComputerKey) return icons_.icon(QAbstractFileIconProvider::Computer);
  if (item.key == kVolumeKey) return icons_.icon(QAbstractFileIconProvider::Drive);
  QIcon folder = icons_.icon(QAbstractFileIconProvider::Folder);
  if (item.key == kHomeKey) return QIcon::fromTheme(QStringLiteral("user-home"), folder);
  if (item.key == kDesktopKey) return QIcon::fromTheme(QStringLiteral("user-desktop"), folder);
  if (kind == IconKind::Open) return QApplication::style()->standardIcon(QStyle::SP_DirOpenIcon);
  return folder;
}

}  // namespace rzt2
