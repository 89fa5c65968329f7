#include "base/thread_pool.h"

namespace rzt2 {

ThreadPool::ThreadPool(int threads) {
  for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
}

ThreadPool::~ThreadPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  workers_.clear();
  // Without workers, what is left runs here.
  HelpUntil([this] { return tasks_.empty(); });
}

void ThreadPool::Post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  changed_.notify_all();
}

void ThreadPool::PostLong(std::function<void()> task) {
  if (workers_.empty()) {
    task();  // no worker would ever take it
    return;
  }
  {
    std::lock_guard lock(mutex_);
    longTasks_.push_back(std::move(task));
  }
  changed_.notify_all();
}

void ThreadPool::Notify() {
  { std::lock_guard lock(mutex_); }
  changed_.notify_all();
}

void ThreadPool::HelpUntil(const std::function<bool()>& done) {
  std::unique_lock lock(mutex_);
  while (!done()) {
    if (tasks_.empty()) {
      changed_.wait(lock);
      continue;
    }
    const std::function<void()> task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    lock.lock();
    changed_.notify_all();
  }
}

void ThreadPool::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    std::deque<std::function<void()>>& queue = !tasks_.empty() ? tasks_ : longTasks_;
    if (queue.empty()) {
      if (stopping_) return;
      changed_.wait(lock);
      continue;
    }
    const std::function<void()> task = std::move(queue.front());
    queue.pop_front();
    lock.unlock();
    task();
    lock.lock();
    changed_.notify_all();
  }
}

}  // namespace rzt2
