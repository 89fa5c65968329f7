// PictureWorker: the one thread on which the main window's pictures are
// loaded, drawn and written, so that the window's own thread only paints
// and answers the user. It owns the current picture (a SourceLoader) that
// the preview and the jobs share: tasks run one after the other, in the
// order posted, and only they touch it. Tasks must not touch widgets; they
// hand their results to the window's thread (QMetaObject::invokeMethod).
#pragma once

#include <functional>

#include "base/worker_queue.h"
#include "jobs/source_loader.h"

namespace rzt2 {

class PictureWorker {
 public:
  using Task = std::function<void(SourceLoader&)>;

  PictureWorker() = default;
  // Drops the tasks not started and waits for the one running.
  ~PictureWorker() = default;
  PictureWorker(const PictureWorker&) = delete;
  PictureWorker& operator=(const PictureWorker&) = delete;

  void post(Task task);

 private:
  SourceLoader loader_;
  WorkerQueue queue_;  // last: it stops, and drops its tasks, before the loader goes
};

}  // namespace rzt2
