// MapConverter: the application. Constructing it starts the platform
// services (the Qt application); run shows the main window and runs the
// application's event loop until the window is closed, destroys it, and only
// then are the services shut down. Given a map file, run shows that file in
// a viewer instead, alone, on the same loop.
#pragma once

#include <QApplication>
#include <memory>
#include <string>

namespace rzt2 {

class MainDialog;
class ShellNamespace;
class UserPrompts;

// What the program shows of a file it is given: a map file in a viewer of
// its own. Of a file that is no map file it says so through prompts, and
// window becomes the main window, shown, on the file's folder with the
// file selected. False when the file cannot be read at all, which is said
// through prompts. settingsStore and shell as for MainDialog.
bool openGivenFile(const std::string& path, UserPrompts& prompts, std::unique_ptr<MainDialog>& window,
                   const std::string& settingsStore = {}, ShellNamespace* shell = nullptr);

class MapConverter {
 public:
  MapConverter(int& argc, char** argv);

  // The exit code of the program: the event loop's, or 1 when file (if not
  // empty) cannot be read, which is said in a message box.
  int run(const std::string& file);

 private:
  QApplication application_;
};

}  // namespace rzt2
