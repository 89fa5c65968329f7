// Helpers for the hostile-input and write-fault tests: the largest single
// allocation made during a call, and scenarios run in a forked child (for
// resource limits and private mounts).
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/recording_host.h"

namespace rzt2::test {

// The largest block requested through operator new while call ran. The test
// program replaces operator new to watch; the codec libraries' own mallocs
// are not seen, our bitmaps and buffers are.
size_t LargestAllocationDuring(const std::function<void()>& call);
// While it lives, every block over `bytes` is refused: nothrow new gives
// null, new throws std::bad_alloc, as when memory runs out.
class AllocationLimit {
 public:
  explicit AllocationLimit(size_t bytes);
  ~AllocationLimit();
  AllocationLimit(const AllocationLimit&) = delete;
  AllocationLimit& operator=(const AllocationLimit&) = delete;
};

// While it lives, the nth allocation made through operator new on any
// thread but the one that made it is refused: the allocations of pool
// tasks, counted from 1. Refused() tells whether the nth came, Counted()
// how many were made until then.
class RefuseOffThread {
 public:
  explicit RefuseOffThread(size_t nth);
  ~RefuseOffThread();
  RefuseOffThread(const RefuseOffThread&) = delete;
  RefuseOffThread& operator=(const RefuseOffThread&) = delete;
  bool Refused() const;
  size_t Counted() const;
};

// Runs scenario in a forked child and returns the text it produced, or a
// line saying how the child ended when it did not return (a child still
// running after seconds is killed: "child ended by signal 14"). A scenario
// that cannot set itself up returns a text starting with kSkip.
inline constexpr char kSkip[] = "SKIP: ";
std::string RunInChild(const std::function<std::string()>& scenario, unsigned seconds = 0);

// In a child only: a fresh tmpfs of `size` bytes at folder, in a private
// mount namespace (a user namespace too when not root). Read-only when asked,
// after fill(folder) has put files there. Returns "" or why it could not.
std::string MountPrivateTmpfs(const std::filesystem::path& folder, size_t size, bool readOnly = false,
                              const std::function<void(const std::filesystem::path&)>& fill = {});

// Writes zeros into folder/name until the file system is full.
void FillUp(const std::filesystem::path& folder, const std::string& name);

// The names in a folder, sorted, joined by spaces.
std::string Listing(const std::filesystem::path& folder);

}  // namespace rzt2::test
