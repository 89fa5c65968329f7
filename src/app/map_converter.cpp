#include "app/map_converter.h"

#include <memory>

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
  // The window that is shown first lives until the event loop ends; closing
  // the last window ends it.
  std::unique_ptr<MainDialog> window;
  DialogPrompts prompts;
  if (!mapFile.empty()) {
    // A file manager's "Open" asks to see the file, not the converter.
    if (!openMapViewer(mapFile, prompts)) return 1;
  } else {
    window = std::make_unique<MainDialog>();
    window->show();
  }
  return QApplication::exec();
}

}  // namespace rzt2
