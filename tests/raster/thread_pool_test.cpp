// The pool's promises, with its threads running: short tasks before long
// ones, a waiter that runs short tasks but never starts a long one, every
// task run once, also those still queued when the pool goes.
#include "base/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace rzt2 {
namespace {

// Without workers, a waiter runs short tasks in order and a long task runs
// as it is posted, on the posting thread.
TEST(ThreadPoolTest, WithoutWorkersTheCallerRunsEveryTask) {
  std::vector<int> order;
  std::thread::id longRanOn;
  {
    ThreadPool pool(0);
    for (int i = 0; i < 3; ++i) pool.Post([&order, i] { order.push_back(i); });
    pool.PostLong([&] { longRanOn = std::this_thread::get_id(); });
    EXPECT_EQ(longRanOn, std::this_thread::get_id());
    pool.HelpUntil([&] { return order.size() == 2; });
    EXPECT_EQ(order, (std::vector<int>{0, 1}));
  }
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2})) << "the last one, when the pool went";
}

// The worker is held until the pool is going: what is queued runs all the same.
TEST(ThreadPoolTest, AWorkerTakesEveryShortTaskBeforeALongOne) {
  std::mutex mutex;
  std::string order;
  const auto record = [&](char task) {
    std::lock_guard lock(mutex);
    order += task;
  };
  std::promise<void> release;
  std::jthread releaser;
  {
    ThreadPool pool(1);
    pool.Post([&, released = release.get_future().share()] {
      released.wait();
      record('a');
    });
    pool.PostLong([&] { record('L'); });
    pool.Post([&] { record('b'); });
    releaser = std::jthread([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      release.set_value();
    });
  }
  EXPECT_EQ(order, "abL");
}

// Files (long tasks) that wait for their frames (short tasks) on a pool with
// fewer workers than files: each runs its frames, or another thread does,
// and no file starts inside another's wait. Tasks still queued when the pool
// goes all run, each once, whichever thread posted them.
TEST(ThreadPoolTest, LongTasksWaitingForShortOnesNeverNestAndEveryTaskRunsOnce) {
  constexpr int kFiles = 6, kFrames = 20, kPosters = 3, kExtra = 50;
  std::atomic<int> frames{0}, files{0}, extra{0};
  std::atomic<bool> nested{false};
  {
    ThreadPool pool(2);
    const auto file = [&] {
      thread_local bool inFile = false;
      if (inFile) nested = true;
      inFile = true;
      std::atomic<int> mine{0};
      for (int i = 0; i < kFrames; ++i) pool.Post([&] { ++mine; });
      pool.HelpUntil([&] { return mine.load() == kFrames; });
      frames += mine.load();
      ++files;
      inFile = false;
    };
    std::vector<std::jthread> posters;
    posters.reserve(kPosters);
    for (int p = 0; p < kPosters; ++p) {
      posters.emplace_back([&, p] {
        for (int f = p; f < kFiles; f += kPosters) pool.PostLong(file);
        for (int i = 0; i < kExtra; ++i) pool.Post([&] { ++extra; });
      });
    }
    posters.clear();
  }
  EXPECT_FALSE(nested);
  EXPECT_EQ(files, kFiles);
  EXPECT_EQ(frames, kFiles * kFrames);
  EXPECT_EQ(extra, kPosters * kExtra);
}

// A waiter whose condition changes outside any task wakes at Notify.
TEST(ThreadPoolTest, NotifyWakesAWaiter) {
  ThreadPool pool(1);
  std::atomic<bool> ready{false};
  std::jthread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ready = true;
    pool.Notify();
  });
  pool.HelpUntil([&] { return ready.load(); });
  EXPECT_TRUE(ready);
}

}  // namespace
}  // namespace rzt2
