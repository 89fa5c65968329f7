#include "ui/converter/preview_pane.h"

#include <QPainter>
#include <QTimer>
#include <cmath>
#include <cstring>

#include "imaging/surface.h"

namespace rzt2 {

namespace {

constexpr uint32_t kOpaqueWhite = 0xFFFFFFFFu;
// The pane's preferred size in average characters and lines of its font.
constexpr int kWidthChars = 90;
constexpr int kHeightLines = 35;
// A picture that takes longer than this to load is said to be loading.
constexpr int kLoadingDelayMs = 200;

// Rgb24 rows are B,G,R, which is Qt's BGR888.
QImage toQImage(const ImageHandle& handle) {
  const Bitmap* bitmap = handle.GetBitmap();
  if (!bitmap || bitmap->Format() != PixelFormat::Rgb24) return QImage();
  QImage image(bitmap->Width(), bitmap->Height(), QImage::Format_BGR888);
  if (image.isNull()) return image;
  const size_t rowBytes = static_cast<size_t>(bitmap->Width()) * 3;
  for (int32_t y = 0; y < bitmap->Height(); ++y) std::memcpy(image.scanLine(y), bitmap->Row(y), rowBytes);
  return image;
}

}  // namespace

Rect placePreview(uint32_t width, uint32_t height, int32_t paneWidth, int32_t paneHeight) {
  const float w = static_cast<float>(width);
  const float h = static_cast<float>(height);
  const float cw = static_cast<float>(paneWidth);
  const float ch = static_cast<float>(paneHeight);
  const float sx = cw / w;
  const float sy = ch / h;
  Rect rect;
  float scale = sx;
  if (sy < sx) {
    scale = sy;
    rect.x = static_cast<int32_t>((cw - w * scale) * 0.5f);
  } else {
    rect.y = static_cast<int32_t>((ch - h * scale) * 0.5f);
  }
  rect.width = static_cast<int32_t>(w * scale);
  rect.height = static_cast<int32_t>(h * scale);
  return rect;
}

QImage renderPreview(ImageHandle& picture, int32_t paneWidth, int32_t paneHeight) {
  if (picture.IsNull() || paneWidth <= 0 || paneHeight <= 0) return QImage();
  const uint32_t width = picture.Width();
  const uint32_t height = picture.Height();
  if (width == 0 || height == 0) return QImage();
  ImageHandle preview = ImageHandle::CreateBlank(paneWidth, paneHeight, PixelFormat::Rgb24);
  if (preview.IsNull()) return QImage();
  Surface surface(preview);
  surface.Clear(kOpaqueWhite);
  surface.DrawImage(picture, placePreview(width, height, paneWidth, paneHeight));
  return toQImage(preview);
}

PreviewPane::PreviewPane(QWidget* parent) : QWidget(parent), loadingDelay_(new QTimer(this)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  loadingDelay_->setSingleShot(true);
  loadingDelay_->setInterval(kLoadingDelayMs);
  connect(loadingDelay_, &QTimer::timeout, this, [this] { showNote(loadingNote()); });
}

void PreviewPane::setPicture(QImage picture) {
  loadingDelay_->stop();
  note_.clear();
  picture_ = std::move(picture);
  picture_.setDevicePixelRatio(devicePixelRatioF());
  update();
}

void PreviewPane::showLoading() {
  if (note_ == loadingNote()) return;
  // A quick load keeps the picture before it until the next one is ready;
  // a note about the file before goes at once.
  if (!note_.isEmpty()) {
    note_.clear();
    update();
  }
  if (!loadingDelay_->isActive()) loadingDelay_->start();
}

QString PreviewPane::loadingNote() { return tr("Loading ..."); }

void PreviewPane::showNote(const QString& note) {
  setPicture(QImage());
  note_ = note;
}

QSize PreviewPane::pixelSize() const {
  const qreal ratio = devicePixelRatioF();
  return {static_cast<int>(std::lround(width() * ratio)), static_cast<int>(std::lround(height() * ratio))};
}

QSize PreviewPane::sizeHint() const {
  return {fontMetrics().averageCharWidth() * kWidthChars, fontMetrics().height() * kHeightLines};
}

QSize PreviewPane::minimumSizeHint() const { return sizeHint() / 3; }

void PreviewPane::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  if (!picture_.isNull()) painter.drawImage(QPoint(0, 0), picture_);
  if (!note_.isEmpty()) {
    painter.setPen(QColor(96, 96, 96));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, note_);
  }
}

void PreviewPane::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  emit resized();
}

}  // namespace rzt2
