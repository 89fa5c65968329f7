// Drawn and complex formats through the rzt2-render helper: the bytes go in
// through a memory file, the picture comes back through a pipe read against
// a deadline. The child is always reaped, killed first when it must be.
#include "raster/codecs/render_codec.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/child_processes.h"
#include "base/memory_budget.h"
#include "raster/codecs/codec_guard.h"
#include "raster/codecs/render_wire.h"

namespace rzt2 {
namespace {

using Clock = std::chrono::steady_clock;

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int Get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

enum class Readiness { Ready, TimedOut, Failed };

// Waits until fd can be read, or has ended, until the deadline at most.
Readiness AwaitReadable(int fd, Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count());
    pollfd request{fd, POLLIN, 0};
    const int ready = ::poll(&request, 1, static_cast<int>(std::min<int64_t>(left, INT32_MAX)));
    if (ready > 0) return Readiness::Ready;
    if (ready == 0 && left == 0) return Readiness::TimedOut;
    if (ready < 0 && errno != EINTR) return Readiness::Failed;
  }
}

// How a helper ended: its wait status, the CPU time it took, and whether it
// was killed for outliving its deadline.
struct ChildEnd {
  int waitStatus = 0;
  std::chrono::seconds cpuTime{0};
  bool timedOut = false;
};

// A started helper, listed for the signal handler while it lives; killed
// and reaped when left running. Its end is waited for through a process
// descriptor, against the conversation's deadline: a helper that closes its
// output and lives on is killed then, not waited for without end.
class Child {
 public:
  Child() = default;
  ~Child() {
    if (pid_ > 0) Kill();
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  pid_t* Pid() { return &pid_; }
  // Lists the started child and opens its process descriptor.
  Status Track() {
    slot_ = ListChild(pid_);
    // Through syscall: glibc 2.36 declares pidfd_open without C linkage.
    ended_.Reset(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
    return ended_.Get() >= 0 ? Status::Ok : Status::OutOfMemory;
  }
  // Reaps the child once it ends, killed when that is past the deadline.
  ChildEnd WaitUntil(Clock::time_point deadline) {
    const bool ended = AwaitReadable(ended_.Get(), deadline) == Readiness::Ready;
    if (!ended) ::kill(pid_, SIGKILL);
    ChildEnd end = Reap();
    end.timedOut = !ended;
    return end;
  }

 private:
  // Killed, a child ends at once; the wait for it is short.
  void Kill() {
    ::kill(pid_, SIGKILL);
    Reap();
  }
  ChildEnd Reap() {
    UnlistChild(slot_);
    slot_ = -1;
    ChildEnd end;
    rusage usage{};
    while (::wait4(pid_, &end.waitStatus, 0, &usage) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    ended_.Reset();
    end.cpuTime = std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec);
    return end;
  }

  pid_t pid_ = -1;
  int slot_ = -1;
  UniqueFd ended_;  // readable once the child has ended
};

class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attributes_);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  posix_spawn_file_actions_t* Actions() { return &actions_; }
  posix_spawnattr_t* Attributes() { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

std::chrono::seconds CpuSeconds(const RenderDecoding& how) {
  return std::max(std::chrono::seconds(1), std::chrono::ceil<std::chrono::seconds>(how.cpuLimit));
}

// The file on the child's standard input, its reply on its standard
// output, no other descriptor of ours, and the signals we may ignore at
// their defaults.
Status Spawn(const RenderDecoding& how, const DecodeLimits& limits, uint32_t page, int input, int output,
             Child& child) {
  SpawnSetup setup;
  posix_spawn_file_actions_t* actions = setup.Actions();
  if (posix_spawn_file_actions_adddup2(actions, input, STDIN_FILENO) != 0 ||
      posix_spawn_file_actions_adddup2(actions, output, STDOUT_FILENO) != 0 ||
      posix_spawn_file_actions_addopen(actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0) != 0 ||
      posix_spawn_file_actions_addclosefrom_np(actions, STDERR_FILENO + 1) != 0) {
    return Status::OutOfMemory;
  }
  sigset_t noSignals, defaults;
  sigemptyset(&noSignals);
  sigemptyset(&defaults);
  for (const int signal : {SIGPIPE, SIGXCPU, SIGXFSZ, SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    sigaddset(&defaults, signal);
  }
  posix_spawnattr_setsigmask(setup.Attributes(), &noSignals);
  posix_spawnattr_setsigdefault(setup.Attributes(), &defaults);
  posix_spawnattr_setflags(setup.Attributes(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::string helper = how.helper.string();
  std::string maxPixels = std::to_string(limits.maxPixels);
  std::string memory = std::to_string(MemoryBudget::Process().Limit());
  std::string cpuSeconds = std::to_string(CpuSeconds(how).count());
  std::string parent = std::to_string(::getpid());
  std::string dpi = std::to_string(limits.dpi);
  std::string pageText = std::to_string(page);
  char* argv[] = {helper.data(), maxPixels.data(), memory.data(),   cpuSeconds.data(),
                  parent.data(), dpi.data(),       pageText.data(), nullptr};
  const int error = posix_spawn(child.Pid(), helper.c_str(), actions, setup.Attributes(), argv, environ);
  if (error == 0) return child.Track();
  *child.Pid() = -1;
  return error == ENOMEM || error == EAGAIN ? Status::OutOfMemory : Status::NotImplemented;
}

Status WriteMemoryFile(std::span<const uint8_t> data, UniqueFd& file) {
  file.Reset(::memfd_create("rzt2-render", MFD_CLOEXEC));
  if (file.Get() < 0) return Status::OutOfMemory;
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t written = ::write(file.Get(), data.data() + done, data.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return Status::OutOfMemory;
    done += static_cast<size_t>(written);
  }
  return ::lseek(file.Get(), 0, SEEK_SET) == 0 ? Status::Ok : Status::GenericError;
}

enum class ReadEnd { Complete, Closed, TimedOut };

ReadEnd ReadFully(int fd, uint8_t* out, size_t size, Clock::time_point deadline) {
  while (size > 0) {
    switch (AwaitReadable(fd, deadline)) {
      case Readiness::TimedOut:
        return ReadEnd::TimedOut;
      case Readiness::Failed:
        return ReadEnd::Closed;
      case Readiness::Ready:
        break;
    }
    const ssize_t got = ::read(fd, out, size);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return ReadEnd::Closed;
    out += got;
    size -= static_cast<size_t>(got);
  }
  return ReadEnd::Complete;
}

// A helper that ended without a whole reply or a clean exit: killed for
// outliving the wall-clock ceiling or for its CPU time (the soft limit's
// SIGXCPU, then the hard limit's SIGKILL), killed otherwise (the kernel's
// out-of-memory killer), or crashed on the file (an abort of the library
// too: what it could not handle, not what the file holds).
Status EndedEarly(const ChildEnd& end, const RenderDecoding& how) {
  if (end.timedOut) return Status::DrawWallTimeout;
  if (!WIFSIGNALED(end.waitStatus)) return Status::CorruptData;
  switch (WTERMSIG(end.waitStatus)) {
    case SIGXCPU:
      return Status::DrawTimeout;
    case SIGKILL:
      return end.cpuTime >= CpuSeconds(how) ? Status::DrawTimeout : Status::OverMemoryAllowance;
    default:
      return Status::DrawingCrashed;
  }
}

// Reads size bytes of the helper's reply, or says why they did not come.
Status ReadReply(Child& child, int fd, uint8_t* out, size_t size, Clock::time_point deadline,
                 const RenderDecoding& how) {
  switch (ReadFully(fd, out, size, deadline)) {
    case ReadEnd::TimedOut:
      return Status::DrawWallTimeout;
    case ReadEnd::Closed:
      return EndedEarly(child.WaitUntil(deadline), how);
    case ReadEnd::Complete:
      break;
  }
  return Status::Ok;
}

// One conversation with a helper: its reply, and for a page its pixels.
Status Converse(std::span<const uint8_t> data, const DecodeLimits& limits, const RenderDecoding& how,
                uint32_t page, RenderReply& reply, std::unique_ptr<Bitmap>& out) {
  if (SniffRendered(data) == RenderedKind::None) return Status::UnknownImageFormat;
  if (how.helper.empty()) return Status::NotImplemented;
  UniqueFd input;
  if (const Status status = WriteMemoryFile(data, input); status != Status::Ok) return status;
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return Status::OutOfMemory;
  UniqueFd replyEnd(pipeEnds[0]), childEnd(pipeEnds[1]);

  Child child;
  if (const Status status = Spawn(how, limits, page, input.Get(), childEnd.Get(), child);
      status != Status::Ok) {
    return status;
  }
  childEnd.Reset();  // the reply ends when the child does
  const Clock::time_point deadline = Clock::now() + how.wallLimit;

  uint8_t header[kRenderReplySize];
  if (const Status status = ReadReply(child, replyEnd.Get(), header, sizeof header, deadline, how);
      status != Status::Ok) {
    return status;
  }
  if (!DecodeRenderReply(header, reply)) return Status::CorruptData;
  if (reply.status != Status::Ok || page == 0) return reply.status;
  if (reply.width == 0 || reply.height == 0 || reply.width > INT32_MAX || reply.height > INT32_MAX) {
    return Status::CorruptData;
  }
  if (uint64_t{reply.width} * reply.height > limits.maxPixels) return Status::TooLarge;

  std::unique_ptr<Bitmap> bitmap;
  const Status created = Bitmap::Create(static_cast<int32_t>(reply.width), static_cast<int32_t>(reply.height),
                                        PixelFormat::Argb32, bitmap);
  if (created != Status::Ok) return created;
  // Rows are contiguous: the stride is exactly the row's bytes.
  const size_t bytes = bitmap->Stride() * reply.height;
  if (const Status status = ReadReply(child, replyEnd.Get(), bitmap->MutableRow(0), bytes, deadline, how);
      status != Status::Ok) {
    return status;
  }
  const ChildEnd end = child.WaitUntil(deadline);
  if (!WIFEXITED(end.waitStatus) || WEXITSTATUS(end.waitStatus) != 0) return EndedEarly(end, how);
  out = std::move(bitmap);
  return Status::Ok;
}

// Next to the running program, where `cmake --install` puts both and the
// build puts one beside each test program; empty when it is not there.
std::filesystem::path FindHelper() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  std::filesystem::path nextToUs = self.parent_path() / kRenderHelperName;
  return ::access(nextToUs.c_str(), X_OK) == 0 ? nextToUs : std::filesystem::path();
}

}  // namespace

const RenderDecoding& DefaultRenderDecoding() {
  static const RenderDecoding decoding{FindHelper()};
  return decoding;
}

Status DecodeRenderedWith(std::span<const uint8_t> data, const DecodeLimits& limits,
                          const RenderDecoding& how, std::unique_ptr<Bitmap>& out) {
  return GuardMemory([&] {
    RenderReply reply;
    return Converse(data, limits, how, std::max<uint32_t>(limits.page, 1), reply, out);
  });
}

Status DecodeRendered(std::span<const uint8_t> data, const DecodeLimits& limits, std::unique_ptr<Bitmap>& out,
                      RowSink* /*rows*/) {
  // Finding the helper builds paths: under the guard too.
  return GuardMemory([&] { return DecodeRenderedWith(data, limits, DefaultRenderDecoding(), out); });
}

Status CountRenderedPages(std::span<const uint8_t> data, uint32_t& pages) {
  return GuardMemory([&] {
    RenderReply reply;
    std::unique_ptr<Bitmap> none;
    const Status status = Converse(data, DecodeLimits{}, DefaultRenderDecoding(), 0, reply, none);
    pages = reply.pages;
    return status;
  });
}

}  // namespace rzt2
