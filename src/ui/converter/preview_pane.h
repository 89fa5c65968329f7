// The preview pane: a picture scaled to fit the pane with its proportions
// kept, centred on white. The scaled picture is built exactly as large as
// the pane, in device pixels, and painted 1:1. Building it may take long
// for a large picture, so it is done apart from the pane, on any thread;
// meanwhile the pane says "Loading ...", and for a picture that cannot be
// shown it says so in a short note.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <cstdint>

#include "imaging/image_handle.h"
#include "raster/bitmap.h"

class QTimer;

namespace rzt2 {

// Where a width x height picture goes in a paneWidth x paneHeight pane:
// scale and offsets in single precision, every result cut toward zero.
Rect placePreview(uint32_t width, uint32_t height, int32_t paneWidth, int32_t paneHeight);

// A 24-bit picture of the pane's size: white, with picture drawn at
// placePreview's rectangle. Null when picture is empty or the pane has
// no area.
QImage renderPreview(ImageHandle& picture, int32_t paneWidth, int32_t paneHeight);

class PreviewPane final : public QWidget {
  Q_OBJECT

 public:
  explicit PreviewPane(QWidget* parent = nullptr);

  // Shows picture (of pixelSize(), or null for white only) and no note.
  void setPicture(QImage picture);
  // White, with "Loading ..." once a load has taken a moment.
  void showLoading();
  // White, with note in the middle.
  void showNote(const QString& note);
  const QString& note() const { return note_; }
  bool hasPicture() const { return !picture_.isNull(); }
  // The pane's size in device pixels.
  QSize pixelSize() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  // The pane has a new size: a picture shown must be built again.
  void resized();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  static QString loadingNote();

  QImage picture_;
  QString note_;
  QTimer* loadingDelay_;
};

}  // namespace rzt2
