// WorkerQueue: the one shape of every long-lived thread outside the pool
// (the desktop program's picture worker, the viewer's frame readers):
// threads owned by one object, running the tasks posted to it in order.
// Stop drops the tasks not started and waits for those running, so nothing
// queued runs after it; the destructor stops.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace rzt2 {

class WorkerQueue {
 public:
  using Task = std::function<void()>;

  explicit WorkerQueue(int threads = 1);
  ~WorkerQueue() { Stop(); }
  WorkerQueue(const WorkerQueue&) = delete;
  WorkerQueue& operator=(const WorkerQueue&) = delete;

  // Does nothing once stopped. May throw std::bad_alloc.
  void Post(Task task);
  // Drops what is queued, then waits for the tasks running. Not from a task.
  void Stop();
  // Tasks posted and not started.
  size_t Queued() const;

 private:
  void Work(const std::stop_token& stop);

  mutable std::mutex mutex_;
  std::condition_variable_any wake_;
  std::deque<Task> tasks_;
  bool stopped_ = false;
  std::vector<std::jthread> threads_;  // last: they start once the rest exists
};

}  // namespace rzt2
