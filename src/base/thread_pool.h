// A fixed set of worker threads for CPU work, which every parallel step of
// the core reaches through a TaskGroup (task_group.h). Short tasks (the
// frames of a map file) never wait for anything but other groups' tasks; a
// thread that waits for its group runs queued short tasks meanwhile, so
// waiting leaves no core idle while work is queued and cannot deadlock the
// pool. Long tasks (whole files, which wait for their frames) run only on
// the pool's own threads, when no short task is queued, or in their own
// group's wait; never inside another group's wait.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

namespace rzt2 {

class TaskGroup;

class ThreadPool {
 public:
  // threads workers; with none, every task runs in its group's wait, on
  // the thread that waits.
  explicit ThreadPool(int threads);
  // Joins the workers. Groups wait for their tasks before they go, so
  // nothing is queued by then.
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  int Threads() const { return static_cast<int>(workers_.size()); }

 private:
  friend class TaskGroup;

  struct Task {
    std::function<void()> body;  // never throws what it was given to run
    const TaskGroup* group;
    bool isLong;
    std::string_view kind;  // the group's, for the message of a task that escaped its guard
  };

  // May throw std::bad_alloc.
  void Enqueue(Task task);
  // Runs queued short tasks, and long ones of mine, on the calling thread
  // until done() holds. done is checked under the pool's lock whenever a
  // task ends, so it must read only what tasks publish before ending (or
  // call Notify after changing it).
  void HelpUntil(const TaskGroup& mine, const std::function<bool()>& done);
  void Notify();
  void Work();
  void StopWorkers();
  static void Run(Task& task) noexcept;
  // The backstop, called in a catch handler: a task's group guards it
  // against memory running out, so anything else that escapes is a bug; the
  // process ends naming the task's kind, never silently.
  [[noreturn]] static void EndProcessForEscaped(std::string_view kind) noexcept;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Task> tasks_;
  std::deque<Task> longTasks_;
  bool stopping_ = false;
  std::vector<std::jthread> workers_;
};

}  // namespace rzt2
