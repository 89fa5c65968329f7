#include "base/thread_pool.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <system_error>

namespace rzt2 {

ThreadPool::ThreadPool(int threads) {
  // A thread that cannot be started must not leave those started waiting
  // for work forever while the failed constructor joins them. One refused
  // for want of resources (EAGAIN) is memory running out by another name,
  // which every caller's guard already reports.
  try {
    for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
  } catch (const std::system_error&) {
    StopWorkers();
    throw std::bad_alloc();
  } catch (...) {
    StopWorkers();
    throw;
  }
}

ThreadPool::~ThreadPool() { StopWorkers(); }

void ThreadPool::StopWorkers() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  workers_.clear();
}

void ThreadPool::Enqueue(Task task) {
  {
    std::lock_guard lock(mutex_);
    (task.isLong ? longTasks_ : tasks_).push_back(std::move(task));
  }
  changed_.notify_all();
}

void ThreadPool::Notify() {
  { std::lock_guard lock(mutex_); }
  changed_.notify_all();
}

void ThreadPool::Run(Task& task) noexcept {
  try {
    task.body();
  } catch (...) {
    EndProcessForEscaped(task.kind);
  }
}

void ThreadPool::EndProcessForEscaped(std::string_view kind) noexcept {
  // Written without allocating: memory may be what ran out.
  const char* what = "an unknown exception";
  try {
    throw;
  } catch (const std::exception& error) {
    what = error.what();
  } catch (...) {
  }
  for (const std::string_view part :
       {std::string_view("rzt2: a task of kind \""), kind, std::string_view("\" ended with "),
        std::string_view(what), std::string_view(", which no guard caught\n")}) {
    if (::write(STDERR_FILENO, part.data(), part.size()) < 0) break;
  }
  std::abort();
}

void ThreadPool::HelpUntil(const TaskGroup& mine, const std::function<bool()>& done) {
  std::unique_lock lock(mutex_);
  while (!done()) {
    std::deque<Task>* queue = &tasks_;
    auto at = tasks_.begin();
    if (tasks_.empty()) {
      queue = &longTasks_;
      at =
          std::find_if(longTasks_.begin(), longTasks_.end(), [&](const Task& t) { return t.group == &mine; });
      if (at == longTasks_.end()) {
        changed_.wait(lock);
        continue;
      }
    }
    Task task = std::move(*at);
    queue->erase(at);
    lock.unlock();
    Run(task);
    task = {};  // what it holds goes before the waiter may go on
    lock.lock();
    changed_.notify_all();
  }
}

void ThreadPool::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    std::deque<Task>& queue = !tasks_.empty() ? tasks_ : longTasks_;
    if (queue.empty()) {
      if (stopping_) return;
      changed_.wait(lock);
      continue;
    }
    Task task = std::move(queue.front());
    queue.pop_front();
    lock.unlock();
    Run(task);
    task = {};
    lock.lock();
    changed_.notify_all();
  }
}

}  // namespace rzt2
