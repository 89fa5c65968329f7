#include "base/worker_queue.h"

#include "base/status.h"

namespace rzt2 {

WorkerQueue::WorkerQueue(int threads) {
  threads_.reserve(static_cast<size_t>(threads));
  for (int i = 0; i < threads; ++i)
    threads_.emplace_back([this](const std::stop_token& stop) { Work(stop); });
}

void WorkerQueue::Post(Task task) {
  {
    const std::lock_guard lock(mutex_);
    if (stopped_) return;
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void WorkerQueue::Stop() {
  std::deque<Task> dropped;
  {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
    dropped.swap(tasks_);
  }
  for (std::jthread& thread : threads_) thread.request_stop();
  threads_.clear();  // joins
}

size_t WorkerQueue::Queued() const {
  const std::lock_guard lock(mutex_);
  return tasks_.size();
}

void WorkerQueue::Work(const std::stop_token& stop) {
  for (;;) {
    Task task;
    {
      std::unique_lock lock(mutex_);
      // Stop empties the queue before it asks the threads to stop.
      if (!wake_.wait(lock, stop, [this] { return !tasks_.empty(); })) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    // A task that runs out of memory ends without its result, not the process.
    GuardMemory([&] {
      task();
      return Status::Ok;
    });
  }
}

}  // namespace rzt2
