#include "app/map_converter.h"

#include <QFile>
#include <memory>

#include "app/main_dialog.h"
#include "jobs/job_texts.h"
#include "mapfile/map_file_reader.h"
#include "ui/common/app_icon.h"
#include "ui/common/user_prompts.h"
#include "ui/viewer/map_viewer.h"

namespace rzt2 {

bool openGivenFile(const std::string& path, UserPrompts& prompts, std::unique_ptr<MainDialog>& window,
                   const std::string& settingsStore, ShellNamespace* shell) {
  std::unique_ptr<MapFileReader> reader;
  if (MapFileReader::Open(path, reader) != Status::UnknownImageFormat) {
    return openMapViewer(path, prompts) != nullptr;
  }
  // A picture, say: the converter is where it becomes a map.
  prompts.showMessage(
      nullptr, QStringLiteral("%1 is not a map file.").arg(QFile::decodeName(FileNameOf(path).c_str())),
      QStringLiteral("Information"), MessageIcon::Information,
      QStringLiteral("The converter opens on its folder, with the file selected."));
  window = std::make_unique<MainDialog>(settingsStore, &prompts, shell);
  window->showFile(path);
  window->show();
  return true;
}

MapConverter::MapConverter(int& argc, char** argv) : application_(argc, argv) {
  QApplication::setApplicationName(QStringLiteral("rzt2tool"));
  QApplication::setWindowIcon(applicationIcon());
}

int MapConverter::run(const std::string& file) {
  // The window that is shown first lives until the event loop ends; closing
  // the last window ends it.
  std::unique_ptr<MainDialog> window;
  DialogPrompts prompts;
  if (!file.empty()) {
    // A file manager's "Open" asks to see the file, not the converter.
    if (!openGivenFile(file, prompts, window)) return 1;
  } else {
    window = std::make_unique<MainDialog>();
    window->show();
  }
  return QApplication::exec();
}

}  // namespace rzt2
