// A fixed set of worker threads for CPU work. Short tasks (the frames of a
// map file) never wait for anything; a thread that waits for some of them
// runs queued ones meanwhile (HelpUntil), so waiting leaves no core idle
// while work is queued and cannot deadlock the pool. Long tasks (whole
// files, which wait for their frames) run only on the pool's own threads,
// when no short task is queued; a pool without threads runs each at once,
// on the thread that posts it.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace rzt2 {

class ThreadPool {
 public:
  // threads workers; with none, short tasks run only inside HelpUntil, on
  // the thread that waits for them, in the order they were posted, and
  // PostLong runs its task before it returns.
  explicit ThreadPool(int threads);
  // Runs every queued task, then joins the workers.
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  int Threads() const { return static_cast<int>(workers_.size()); }

  // Tasks must not throw. Posting may throw std::bad_alloc.
  void Post(std::function<void()> task);
  void PostLong(std::function<void()> task);

  // Runs queued short tasks on the calling thread until done() holds. done
  // is checked under the pool's lock whenever a task ends, so it must read
  // only what tasks publish before ending (or call Notify after changing it).
  void HelpUntil(const std::function<bool()>& done);
  // Wakes waiters whose done() changed outside a task.
  void Notify();

 private:
  void Work();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> tasks_;
  std::deque<std::function<void()>> longTasks_;
  bool stopping_ = false;
  std::vector<std::jthread> workers_;
};

}  // namespace rzt2
