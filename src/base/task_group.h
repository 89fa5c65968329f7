// TaskGroup: the one way work is posted to a ThreadPool. Post and count; a
// wait that runs queued tasks meanwhile; cancel. Every task runs under the
// memory guard and returns a Status: the first failure is kept, the tasks
// of the group not started by then are skipped, and Wait returns it. The
// destructor cancels what has not started and waits for what runs, so no
// task outlives what it works on, whatever ends its poster (a return, a
// failure, an exception), and no waiter is left waiting.
//
// Without a pool the group runs each task at once, on the posting thread:
// a sequential mode with the same results, for one thread.
#pragma once

#include <atomic>
#include <functional>
#include <string_view>

#include "base/status.h"
#include "base/thread_pool.h"

namespace rzt2 {

class TaskGroup {
 public:
  // kind names the group's tasks in the pool's backstop message.
  TaskGroup(ThreadPool* pool, std::string_view kind) : pool_(pool), kind_(kind) {}
  ~TaskGroup();
  TaskGroup(const TaskGroup&) = delete;
  TaskGroup& operator=(const TaskGroup&) = delete;

  // A short task: it may wait for other groups, never for anything else.
  // Never throws: a task that cannot be queued (memory ran out) fails the
  // group with OutOfMemory instead of running.
  void Run(std::function<Status()> task) noexcept { Add(std::move(task), false); }
  // A long task, which may wait for anything (a decoder's rows, frames):
  // only the pool's own threads and this group's Wait start it, and no
  // other group's wait. Without workers it runs in Wait.
  void RunLong(std::function<Status()> task) noexcept { Add(std::move(task), true); }

  // Runs queued tasks until every task of the group has ended. The first
  // failure, else Cancelled after Cancel, else Ok. More tasks may be run
  // and waited for afterwards.
  Status Wait() noexcept;
  // Waits, running queued tasks, until ready() holds or the group has
  // failed; ready is checked whenever a task ends and must read only what
  // tasks publish before they end. The group's failure, or Ok.
  Status WaitUntil(const std::function<bool()>& ready) noexcept;

  // Tasks not started are skipped from now on; those running go on and may
  // look at Cancelled.
  void Cancel() noexcept { cancelled_.store(true, std::memory_order_relaxed); }
  bool Cancelled() const noexcept { return cancelled_.load(std::memory_order_relaxed); }
  // The first failure so far; Ok while there is none.
  Status Failure() const noexcept { return failure_.load(std::memory_order_acquire); }

 private:
  void Add(std::function<Status()> task, bool isLong) noexcept;
  // Runs task under the memory guard, unless the group has failed or is
  // cancelled, and keeps its failure. What the guard does not catch goes on
  // to the pool's backstop.
  void RunNow(std::function<Status()>& task);
  void Fail(Status status) noexcept;

  ThreadPool* pool_;
  std::string_view kind_;
  std::atomic<int> pending_{0};  // queued or running
  std::atomic<bool> cancelled_{false};
  std::atomic<Status> failure_{Status::Ok};
};

}  // namespace rzt2
