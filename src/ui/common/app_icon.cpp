#include "ui/common/app_icon.h"

#include <QDirIterator>

namespace rzt2 {

QIcon applicationIcon() {
  // The sizes are the build's choice; every picture under :/icons is one of them.
  QIcon icon;
  QDirIterator pictures(QStringLiteral(":/icons"), QDir::Files);
  while (pictures.hasNext()) icon.addFile(pictures.next());
  return icon;
}

}  // namespace rzt2
