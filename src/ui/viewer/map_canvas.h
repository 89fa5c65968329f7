// MapCanvas shows one map file the way a phone viewer does: the frames of
// the stored level nearest to the zoom, each at its place, scaled smoothly
// between stored levels, and at a level's own zoom copied 1:1, within the
// picture's own area (the last frames' padding past it is not drawn). Only the
// visible frames are read, by a FrameLoader off the window's thread, and
// they are kept in a FrameCache; until a frame arrives the preview stands
// in for it. The preview and each level's frame index are read by the
// loader too, so that the window's thread never waits for the file.
// Farther out than half the coarsest level's zoom the preview alone is
// shown, so that no zoom asks for more frames than fit a screen.
//
// Drag or the arrow keys pan, the wheel or + and - zoom about the mouse
// (about the centre when the mouse is elsewhere), Home fits the picture.
// A frame that cannot be read or decoded is drawn as a white square with
// a red cross.
#pragma once

#include <QImage>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

#include "mapfile/map_file_reader.h"
#include "ui/viewer/frame_cache.h"
#include "ui/viewer/frame_loader.h"
#include "ui/viewer/map_levels.h"

namespace rzt2 {

class MapCanvas final : public QWidget {
  Q_OBJECT

 public:
  // cacheBytes bounds the decoded frames kept; loaderThreads as FrameLoader.
  MapCanvas(std::shared_ptr<const MapFileReader> reader, size_t cacheBytes, int loaderThreads,
            QWidget* parent = nullptr);
  ~MapCanvas() override;

  const ViewLevel& level() const { return levels_[level_]; }
  // False while the preview alone is shown.
  bool showsFrames() const;
  double zoom() const { return zoom_; }
  // The picture's size in its own pixels.
  QSizeF pictureSize() const { return pictureSize_; }
  // Widget pixels to picture pixels and back.
  QPointF toPicture(QPointF point) const;
  QPointF toWidget(QPointF picturePoint) const;
  // The picture point under the mouse, while the mouse is over the canvas.
  std::optional<QPointF> hoveredPoint() const;
  // The frame of the level shown at a picture point: "frame 3, 5 of level
  // 2: 1234 bytes" (its body in the file), or what is wrong with it; empty
  // outside the level's grid.
  QString describeFrameAt(QPointF picturePoint);
  // The latest frame or level found damaged, as describeFrameAt names it.
  const QString& damage() const { return damage_; }
  const FrameCache& cache() const { return cache_; }
  // Frames asked for and not yet delivered.
  int framesLoading() const { return loader_->pending(); }

  QSize sizeHint() const override;

 public slots:
  void fit();
  void zoomIn();
  void zoomOut();
  void setOutlines(bool on);

 signals:
  // Something that the status line shows has changed.
  void statusChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  // A level's frame index, asked for when the level is first shown.
  struct LevelIndex {
    bool requested = false;
    bool read = false;
    Status status = Status::Ok;
    std::shared_ptr<const FrameIndex> index;
  };
  struct Span {
    uint32_t firstColumn = 0, lastColumn = 0, firstRow = 0, lastRow = 0;
    bool empty = true;
  };

  double fitZoom() const;
  double minZoom() const;
  void zoomAbout(double zoom, QPointF anchor);
  QPointF zoomAnchor() const;
  void panBy(QPoint delta);
  // After any change of zoom, position or size: keeps the picture in view,
  // picks the level, asks for its missing frames and repaints.
  void viewChanged();
  const LevelIndex& levelIndex() const { return indexes_[level_]; }
  // The current level's index is asked for once; it comes to onIndexRead.
  void requestIndex();
  void onIndexRead(size_t levelPosition, Status status, const std::shared_ptr<const FrameIndex>& index);
  void onPreviewDecoded(const DecodedFrame& preview);
  Span visibleFrames() const;
  QRect frameRect(uint32_t column, uint32_t row) const;
  FrameKey keyOf(uint32_t column, uint32_t row) const { return FrameKey{level().index, column, row}; }
  QString frameName(const FrameKey& key) const;
  void requestFrames();
  void onFrameDecoded(const FrameKey& key, const DecodedFrame& frame);

  std::shared_ptr<const MapFileReader> reader_;
  std::vector<ViewLevel> levels_;
  std::vector<LevelIndex> indexes_;  // by position in levels_
  size_t level_ = 0;
  QSizeF pictureSize_;
  QImage preview_;
  // The preview stands in for frames while it is coming; without one the
  // frames are shown at every zoom.
  bool previewAbsent_ = false;
  FrameCache cache_;
  // Frames delivered since the view last changed: not asked for again in
  // this view even when the cache had to drop them, so that a cache too
  // small for the screen cannot make the loader decode for ever.
  std::unordered_set<FrameKey, FrameKeyHash> delivered_;
  QString damage_;

  double zoom_ = 1;
  QPointF origin_;      // the widget's top-left in zoomed picture pixels, whole numbers
  bool fitted_ = true;  // the picture follows the canvas's size until zoomed or panned
  bool outlines_ = false;
  std::optional<QPoint> dragFrom_;
  std::optional<QPoint> hover_;
  int wheelAngle_ = 0;

  std::unique_ptr<FrameLoader> loader_;  // last: its workers stop first
};

}  // namespace rzt2
