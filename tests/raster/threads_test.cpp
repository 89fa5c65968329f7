// The task group's promises on a pool with its threads running: every task
// runs once under the memory guard and the first failure comes back from
// the wait; a failure or Cancel skips what has not started; the destructor
// waits, so nothing outlives its poster; long tasks never start inside
// another group's wait; without a pool, tasks run at once in order; and a
// task that escapes its guard ends the process naming its kind. A worker
// queue that is stopped runs nothing more of what was queued.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/task_group.h"
#include "base/worker_queue.h"

namespace rzt2 {
namespace {

// Without a pool, tasks run as they are posted, in order, long ones too.
TEST(TaskGroupTest, WithoutAPoolTasksRunAtOnceInOrder) {
  std::vector<int> order;
  TaskGroup group(nullptr, "test");
  for (int i = 0; i < 3; ++i) {
    group.Run([&order, i] {
      order.push_back(i);
      return Status::Ok;
    });
  }
  group.RunLong([&] {
    order.push_back(3);
    return Status::Ok;
  });
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(group.Wait(), Status::Ok);
}

// The first failure is what Wait returns, memory running out in a task
// among them; tasks posted after it are skipped; the process goes on.
TEST(TaskGroupTest, TheFirstFailureEndsTheGroupAndComesBackFromTheWait) {
  for (const int threads : {0, 1, 2, 8}) {
    ThreadPool pool(threads);
    std::atomic<int> ran{0};
    TaskGroup group(&pool, "test");
    group.Run([&]() -> Status {
      ++ran;
      throw std::bad_alloc();
    });
    EXPECT_EQ(group.Wait(), Status::OutOfMemory) << threads << " threads";
    for (int i = 0; i < 20; ++i) {
      group.Run([&] {
        ++ran;
        return Status::Ok;
      });
    }
    EXPECT_EQ(group.Wait(), Status::OutOfMemory);
    EXPECT_EQ(ran, 1) << "tasks after the failure are skipped";

    TaskGroup failing(&pool, "test");
    failing.Run([] { return Status::CorruptData; });
    EXPECT_EQ(failing.Wait(), Status::CorruptData);
  }
}

// Cancel skips the tasks queued behind one that holds the only worker; the
// destructor waits for the running one, whose work outlives no local.
TEST(TaskGroupTest, CancelSkipsWhatHasNotStartedAndTheDestructorWaits) {
  ThreadPool pool(1);
  std::atomic<bool> started{false}, release{false};
  std::atomic<int> ran{0};
  int finished = 0;
  {
    TaskGroup group(&pool, "test");
    group.RunLong([&] {
      started = true;
      started.notify_one();
      release.wait(false);
      finished = 1;
      return Status::Ok;
    });
    started.wait(false);
    for (int i = 0; i < 10; ++i) {
      group.RunLong([&] {
        ++ran;
        return Status::Ok;
      });
    }
    group.Cancel();
    std::jthread releaser([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      release = true;
      release.notify_one();
    });
    EXPECT_EQ(group.Wait(), Status::Cancelled);
  }
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(ran, 0);
}

// The only worker, held until short and long tasks are queued, takes the
// short ones first; no waiter helps meanwhile.
TEST(TaskGroupTest, AWorkerTakesEveryShortTaskBeforeALongOne) {
  ThreadPool pool(1);
  std::mutex mutex;
  std::string order;
  std::latch ended(3);
  const auto record = [&](char task) {
    return [&, task] {
      {
        const std::lock_guard lock(mutex);
        order += task;
      }
      ended.count_down();
      return Status::Ok;
    };
  };
  std::atomic<bool> release{false};
  TaskGroup holder(&pool, "test");
  holder.RunLong([&] {
    release.wait(false);
    return Status::Ok;
  });
  TaskGroup group(&pool, "test");
  group.Run(record('a'));
  group.RunLong(record('L'));
  group.Run(record('b'));
  release = true;
  release.notify_one();
  ended.wait();
  EXPECT_EQ(order, "abL");
}

// Files (long tasks) that wait for their frames (short tasks) on a pool with
// fewer workers than files: each runs its frames, or another thread does,
// no file starts inside another's wait, and every task runs once whichever
// thread posted it.
TEST(TaskGroupTest, LongTasksWaitingForShortOnesNeverNestAndEveryTaskRunsOnce) {
  constexpr int kFiles = 6, kFrames = 20, kPosters = 3;
  std::atomic<int> frames{0}, files{0};
  std::atomic<bool> nested{false};
  ThreadPool pool(2);
  const auto file = [&] {
    thread_local bool inFile = false;
    if (inFile) nested = true;
    inFile = true;
    TaskGroup mine(&pool, "frames");
    for (int i = 0; i < kFrames; ++i) {
      mine.Run([&] {
        ++frames;
        return Status::Ok;
      });
    }
    const Status status = mine.Wait();
    ++files;
    inFile = false;
    return status;
  };
  std::vector<std::jthread> posters;
  std::mutex statusMutex;
  std::vector<Status> statuses;
  posters.reserve(kPosters);
  for (int p = 0; p < kPosters; ++p) {
    posters.emplace_back([&, p] {
      TaskGroup group(&pool, "files");
      for (int f = p; f < kFiles; f += kPosters) group.RunLong(file);
      const Status status = group.Wait();
      const std::lock_guard lock(statusMutex);
      statuses.push_back(status);
    });
  }
  posters.clear();
  EXPECT_FALSE(nested);
  EXPECT_EQ(files, kFiles);
  EXPECT_EQ(frames, kFiles * kFrames);
  EXPECT_EQ(statuses, std::vector<Status>(kPosters, Status::Ok));
}

// A long task no worker took (the only one is held) runs in its own
// group's wait, on the waiting thread.
TEST(TaskGroupTest, AWaitRunsItsOwnLongTaskThatNoWorkerTook) {
  ThreadPool pool(1);
  std::atomic<bool> release{false};
  TaskGroup holder(&pool, "test");
  holder.RunLong([&] {
    release.wait(false);
    return Status::Ok;
  });
  std::thread::id ranOn;
  TaskGroup mine(&pool, "test");
  mine.RunLong([&] {
    ranOn = std::this_thread::get_id();
    return Status::Ok;
  });
  EXPECT_EQ(mine.Wait(), Status::Ok);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  release = true;
  release.notify_one();
}

// Stop waits for the task running and drops the ten behind it; a task
// posted afterwards is ignored. Memory running out in a task loses that
// task's work, not the worker.
TEST(WorkerQueueTest, AStoppedQueueRunsNothingMore) {
  WorkerQueue queue;
  std::atomic<bool> started{false}, release{false};
  std::atomic<int> ran{0};
  queue.Post([&] { throw std::bad_alloc(); });
  queue.Post([&] {
    started = true;
    started.notify_one();
    release.wait(false);
  });
  started.wait(false);
  for (int i = 0; i < 10; ++i) queue.Post([&] { ++ran; });
  EXPECT_EQ(queue.Queued(), 10u);
  std::jthread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    release = true;
    release.notify_one();
  });
  queue.Stop();
  queue.Post([&] { ++ran; });
  EXPECT_EQ(ran, 0);
  EXPECT_EQ(queue.Queued(), 0u);
}

// Anything but memory running out is a bug, which must not pass unseen.
TEST(TaskGroupDeathTest, ATaskThatEscapesItsGuardEndsTheProcessNamingItsKind) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const int threads : {0, 1}) {
    EXPECT_DEATH(
        {
          ThreadPool pool(threads);
          TaskGroup group(threads > 0 ? &pool : nullptr, "halved copy band");
          group.Run([]() -> Status { throw std::runtime_error("broken"); });
          group.Wait();
        },
        "a task of kind \"halved copy band\" ended with broken")
        << threads << " workers";
  }
}

}  // namespace
}  // namespace rzt2
