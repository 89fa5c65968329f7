#include "ui/viewer/map_viewer.h"

#include <QAction>
#include <QLabel>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QToolTip>
#include <cmath>

#include "jobs/job_texts.h"
#include "ui/common/user_prompts.h"
#include "ui/viewer/map_canvas.h"

namespace rzt2 {

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
// The first size, when the screen has room for it and its frame.
constexpr QSize kPreferredSize(1000, 750);
constexpr double kScreenShare = 0.9;

const QString kKeys = QStringLiteral(
    "Drag or arrow keys: move\n"
    "Wheel, + and -: zoom\n"
    "Home: the whole map\n"
    "Escape or Ctrl+W: close");

QLabel* addLabel(QStatusBar* bar, const char* name, bool permanent = false) {
  auto* label = new QLabel(bar);
  label->setObjectName(QLatin1String(name));
  permanent ? bar->addPermanentWidget(label) : bar->addWidget(label);
  return label;
}

QAction* addTool(QToolBar* bar, const QString& text, const QString& tip, const char* name) {
  QAction* action = bar->addAction(text);
  action->setToolTip(tip);
  action->setObjectName(QLatin1String(name));
  return action;
}

}  // namespace

MapViewer::MapViewer(std::shared_ptr<const MapFileReader> reader, const QString& fileName,
                     const ViewerOptions& options, QWidget* parent)
    : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("%1 - RZT2 map viewer").arg(fileName));
  canvas_ = new MapCanvas(std::move(reader), options.cacheBytes, options.loaderThreads, this);
  canvas_->setObjectName(QStringLiteral("mapCanvas"));
  setCentralWidget(canvas_);
  addTools();
  addStatusLine();
  auto* close = new QAction(QStringLiteral("Close"), this);
  close->setObjectName(QStringLiteral("closeAction"));
  close->setShortcuts({QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)});
  addAction(close);
  connect(close, &QAction::triggered, this, &QWidget::close);
  canvas_->setFocus();
  // Within the screen's available area at any scale, with room for the
  // window's frame, which is not known before the window is shown.
  const QSize room = screen()->availableGeometry().size() * kScreenShare;
  resize(kPreferredSize.boundedTo(room));
}

void MapViewer::addTools() {
  // The keys belong to the canvas; the buttons only show that they exist.
  QToolBar* tools = addToolBar(QStringLiteral("View"));
  tools->setMovable(false);
  tools->setFocusPolicy(Qt::NoFocus);
  connect(addTool(tools, QStringLiteral("Fit"), QStringLiteral("Show the whole map (Home)"), "fitAction"),
          &QAction::triggered, canvas_, &MapCanvas::fit);
  connect(addTool(tools, QStringLiteral("Zoom in"), QStringLiteral("Zoom in (+, wheel)"), "zoomInAction"),
          &QAction::triggered, canvas_, &MapCanvas::zoomIn);
  connect(addTool(tools, QStringLiteral("Zoom out"), QStringLiteral("Zoom out (-, wheel)"), "zoomOutAction"),
          &QAction::triggered, canvas_, &MapCanvas::zoomOut);
  tools->addSeparator();
  QAction* outlines = addTool(tools, QStringLiteral("Outline frames"),
                              QStringLiteral("Draw the edge of every frame"), "outlineAction");
  outlines->setCheckable(true);
  connect(outlines, &QAction::toggled, canvas_, &MapCanvas::setOutlines);
  tools->addSeparator();
  // The keys as a tooltip of their own button, and on a click.
  QAction* keys = addTool(tools, QStringLiteral("Keys"), kKeys, "keysAction");
  connect(keys, &QAction::triggered, this, [tools, keys] {
    const QWidget* button = tools->widgetForAction(keys);
    QToolTip::showText(button->mapToGlobal(QPoint(0, button->height())), kKeys, tools);
  });
}

void MapViewer::addStatusLine() {
  QStatusBar* status = statusBar();
  levelLabel_ = addLabel(status, "levelLabel");
  zoomLabel_ = addLabel(status, "zoomLabel");
  positionLabel_ = addLabel(status, "positionLabel");
  frameLabel_ = addLabel(status, "frameLabel");
  damageLabel_ = addLabel(status, "damageLabel", true);
  damageLabel_->setStyleSheet(QStringLiteral("color: #c00000"));
  cacheLabel_ = addLabel(status, "cacheLabel", true);
  connect(canvas_, &MapCanvas::statusChanged, this, &MapViewer::updateStatus);
  updateStatus();
}

void MapViewer::updateStatus() {
  levelLabel_->setText(canvas_->showsFrames()
                           ? QStringLiteral("Level %1 %").arg(canvas_->level().entry.scale / 100.0)
                           : QStringLiteral("Preview"));
  zoomLabel_->setText(QStringLiteral("Zoom %1 %").arg(canvas_->zoom() * 100, 0, 'g', 3));
  const std::optional<QPointF> point = canvas_->hoveredPoint();
  const QSizeF picture = canvas_->pictureSize();
  if (point && point->x() >= 0 && point->y() >= 0 && point->x() < picture.width() &&
      point->y() < picture.height()) {
    positionLabel_->setText(QStringLiteral("x %1, y %2")
                                .arg(std::floor(point->x()), 0, 'f', 0)
                                .arg(std::floor(point->y()), 0, 'f', 0));
  } else {
    positionLabel_->clear();
  }
  frameLabel_->setText(point ? canvas_->describeFrameAt(*point) : QString());
  damageLabel_->setText(canvas_->damage());
  const FrameCache& cache = canvas_->cache();
  QString cacheText = QStringLiteral("%1 frames decoded, cache %2 of %3 MiB")
                          .arg(cache.insertions())
                          .arg(static_cast<double>(cache.bytes()) / kMiB, 0, 'f', 1)
                          .arg(static_cast<double>(cache.limit()) / kMiB, 0, 'f', 1);
  if (const int loading = canvas_->framesLoading(); loading > 0)
    cacheText += QStringLiteral(", %1 loading").arg(loading);
  cacheLabel_->setText(cacheText);
}

MapViewer* openMapViewer(const std::string& path, UserPrompts& prompts, QWidget* parent,
                         const ViewerOptions& options) {
  const std::string name = FileNameOf(path);
  std::unique_ptr<MapFileReader> reader;
  if (const Status status = MapFileReader::Open(path, reader); status != Status::Ok) {
    prompts.showMessage(parent, QString::fromStdString(FormatText(kErrorLoadingFile, name)),
                        QStringLiteral("Error"), MessageIcon::Error, QString::fromUtf8(StatusText(status)));
    return nullptr;
  }
  auto* viewer = new MapViewer(std::move(reader), QString::fromStdString(name), options, parent);
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  viewer->show();
  return viewer;
}

}  // namespace rzt2
