#include "io/pending_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string_view>
#include <utility>

#include "base/child_processes.h"

namespace rzt2 {

namespace {

constexpr int kNameAttempts = 100;
constexpr std::string_view kTemporaryPrefix = ".rzt2-";
constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::string_view kNameLetters = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kRandomLetters = 8;
constexpr time_t kStaleSeconds = time_t{24} * 60 * 60;
constexpr time_t kSweepInterval = time_t{60} * 60;

// A short name whatever the target's length, hidden from file lists.
std::string TemporaryName(std::minstd_rand& random) {
  std::string name(kTemporaryPrefix);
  for (size_t i = 0; i < kRandomLetters; ++i) name += kNameLetters[random() % kNameLetters.size()];
  return name += kTemporarySuffix;
}

bool IsTemporaryName(std::string_view name) {
  return name.size() == kTemporaryPrefix.size() + kRandomLetters + kTemporarySuffix.size() &&
         name.starts_with(kTemporaryPrefix) && name.ends_with(kTemporarySuffix) &&
         name.substr(kTemporaryPrefix.size(), kRandomLetters).find_first_not_of(kNameLetters) ==
             std::string_view::npos;
}

// The temporary files being written, for the signal handler: fixed storage
// of lock-free atomics, so that the handler neither allocates nor locks. A
// writer claims a slot, fills in the name, then publishes the folder; the
// folder goes back to -1 before the slot is released.
constexpr size_t kLiveSlots = 256;  // one file per worker, and rzt2 runs at most 256
constexpr size_t kLiveNameSize = 32;
static_assert(kTemporaryPrefix.size() + kRandomLetters + kTemporarySuffix.size() < kLiveNameSize);
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<char>::is_always_lock_free &&
              std::atomic<bool>::is_always_lock_free);

struct LiveFile {
  std::atomic<bool> claimed{false};
  std::atomic<int> folder{-1};
  std::array<std::atomic<char>, kLiveNameSize> name{};
};
LiveFile gLiveFiles[kLiveSlots];
// Set by the handler before it reads the slots: a writer that creates its
// file after that removes the file itself.
std::atomic<bool> gTerminating{false};

// The slot now listing folder/name, or -1 when all are taken (the file is
// then left to the removal of stale files).
int Publish(int folder, const std::string& name) {
  for (size_t i = 0; i < kLiveSlots; ++i) {
    LiveFile& slot = gLiveFiles[i];
    bool taken = false;
    if (!slot.claimed.compare_exchange_strong(taken, true)) continue;
    for (size_t c = 0; c < kLiveNameSize; ++c) {
      slot.name[c].store(c < name.size() ? name[c] : '\0', std::memory_order_relaxed);
    }
    slot.folder.store(folder);
    return static_cast<int>(i);
  }
  return -1;
}

void Withdraw(int slot) {
  if (slot < 0) return;
  gLiveFiles[slot].folder.store(-1);
  gLiveFiles[slot].claimed.store(false);
}

// Whether the folder is due for a sweep. Each sweep reads the whole folder,
// and a batch writes one folder over and over: once an hour is enough. A
// folder made anew under a reused inode number may wait that hour.
bool SweepIsDue(int folder) {
  struct stat info {};
  if (::fstat(folder, &info) != 0) return false;
  static std::mutex mutex;
  static std::map<std::pair<dev_t, ino_t>, time_t> lastSweeps;
  const time_t now = std::time(nullptr);
  std::lock_guard lock(mutex);
  time_t& last = lastSweeps[{info.st_dev, info.st_ino}];
  if (last != 0 && now - last < kSweepInterval) return false;
  last = now;
  return true;
}

// A process killed outright (SIGKILL, a power cut) leaves its temporary file
// behind; a day is long past any write still going on.
void RemoveStaleTemporaryFiles(int folder) {
  if (!SweepIsDue(folder)) return;
  UniqueFd listing(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!listing.IsValid()) return;
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(listing.Get()), ::closedir);
  if (!dir) return;
  listing.Release();
  const time_t cutoff = std::time(nullptr) - kStaleSeconds;
  while (const dirent* entry = ::readdir(dir.get())) {
    struct stat info {};
    if (IsTemporaryName(entry->d_name) && ::fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode) && info.st_mtime < cutoff) {
      ::unlinkat(folder, entry->d_name, 0);
    }
  }
}

enum class Backup { None, Linked, MovedAside };

// Gives the earlier file the backup name. A hard link tests the backup name
// and keeps the earlier file at the target in one step: the name is never
// taken over, and the target never goes missing. Folders without hard links
// move the file aside instead. With no earlier file, or the backup name
// taken, there is nothing to do; any other failure must stop the write, or
// the earlier file would be lost.
Status KeepEarlierFile(int folder, const std::string& target, const std::string& backupName, Backup& made) {
  const auto nothingToKeep = [] { return errno == ENOENT || errno == EEXIST; };
  if (::linkat(folder, target.c_str(), folder, backupName.c_str(), 0) == 0) {
    made = Backup::Linked;
    return Status::Ok;
  }
  if (nothingToKeep()) return Status::Ok;
  if (::renameat2(folder, target.c_str(), folder, backupName.c_str(), RENAME_NOREPLACE) == 0) {
    made = Backup::MovedAside;
    return Status::Ok;
  }
  return nothingToKeep() ? Status::Ok : Status::BackupFailed;
}

}  // namespace

PendingFile::PendingFile(const std::filesystem::path& target, EarlierFile earlier) : earlier_(earlier) {
  openStatus_ = GuardMemory([&] { return Open(target); });
}

Status PendingFile::Open(const std::filesystem::path& target) {
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  targetName_ = target.filename().string();
  if (targetName_.empty() || targetName_ == "." || targetName_ == "..") return Status::InvalidParameter;
  // Every later step works relative to the folder, so the names stay short.
  folder_ = UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder_.IsValid()) return StatusFromErrno(errno, Status::WriteFailed);

  // The entry itself, not what a symlink names: a symlink is replaced like
  // any file, and passes on no mode.
  struct stat earlierInfo {};
  if (::fstatat(folder_.Get(), targetName_.c_str(), &earlierInfo, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENAMETOOLONG) return Status::NameTooLong;
    earlierInfo.st_mode = 0;
  }
  if (S_ISDIR(earlierInfo.st_mode)) return Status::AccessDenied;
  RemoveStaleTemporaryFiles(folder_.Get());

  // Created with 0666 so that the umask applies as for any new file. The
  // name is listed before the file exists, so that no moment is left in
  // which a signal finds the file unlisted.
  std::minstd_rand random(static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                          static_cast<uint32_t>(::getpid()));
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temporaryName_ = TemporaryName(random);
    liveSlot_ = Publish(folder_.Get(), temporaryName_);
    file_ = UniqueFd(
        ::openat(folder_.Get(), temporaryName_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (file_.IsValid()) break;
    const int error = errno;
    Withdraw(liveSlot_);
    liveSlot_ = -1;
    if (error != EEXIST) return StatusFromErrno(error, Status::WriteFailed);
  }
  created_ = file_.IsValid();
  if (!created_) return Status::WriteFailed;
  if (gTerminating.load()) ::unlinkat(folder_.Get(), temporaryName_.c_str(), 0);
  // Special bits are never passed on: the new file is not the program or
  // shared folder the earlier one may have been.
  if (S_ISREG(earlierInfo.st_mode)) {
    ::fchmod(file_.Get(), (earlierInfo.st_mode & 0777) | S_IRUSR | S_IWUSR);
  }
  return Status::Ok;
}

PendingFile::~PendingFile() {
  if (created_ && !committed_) ::unlinkat(folder_.Get(), temporaryName_.c_str(), 0);
  Withdraw(liveSlot_);
}

Status PendingFile::Commit() {
  return GuardMemory([this] { return CommitFile(); });
}

Status PendingFile::CommitFile() {
  // Close reports delayed write errors; a file that failed them must not replace anything.
  if (!file_.IsValid()) return Status::WriteFailed;
  if (::fsync(file_.Get()) != 0 || !file_.Close()) return StatusFromErrno(errno, Status::WriteFailed);
  const int folder = folder_.Get();
  const std::string backupName = targetName_ + ".bak";
  Backup backup = Backup::None;
  if (earlier_ == EarlierFile::KeepAsBackup) {
    if (const Status status = KeepEarlierFile(folder, targetName_, backupName, backup);
        status != Status::Ok) {
      return status;
    }
  }
  if (::renameat(folder, temporaryName_.c_str(), folder, targetName_.c_str()) != 0) {
    const Status status = StatusFromErrno(errno, Status::WriteFailed);
    if (backup == Backup::Linked) ::unlinkat(folder, backupName.c_str(), 0);
    if (backup == Backup::MovedAside) {
      ::renameat2(folder, backupName.c_str(), folder, targetName_.c_str(), RENAME_NOREPLACE);
    }
    return status;
  }
  committed_ = true;
  ::fsync(folder);  // the rename is done; a failure here cannot be undone
  return Status::Ok;
}

void RemoveTemporaryFilesAndReraise(int number) {
  const int savedErrno = errno;
  gTerminating.store(true);
  KillListedChildren();
  for (LiveFile& slot : gLiveFiles) {
    const int folder = slot.folder.load();
    if (folder < 0) continue;
    // A slot released and claimed again meanwhile can give a mixed name:
    // at worst that of another of our temporary files, all of which go.
    char name[kLiveNameSize + 1] = {};
    for (size_t c = 0; c < kLiveNameSize; ++c) name[c] = slot.name[c].load(std::memory_order_relaxed);
    ::unlinkat(folder, name, 0);
  }
  std::signal(number, SIG_DFL);
  std::raise(number);
  errno = savedErrno;
}

Status WriteFileAtomically(const std::filesystem::path& path, std::span<const uint8_t> bytes,
                           EarlierFile earlier) {
  PendingFile file(path, earlier);
  if (!file.IsOpen()) return file.OpenStatus();
  if (const Status status = WriteAll(file.File().Get(), bytes); status != Status::Ok) return status;
  return file.Commit();
}

}  // namespace rzt2
