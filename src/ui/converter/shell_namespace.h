// ShellNamespace: the tree of folders that the "Change folder" dialog shows.
// A top level of special items (the home folder, the desktop, the computer),
// and below each folder its sub-folders: no files, no hidden folders. Some
// items (the computer) are folders without a file-system path.
//
// The dialog asks for a folder's sub-folders only when the user first opens
// or selects it, so listing may be slow and is never done twice per dialog.
// LinuxShellNamespace is the real one; tests put a fake in its place.
#pragma once

#include <QIcon>
#include <QString>
#include <string>
#include <vector>

namespace rzt2 {

// One folder as its parent listed it.
struct ShellItem {
  std::string key;             // identifies the item to its namespace; the tree does not read it
  QString displayName;         // the text of the tree item
  std::string path;            // file-system path (UTF-8); empty for an item without one
  bool hasSubFolders = false;  // false: the tree shows no expand button
  int rank = 0;                // siblings of lower rank come first, whatever their names
};

enum class IconKind { Normal, Open };

class ShellNamespace {
 public:
  virtual ~ShellNamespace() = default;

  // The top-level items, in any order.
  virtual std::vector<ShellItem> topLevel() = 0;
  // The sub-folders of folder, in any order; empty when it cannot be listed.
  virtual std::vector<ShellItem> subFolders(const ShellItem& folder) = 0;
  // The icon of item closed (Normal) or selected (Open).
  virtual QIcon icon(const ShellItem& item, IconKind kind) = 0;
  // Sibling order: by rank, then by name ignoring case.
  virtual bool before(const ShellItem& a, const ShellItem& b) const;
};

}  // namespace rzt2
