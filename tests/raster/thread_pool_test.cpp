#include "base/thread_pool.h"

#include <gtest/gtest.h>

#include <vector>

namespace rzt2 {
namespace {

// A thread waiting for short tasks runs them, in order when the pool has no
// workers, and never a long one: a file waiting for its frames must not
// start another file inside its wait.
TEST(ThreadPoolTest, WaitersRunQueuedShortTasksButNoLongOne) {
  ThreadPool pool(0);
  std::vector<int> order;
  bool longRan = false;
  pool.PostLong([&] { longRan = true; });
  for (int i = 0; i < 3; ++i) pool.Post([&order, i] { order.push_back(i); });
  pool.HelpUntil([&] { return order.size() == 3; });
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_FALSE(longRan);
}

}  // namespace
}  // namespace rzt2
