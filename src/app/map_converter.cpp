#include "app/map_converter.h"

#include "app/main_dialog.h"
#include "ui/common/app_icon.h"
#include "ui/common/user_prompts.h"
#include "ui/viewer/map_viewer.h"

namespace rzt2 {

MapConverter::MapConverter(int& argc, char** argv) : application_(argc, argv) {
  QApplication::setApplicationName(QStringLiteral("rzt2tool"));
  QApplication::setWindowIcon(applicationIcon());
}

int MapConverter::run(const std::string& mapFile) {
  if (!mapFile.empty()) {
    // A file manager's "Open" asks to see the file, not the converter.
    DialogPrompts prompts;
    if (!openMapViewer(mapFile, prompts)) return 1;
    return QApplication::exec();
  }
  {
    // The window's own run is the only main loop; its result is not used.
    MainDialog window;
    window.exec();
  }
  return 0;
}

}  // namespace rzt2
