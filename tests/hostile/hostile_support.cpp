#include "hostile/hostile_support.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <thread>

#include "io/file_io.h"

namespace {

std::atomic<bool> gWatching{false};
std::atomic<size_t> gLargest{0};
std::atomic<size_t> gRefusedOver{SIZE_MAX};
// RefuseOffThread's: the allocations left before the refused one (0: none
// armed), and the thread whose own allocations do not count.
std::atomic<size_t> gOffThreadCountdown{0};
std::atomic<size_t> gOffThreadCounted{0};
std::atomic<bool> gOffThreadRefused{false};
std::thread::id gArmedThread;

bool RefusedOffThread() noexcept {
  if (gOffThreadCountdown.load() == 0 || std::this_thread::get_id() == gArmedThread) {
    return false;
  }
  ++gOffThreadCounted;
  if (gOffThreadCountdown.fetch_sub(1) != 1) return false;
  gOffThreadRefused = true;
  return true;
}

void* Allocate(size_t size) noexcept {
  if (size > gRefusedOver.load(std::memory_order_relaxed) || RefusedOffThread()) return nullptr;
  if (gWatching.load(std::memory_order_relaxed)) {
    size_t seen = gLargest.load(std::memory_order_relaxed);
    while (size > seen && !gLargest.compare_exchange_weak(seen, size)) {
    }
  }
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

// Every plain form of operator new and delete, so that each block our code
// asks for is seen; they keep to malloc and free throughout, which GCC, once
// it inlines them into this file's own code, takes for a mismatch.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size) {
  void* block = Allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace rzt2::test {

size_t LargestAllocationDuring(const std::function<void()>& call) {
  gLargest = 0;
  gWatching = true;
  call();
  gWatching = false;
  return gLargest;
}

AllocationLimit::AllocationLimit(size_t bytes) { gRefusedOver = bytes; }
AllocationLimit::~AllocationLimit() { gRefusedOver = SIZE_MAX; }

RefuseOffThread::RefuseOffThread(size_t nth) {
  gArmedThread = std::this_thread::get_id();
  gOffThreadRefused = false;
  gOffThreadCounted = 0;
  gOffThreadCountdown = nth;
}
RefuseOffThread::~RefuseOffThread() { gOffThreadCountdown = 0; }
bool RefuseOffThread::Refused() const { return gOffThreadRefused; }
size_t RefuseOffThread::Counted() const { return gOffThreadCounted; }

std::string RunInChild(const std::function<std::string()>& scenario, unsigned seconds) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    ::close(fds[0]);
    if (seconds > 0) ::alarm(seconds);
    const std::string text = scenario();
    WriteAll(fds[1], std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) return text + "child ended by signal " + std::to_string(WTERMSIG(status));
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return text + "child failed";
  return text;
}

namespace {

bool WriteText(const char* path, const std::string& text) {
  const UniqueFd fd(::open(path, O_WRONLY | O_CLOEXEC));
  return fd.IsValid() && WriteAll(fd.Get(), std::span(reinterpret_cast<const uint8_t*>(text.data()),
                                                      text.size())) == Status::Ok;
}

std::string Failed(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

std::string MountPrivateTmpfs(const std::filesystem::path& folder, size_t size, bool readOnly,
                              const std::function<void(const std::filesystem::path&)>& fill) {
  const uid_t uid = ::geteuid();
  const gid_t gid = ::getegid();
  if (uid != 0) {
    // An unprivileged user may own a mount namespace inside a user namespace of its own.
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return Failed("unshare");
    if (!WriteText("/proc/self/setgroups", "deny") ||
        !WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
      return Failed("id maps");
    }
  } else if (::unshare(CLONE_NEWNS) != 0) {
    return Failed("unshare");
  }
  // Nothing mounted here may reach the parent's namespace.
  if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return Failed("private /");
  const std::string options = "size=" + std::to_string(size);
  if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) return Failed("mount tmpfs");
  if (fill) fill(folder);
  if (readOnly && ::mount("tmpfs", folder.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, options.c_str()) != 0) {
    return Failed("remount read-only");
  }
  return "";
}

void FillUp(const std::filesystem::path& folder, const std::string& name) {
  const UniqueFd fd(::open((folder / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  const std::vector<uint8_t> zeros(4096);
  while (fd.IsValid() && WriteAll(fd.Get(), zeros) == Status::Ok) {
  }
}

std::string Listing(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : " ") + name;
  return text;
}

}  // namespace rzt2::test
