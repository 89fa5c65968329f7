#include "ui/converter/shell_namespace.h"

namespace rzt2 {

bool ShellNamespace::before(const ShellItem& a, const ShellItem& b) const {
  if (a.rank != b.rank) return a.rank < b.rank;
  if (const int order = a.displayName.compare(b.displayName, Qt::CaseInsensitive); order != 0) {
    return order < 0;
  }
  // Names that differ only in case still get one fixed order.
  return a.displayName < b.displayName;
}

}  // namespace rzt2
