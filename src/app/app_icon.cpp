#include "app/app_icon.h"

#include <QString>

namespace rzt2 {

QIcon applicationIcon() {
  QIcon icon;
  for (const char* size : {"16", "32", "48"}) {
    icon.addFile(QStringLiteral(":/icons/rzt2tool-%1.png").arg(QLatin1String(size)));
  }
  return icon;
}

}  // namespace rzt2
