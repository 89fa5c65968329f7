// The preview pane: a picture scaled to fit the pane with its proportions
// kept, centred on white. The scaled picture is built once, exactly as
// large as the pane, and painted 1:1.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>

#include "raster/bitmap.h"
#include "raster/image_handle.h"

namespace rzt2 {

// Where a width x height picture goes in a paneWidth x paneHeight pane:
// scale and offsets in single precision, every result cut toward zero.
Rect PlacePreview(uint32_t width, uint32_t height, int32_t paneWidth, int32_t paneHeight);

// A 24-bit picture of the pane's size: white, with picture drawn at
// PlacePreview's rectangle. Empty when picture is empty or the pane has
// no area.
ImageHandle RenderPreview(ImageHandle& picture, int32_t paneWidth, int32_t paneHeight);

class PreviewPane final : public QWidget {
  Q_OBJECT

 public:
  explicit PreviewPane(QWidget* parent = nullptr);

  // Shows bitmap (an Rgb24 picture, or empty for white only) and repaints at once.
  void SetBitmap(ImageHandle bitmap);
  const ImageHandle& Bitmap() const { return bitmap_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  ImageHandle bitmap_;
  QImage image_;  // bitmap_'s pixels as Qt paints them
};

}  // namespace rzt2
