#include "ui/viewer/map_canvas.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace rzt2 {

namespace {

const QColor kBackground(128, 128, 128);
const QColor kOutline(0, 120, 255);
const QColor kDamage(220, 0, 0);
constexpr int kWheelStep = 120;  // one notch of a wheel
constexpr int kPanParts = 4;     // an arrow key pans by a quarter of the view

// A frame edge in widget pixels. Rounding half up is the same for every
// edge shifted by a whole number, so that with a whole-numbered origin
// frames keep their size wherever they are, and at a level's own zoom
// they are copied 1:1.
int edge(double position) { return static_cast<int>(std::floor(position + 0.5)); }

// The origin along one axis: the picture centred when it is smaller than
// the view, else kept covering it.
double clampAxis(double origin, double extent, int view) {
  if (extent <= view) return std::round((extent - view) / 2);
  return std::clamp(std::round(origin), 0.0, std::ceil(extent - view));
}

void drawDamage(QPainter& painter, const QRect& rect) {
  // The wide pen stays inside the square.
  painter.save();
  painter.setClipRect(rect);
  painter.fillRect(rect, Qt::white);
  painter.setPen(QPen(kDamage, 2));
  painter.drawLine(rect.topLeft(), rect.bottomRight());
  painter.drawLine(rect.topRight(), rect.bottomLeft());
  painter.drawRect(rect.adjusted(1, 1, -1, -1));
  painter.restore();
}

}  // namespace

MapCanvas::MapCanvas(std::shared_ptr<const MapFileReader> reader, size_t cacheBytes, int loaderThreads,
                     QWidget* parent)
    : QWidget(parent),
      reader_(std::move(reader)),
      levels_(storedLevels(*reader_)),
      indexes_(levels_.size()),
      cache_(cacheBytes),
      loader_(std::make_unique<FrameLoader>(reader_, loaderThreads)) {
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setCursor(Qt::OpenHandCursor);
  setAttribute(Qt::WA_OpaquePaintEvent);
  const MapHeader& header = reader_->Header();
  const ViewLevel& first = levels_.front();
  // A file that gives no picture size shows its first level's grid whole.
  pictureSize_ = header.imageWidth != 0 && header.imageHeight != 0
                     ? QSizeF(header.imageWidth, header.imageHeight)
                     : QSizeF(static_cast<double>(first.entry.columns * first.coverWidth),
                              static_cast<double>(first.entry.rows * first.coverHeight));
  pictureSize_ = pictureSize_.expandedTo(QSizeF(1, 1));
  connect(loader_.get(), &FrameLoader::frameDecoded, this, &MapCanvas::onFrameDecoded);
  connect(loader_.get(), &FrameLoader::previewDecoded, this, &MapCanvas::onPreviewDecoded);
  connect(loader_.get(), &FrameLoader::indexRead, this, &MapCanvas::onIndexRead);
  loader_->loadPreview();
}

MapCanvas::~MapCanvas() = default;

QSize MapCanvas::sizeHint() const { return {800, 600}; }

bool MapCanvas::showsFrames() const {
  const auto coarsest = std::min_element(levels_.begin(), levels_.end(),
                                         [](const auto& a, const auto& b) { return a.zoom() < b.zoom(); });
  return previewAbsent_ || zoom_ >= coarsest->zoom() / 2;
}

QPointF MapCanvas::toPicture(QPointF point) const { return (point + origin_) / zoom_; }

QPointF MapCanvas::toWidget(QPointF picturePoint) const { return picturePoint * zoom_ - origin_; }

std::optional<QPointF> MapCanvas::hoveredPoint() const {
  if (!hover_) return std::nullopt;
  return toPicture(QPointF(*hover_));
}

double MapCanvas::fitZoom() const {
  const double zoom =
      std::min(std::max(width(), 1) / pictureSize_.width(), std::max(height(), 1) / pictureSize_.height());
  return std::min(zoom, kMaxZoom);
}

double MapCanvas::minZoom() const {
  double coarsest = kMaxZoom;
  for (const ViewLevel& level : levels_) coarsest = std::min(coarsest, level.zoom());
  return std::min(fitZoom(), coarsest);
}

void MapCanvas::fit() {
  zoom_ = fitZoom();
  fitted_ = true;
  viewChanged();
}

QPointF MapCanvas::zoomAnchor() const {
  return hover_ ? QPointF(*hover_) : QPointF(width() / 2.0, height() / 2.0);
}

void MapCanvas::zoomIn() { zoomAbout(nextZoom(levels_, zoom_, minZoom(), true), zoomAnchor()); }

void MapCanvas::zoomOut() { zoomAbout(nextZoom(levels_, zoom_, minZoom(), false), zoomAnchor()); }

void MapCanvas::zoomAbout(double zoom, QPointF anchor) {
  const QPointF fixed = toPicture(anchor);
  zoom_ = std::clamp(zoom, minZoom(), kMaxZoom);
  origin_ = fixed * zoom_ - anchor;
  fitted_ = false;
  viewChanged();
}

void MapCanvas::panBy(QPoint delta) {
  origin_ += QPointF(delta);
  fitted_ = false;
  viewChanged();
}

void MapCanvas::setOutlines(bool on) {
  outlines_ = on;
  update();
}

void MapCanvas::viewChanged() {
  origin_ = QPointF(clampAxis(origin_.x(), pictureSize_.width() * zoom_, width()),
                    clampAxis(origin_.y(), pictureSize_.height() * zoom_, height()));
  level_ = nearestLevel(levels_, zoom_);
  delivered_.clear();
  requestFrames();
  update();
  emit statusChanged();
}

void MapCanvas::requestIndex() {
  LevelIndex& index = indexes_[level_];
  if (index.requested) return;
  index.requested = true;
  loader_->readIndex(level_, levels_[level_].entry);
}

void MapCanvas::onIndexRead(size_t levelPosition, Status status,
                            const std::shared_ptr<const FrameIndex>& index) {
  LevelIndex& level = indexes_[levelPosition];
  level.read = true;
  level.status = status;
  level.index = index;
  if (status != Status::Ok)
    damage_ = QStringLiteral("level %1: %2").arg(levels_[levelPosition].index).arg(StatusText(status));
  if (levelPosition == level_) requestFrames();
  update();
  emit statusChanged();
}

void MapCanvas::onPreviewDecoded(const DecodedFrame& preview) {
  preview_ = preview.image;
  previewAbsent_ = preview_.isNull();
  // Without a preview the frames stand for it at every zoom.
  if (previewAbsent_) {
    viewChanged();
  } else {
    update();
  }
}

MapCanvas::Span MapCanvas::visibleFrames() const {
  const ViewLevel& shown = level();
  if (!showsFrames() || width() <= 0 || height() <= 0) return {};
  const double frameW = static_cast<double>(shown.coverWidth) * zoom_;
  const double frameH = static_cast<double>(shown.coverHeight) * zoom_;
  // One frame more on each side than the exact bounds, for the rounding
  // of edges; frameRect then decides.
  const auto range = [](double from, double to, double size, uint32_t count, uint32_t& first,
                        uint32_t& last) {
    const double low = std::floor(from / size) - 1, high = std::floor(to / size) + 1;
    if (high < 0 || low >= count) return false;
    first = static_cast<uint32_t>(std::max(low, 0.0));
    last = static_cast<uint32_t>(std::min(high, count - 1.0));
    return true;
  };
  Span span;
  span.empty =
      !range(origin_.x(), origin_.x() + width(), frameW, shown.entry.columns, span.firstColumn,
             span.lastColumn) ||
      !range(origin_.y(), origin_.y() + height(), frameH, shown.entry.rows, span.firstRow, span.lastRow);
  return span;
}

QRect MapCanvas::frameRect(uint32_t column, uint32_t row) const {
  const ViewLevel& shown = level();
  const double left = static_cast<double>(column * shown.coverWidth) * zoom_ - origin_.x();
  const double top = static_cast<double>(row * shown.coverHeight) * zoom_ - origin_.y();
  const double right = static_cast<double>((column + 1) * shown.coverWidth) * zoom_ - origin_.x();
  const double bottom = static_cast<double>((row + 1) * shown.coverHeight) * zoom_ - origin_.y();
  return QRect(QPoint(edge(left), edge(top)), QPoint(edge(right) - 1, edge(bottom) - 1));
}

QString MapCanvas::frameName(const FrameKey& key) const {
  return QStringLiteral("frame %1, %2 of level %3").arg(key.column).arg(key.row).arg(key.level);
}

void MapCanvas::requestFrames() {
  const Span span = visibleFrames();
  if (!span.empty) requestIndex();
  const LevelIndex& index = levelIndex();
  std::vector<FrameLoader::Request> wanted;
  if (!span.empty && index.index) {
    for (uint32_t row = span.firstRow; row <= span.lastRow; ++row) {
      for (uint32_t column = span.firstColumn; column <= span.lastColumn; ++column) {
        const FrameKey key = keyOf(column, row);
        if (!frameRect(column, row).intersects(rect()) || delivered_.contains(key) || cache_.find(key))
          continue;
        wanted.push_back({key, index.index});
      }
    }
  }
  // The middle of the view first.
  const QPointF middle(width() / 2.0, height() / 2.0);
  const auto distance = [&](const FrameLoader::Request& request) {
    const QPointF offset = QRectF(frameRect(request.key.column, request.key.row)).center() - middle;
    return offset.x() * offset.x() + offset.y() * offset.y();
  };
  std::sort(wanted.begin(), wanted.end(),
            [&](const auto& a, const auto& b) { return distance(a) < distance(b); });
  loader_->request(std::move(wanted));
}

void MapCanvas::onFrameDecoded(const FrameKey& key, const DecodedFrame& frame) {
  cache_.insert(key, frame);
  delivered_.insert(key);
  if (frame.status != Status::Ok) damage_ = frameName(key) + ": " + StatusText(frame.status);
  update();
  emit statusChanged();
}

QString MapCanvas::describeFrameAt(QPointF picturePoint) {
  const ViewLevel& shown = level();
  if (!showsFrames() || picturePoint.x() < 0 || picturePoint.y() < 0) return {};
  const double column = std::floor(picturePoint.x() / static_cast<double>(shown.coverWidth));
  const double row = std::floor(picturePoint.y() / static_cast<double>(shown.coverHeight));
  if (column >= shown.entry.columns || row >= shown.entry.rows) return {};
  const FrameKey key = keyOf(static_cast<uint32_t>(column), static_cast<uint32_t>(row));
  const LevelIndex& index = levelIndex();
  if (!index.read) return QStringLiteral("level %1: reading its frame index").arg(key.level);
  if (!index.index) return QStringLiteral("level %1: %2").arg(key.level).arg(StatusText(index.status));
  if (const DecodedFrame* frame = cache_.find(key); frame && frame->status != Status::Ok)
    return frameName(key) + ": " + StatusText(frame->status);
  return frameName(key) + QStringLiteral(": %1 bytes").arg(index.index->Ref(key.column, key.row).size);
}

void MapCanvas::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), kBackground);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  // Frames at the right and bottom are padded past the picture, which an
  // export leaves out too: only the picture's own area is drawn.
  painter.setClipRect(QRectF(toWidget(QPointF(0, 0)), pictureSize_ * zoom_));
  const Span span = visibleFrames();
  const bool damagedLevel = !span.empty && levelIndex().read && !levelIndex().index;
  struct Shown {
    QRect rect;
    const DecodedFrame* frame;
  };
  std::vector<Shown> frames;
  bool missing = !showsFrames();
  if (!span.empty) {
    for (uint32_t row = span.firstRow; row <= span.lastRow; ++row) {
      for (uint32_t column = span.firstColumn; column <= span.lastColumn; ++column) {
        const QRect place = frameRect(column, row);
        if (!place.intersects(rect())) continue;
        const DecodedFrame* frame = damagedLevel ? nullptr : cache_.find(keyOf(column, row));
        missing = missing || (!frame && !damagedLevel);
        frames.push_back({place, frame});
      }
    }
  }
  if (missing && !preview_.isNull()) {
    // The part of the picture in view, from the preview.
    const QRectF picture(toWidget(QPointF(0, 0)), pictureSize_ * zoom_);
    const QRectF target = picture.intersected(QRectF(rect()));
    const double sx = preview_.width() / picture.width(), sy = preview_.height() / picture.height();
    const QRectF source((target.x() - picture.x()) * sx, (target.y() - picture.y()) * sy, target.width() * sx,
                        target.height() * sy);
    if (!target.isEmpty()) painter.drawImage(target, preview_, source);
  }
  for (const Shown& shown : frames) {
    if (damagedLevel || (shown.frame && shown.frame->status != Status::Ok)) {
      drawDamage(painter, shown.rect);
    } else if (shown.frame) {
      painter.drawImage(shown.rect, shown.frame->image);
    }
  }
  if (outlines_) {
    painter.setPen(QPen(kOutline, 1));
    painter.setBrush(Qt::NoBrush);
    for (const Shown& shown : frames) painter.drawRect(shown.rect.adjusted(0, 0, -1, -1));
  }
}

void MapCanvas::resizeEvent(QResizeEvent* event) {
  if (fitted_) {
    zoom_ = fitZoom();
  } else {
    // The picture point in the middle stays there.
    const QPointF before = QPointF(event->oldSize().width(), event->oldSize().height()) / 2;
    origin_ += before - QPointF(width() / 2.0, height() / 2.0);
    origin_ = QPointF(std::round(origin_.x()), std::round(origin_.y()));
  }
  viewChanged();
}

void MapCanvas::keyPressEvent(QKeyEvent* event) {
  const int stepX = std::max(width() / kPanParts, 1), stepY = std::max(height() / kPanParts, 1);
  switch (event->key()) {
    case Qt::Key_Left:
      return panBy(QPoint(-stepX, 0));
    case Qt::Key_Right:
      return panBy(QPoint(stepX, 0));
    case Qt::Key_Up:
      return panBy(QPoint(0, -stepY));
    case Qt::Key_Down:
      return panBy(QPoint(0, stepY));
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      return zoomIn();
    case Qt::Key_Minus:
      return zoomOut();
    case Qt::Key_Home:
      return fit();
    default:
      QWidget::keyPressEvent(event);
  }
}

void MapCanvas::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  dragFrom_ = event->position().toPoint();
  setCursor(Qt::ClosedHandCursor);
}

void MapCanvas::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  hover_ = at;
  if (dragFrom_) {
    const QPoint delta = *dragFrom_ - at;
    dragFrom_ = at;
    panBy(delta);
  } else {
    emit statusChanged();
  }
}

void MapCanvas::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
  dragFrom_.reset();
  setCursor(Qt::OpenHandCursor);
}

void MapCanvas::wheelEvent(QWheelEvent* event) {
  // Fine-grained wheels and touchpads send parts of a notch.
  wheelAngle_ += event->angleDelta().y();
  hover_ = event->position().toPoint();
  for (; wheelAngle_ >= kWheelStep; wheelAngle_ -= kWheelStep) zoomIn();
  for (; wheelAngle_ <= -kWheelStep; wheelAngle_ += kWheelStep) zoomOut();
  event->accept();
}

void MapCanvas::leaveEvent(QEvent* event) {
  hover_.reset();
  QWidget::leaveEvent(event);
  emit statusChanged();
}

}  // namespace rzt2
