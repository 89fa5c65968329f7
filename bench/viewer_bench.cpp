// The map viewer on a real map file: the time from opening it to the
// preview painted and to every frame in view painted, then a pan across
// the middle of the map at 100 % (a quarter of the view per step, waiting
// for the frames of each), with the time per step, the cache's peak and
// the process's peak memory; then the time a frame loader with 100 frames
// queued takes to close, against the time those frames take to decode.
// Runs on Qt's offscreen platform unless another is asked for.
//   viewer_bench MAP.rzt2
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "ui/common/user_prompts.h"
#include "ui/viewer/frame_loader.h"
#include "ui/viewer/map_canvas.h"
#include "ui/viewer/map_viewer.h"

namespace {

// Runs events until every frame asked for has come, then paints.
void settle(rzt2::MapCanvas& canvas) {
  do {
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  } while (canvas.framesLoading() > 0);
  canvas.repaint();
}

void press(rzt2::MapCanvas& canvas, int key) {
  QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(&canvas, &event);
}

// A loader on one thread given the first 100 frames of the top level.
std::unique_ptr<rzt2::FrameLoader> loaderWith100Frames(const char* path) {
  std::unique_ptr<rzt2::MapFileReader> reader;
  auto index = std::make_shared<rzt2::FrameIndex>();
  if (rzt2::MapFileReader::Open(path, reader) != rzt2::Status::Ok ||
      reader->ReadFrameIndex(reader->LevelTable()[0], *index) != rzt2::Status::Ok) {
    return nullptr;
  }
  auto loader =
      std::make_unique<rzt2::FrameLoader>(std::shared_ptr<const rzt2::MapFileReader>(std::move(reader)), 1);
  std::vector<rzt2::FrameLoader::Request> wanted;
  const uint32_t columns = index->Level().columns;
  for (uint32_t k = 0; k < 100 && k < columns * index->Level().rows; ++k) {
    wanted.push_back({{0, k % columns, k / columns}, index});
  }
  loader->request(std::move(wanted));
  return loader;
}

long peakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: viewer_bench MAP.rzt2\n");
    return 2;
  }
  rzt2::DialogPrompts prompts;
  QElapsedTimer clock;
  clock.start();
  rzt2::MapViewer* viewer = rzt2::openMapViewer(argv[1], prompts);
  if (!viewer) return 1;
  auto* canvas = viewer->findChild<rzt2::MapCanvas*>();
  QApplication::processEvents();
  canvas->repaint();
  const double preview = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  settle(*canvas);
  const double frames = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  std::printf("canvas %d x %d, picture %.0f x %.0f\n", canvas->width(), canvas->height(),
              canvas->pictureSize().width(), canvas->pictureSize().height());
  std::printf("open to preview painted:        %8.1f ms\n", preview);
  std::printf("open to frames in view painted: %8.1f ms (level %.0f %%, %llu frames)\n", frames,
              canvas->level().entry.scale / 100.0,
              static_cast<unsigned long long>(canvas->cache().insertions()));

  while (canvas->zoom() < 1) press(*canvas, Qt::Key_Plus);
  for (int i = 0; i < 200; ++i) press(*canvas, Qt::Key_Left);
  settle(*canvas);
  int steps = 0;
  double slowest = 0;
  clock.restart();
  for (double last = -1; canvas->toPicture(QPointF(0, 0)).x() != last; ++steps) {
    last = canvas->toPicture(QPointF(0, 0)).x();
    QElapsedTimer step;
    step.start();
    press(*canvas, Qt::Key_Right);
    settle(*canvas);
    slowest = std::max(slowest, static_cast<double>(step.nsecsElapsed()) / 1e6);
  }
  const double total = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  std::printf("pan at 100 %%: %d steps, %.1f ms each on average, %.1f ms at most\n", steps, total / steps,
              slowest);
  std::printf("frames decoded %llu, cache peak %.1f MiB of %.1f MiB, process peak %ld MiB\n",
              static_cast<unsigned long long>(canvas->cache().insertions()),
              static_cast<double>(canvas->cache().peakBytes()) / (1 << 20),
              static_cast<double>(canvas->cache().limit()) / (1 << 20), peakKilobytes() / 1024);
  delete viewer;

  auto closed = loaderWith100Frames(argv[1]);
  if (!closed) return 1;
  const int queued = closed->pending();
  clock.restart();
  closed.reset();
  const double closing = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  auto decoded = loaderWith100Frames(argv[1]);
  clock.restart();
  while (decoded->pending() > 0) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  const double decoding = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  std::printf("a frame loader with %d frames queued closes in %.1f ms; decoding them takes %.1f ms\n", queued,
              closing, decoding);
  return 0;
}
