// MapViewer: a window that shows one map file as the phone will, level by
// level (MapCanvas), with a status line of the level, the zoom, the
// picture point and the frame under the mouse, the latest damage found and
// the frame cache, and a toggle that outlines the frames. It opens within
// the screen's available area; Escape and Ctrl+W close it, and the "Keys"
// button lists the keys.
#pragma once

#include <QMainWindow>
#include <cstddef>
#include <memory>
#include <string>

#include "mapfile/map_file_reader.h"

class QLabel;

namespace rzt2 {

class MapCanvas;
class UserPrompts;

struct ViewerOptions {
  size_t cacheBytes = size_t{64} << 20;  // decoded frames kept
  int loaderThreads = 0;                 // 0: one per core, at most four
};

class MapViewer final : public QMainWindow {
  Q_OBJECT

 public:
  // The title names fileName.
  MapViewer(std::shared_ptr<const MapFileReader> reader, const QString& fileName,
            const ViewerOptions& options = {}, QWidget* parent = nullptr);

 private:
  void addTools();
  void addStatusLine();
  void updateStatus();

  MapCanvas* canvas_;
  QLabel* levelLabel_;
  QLabel* zoomLabel_;
  QLabel* positionLabel_;
  QLabel* frameLabel_;
  QLabel* damageLabel_;
  QLabel* cacheLabel_;
};

// Opens the map file at path in a new viewer, shown, that deletes itself
// when closed (a window of its own even with a parent). When the file
// cannot be read as a map file, says so through prompts ("Error loading
// file NAME!", the cause beneath) and returns null.
MapViewer* openMapViewer(const std::string& path, UserPrompts& prompts, QWidget* parent = nullptr,
                         const ViewerOptions& options = {});

}  // namespace rzt2
