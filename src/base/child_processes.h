// The helper processes this process has started and not yet reaped, listed
// for the handler of the signals that end the process: it kills them before
// the process ends, so that no helper draws on for nobody. (A helper also
// asks the kernel for SIGKILL when its parent dies, which covers SIGKILL
// and the moments before a child is listed.)
#pragma once

#include <sys/types.h>

namespace rzt2 {

// The slot now listing pid, or -1 when all are taken.
int ListChild(pid_t pid);
// Takes the child off the list; call before reaping it, so that the handler
// never kills a pid that may already name another process.
void UnlistChild(int slot);
// Sends SIGKILL to every listed child. Async-signal-safe.
void KillListedChildren();

}  // namespace rzt2
