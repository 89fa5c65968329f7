#include "app/map_converter.h"

#include "app/app_icon.h"
#include "app/main_dialog.h"

namespace rzt2 {

MapConverter::MapConverter(int& argc, char** argv) : application_(argc, argv) {
  QApplication::setApplicationName(QStringLiteral("rzt2tool"));
  QApplication::setWindowIcon(applicationIcon());
}

int MapConverter::run() {
  {
    // The window's own run is the only main loop; its result is not used.
    MainDialog window;
    window.exec();
  }
  return 0;
}

}  // namespace rzt2
