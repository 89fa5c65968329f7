#include "base/child_processes.h"

#include <signal.h>

#include <atomic>
#include <cstddef>

namespace rzt2 {
namespace {

// Fixed storage of lock-free atomics: the handler neither allocates nor
// locks. 0 is a free slot.
constexpr size_t kChildSlots = 256;  // one helper per worker, and rzt2 runs at most 256
static_assert(std::atomic<pid_t>::is_always_lock_free);
std::atomic<pid_t> gChildren[kChildSlots];

}  // namespace

int ListChild(pid_t pid) {
  for (size_t i = 0; i < kChildSlots; ++i) {
    pid_t free = 0;
    if (gChildren[i].compare_exchange_strong(free, pid)) return static_cast<int>(i);
  }
  return -1;
}

void UnlistChild(int slot) {
  if (slot >= 0) gChildren[static_cast<size_t>(slot)].store(0);
}

void KillListedChildren() {
  for (std::atomic<pid_t>& child : gChildren) {
    const pid_t pid = child.load();
    if (pid > 0) ::kill(pid, SIGKILL);
  }
}

}  // namespace rzt2
