#include "ui/converter/picture_worker.h"

namespace rzt2 {

void PictureWorker::post(Task task) {
  queue_.Post([this, task = std::move(task)] { task(loader_); });
}

}  // namespace rzt2
