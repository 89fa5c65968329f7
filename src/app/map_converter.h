// MapConverter: the application. Constructing it starts the platform
// services (the Qt application); run shows the main window until it is
// closed, destroys it, and only then are the services shut down.
#pragma once

#include <QApplication>

namespace rzt2 {

class MapConverter {
 public:
  MapConverter(int& argc, char** argv);

  // The exit code of the program.
  int run();

 private:
  QApplication application_;
};

}  // namespace rzt2
