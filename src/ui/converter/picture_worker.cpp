#include "ui/converter/picture_worker.h"

namespace rzt2 {

PictureWorker::PictureWorker() : thread_([this](const std::stop_token& stop) { run(stop); }) {}

void PictureWorker::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void PictureWorker::run(const std::stop_token& stop) {
  for (;;) {
    Task task;
    {
      std::unique_lock lock(mutex_);
      if (!wake_.wait(lock, stop, [this] { return !tasks_.empty(); })) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task(loader_);
  }
}

}  // namespace rzt2
