// MapConverter: the application. Constructing it starts the platform
// services (the Qt application); run shows the main window and runs the
// application's event loop until the window is closed, destroys it, and only
// then are the services shut down. Given a map file, run shows that file in
// a viewer instead, alone, on the same loop.
#pragma once

#include <QApplication>
#include <string>

namespace rzt2 {

class MapConverter {
 public:
  MapConverter(int& argc, char** argv);

  // The exit code of the program: the event loop's, or 1 when mapFile (if
  // not empty) cannot be read as a map file, which is said in a message box.
  int run(const std::string& mapFile);

 private:
  QApplication application_;
};

}  // namespace rzt2
