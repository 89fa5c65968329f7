#include "base/task_group.h"

#include <new>
#include <stdexcept>

namespace rzt2 {

TaskGroup::~TaskGroup() {
  Cancel();
  Wait();
}

void TaskGroup::Fail(Status status) noexcept {
  Status none = Status::Ok;
  failure_.compare_exchange_strong(none, status, std::memory_order_acq_rel);
}

void TaskGroup::RunNow(std::function<Status()>& task) {
  if (!Cancelled() && Failure() == Status::Ok) {
    // The memory guard's catch, without its noexcept: anything else goes on
    // to the backstop, which names the task.
    try {
      if (const Status status = task(); status != Status::Ok) Fail(status);
    } catch (const std::bad_alloc&) {
      Fail(Status::OutOfMemory);
    } catch (const std::length_error&) {
      Fail(Status::OutOfMemory);
    }
  }
  task = nullptr;  // what it holds goes before its waiter may go on
}

void TaskGroup::Add(std::function<Status()> task, bool isLong) noexcept {
  if (pool_ == nullptr) {
    try {
      RunNow(task);
    } catch (...) {
      ThreadPool::EndProcessForEscaped(kind_);
    }
    return;
  }
  pending_.fetch_add(1, std::memory_order_relaxed);
  try {
    pool_->Enqueue({[this, task = std::move(task)]() mutable {
                      RunNow(task);
                      // The last touch of the group: its waiter may destroy it next.
                      pending_.fetch_sub(1, std::memory_order_release);
                    },
                    this, isLong, kind_});
  } catch (const std::bad_alloc&) {
    pending_.fetch_sub(1, std::memory_order_relaxed);
    Fail(Status::OutOfMemory);
  }
}

Status TaskGroup::WaitUntil(const std::function<bool()>& ready) noexcept {
  if (pool_ != nullptr) {
    pool_->HelpUntil(*this, [&] { return Failure() != Status::Ok || ready(); });
  }
  return Failure();
}

Status TaskGroup::Wait() noexcept {
  if (pool_ != nullptr) {
    pool_->HelpUntil(*this, [this] { return pending_.load(std::memory_order_acquire) == 0; });
  }
  const Status failure = Failure();
  return failure == Status::Ok && Cancelled() ? Status::Cancelled : failure;
}

}  // namespace rzt2
