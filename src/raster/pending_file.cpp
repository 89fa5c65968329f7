#include "raster/pending_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>
#include <string_view>

namespace rzt2 {

namespace {

constexpr int kNameAttempts = 100;
constexpr std::string_view kTemporaryPrefix = ".rzt2-";
constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::string_view kNameLetters = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kRandomLetters = 8;

// A short name whatever the target's length, hidden from file lists.
std::string TemporaryName(std::minstd_rand& random) {
  std::string name(kTemporaryPrefix);
  for (size_t i = 0; i < kRandomLetters; ++i) name += kNameLetters[random() % kNameLetters.size()];
  return name += kTemporarySuffix;
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
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  targetName_ = target.filename().string();
  if (targetName_.empty() || targetName_ == "." || targetName_ == "..") {
    openStatus_ = Status::InvalidParameter;
    return;
  }
  // Every later step works relative to the folder, so the names stay short.
  folder_ = UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder_.IsValid()) {
    openStatus_ = StatusFromErrno(errno, Status::WriteFailed);
    return;
  }

  // The entry itself, not what a symlink names: a symlink is replaced like
  // any file, and passes on no mode.
  struct stat earlierInfo {};
  if (::fstatat(folder_.Get(), targetName_.c_str(), &earlierInfo, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENAMETOOLONG) {
      openStatus_ = Status::NameTooLong;
      return;
    }
    earlierInfo.st_mode = 0;
  }
  if (S_ISDIR(earlierInfo.st_mode)) {
    openStatus_ = Status::AccessDenied;
    return;
  }

  // Created with 0666 so that the umask applies as for any new file.
  std::minstd_rand random(static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                          static_cast<uint32_t>(::getpid()));
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temporaryName_ = TemporaryName(random);
    file_ = UniqueFd(
        ::openat(folder_.Get(), temporaryName_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (file_.IsValid()) break;
    if (errno != EEXIST) {
      openStatus_ = StatusFromErrno(errno, Status::WriteFailed);
      return;
    }
  }
  created_ = file_.IsValid();
  if (!created_) return;
  openStatus_ = Status::Ok;
  // Special bits are never passed on: the new file is not the program or
  // shared folder the earlier one may have been.
  if (S_ISREG(earlierInfo.st_mode)) {
    ::fchmod(file_.Get(), (earlierInfo.st_mode & 0777) | S_IRUSR | S_IWUSR);
  }
}

PendingFile::~PendingFile() {
  if (created_ && !committed_) ::unlinkat(folder_.Get(), temporaryName_.c_str(), 0);
}

Status PendingFile::Commit() {
  // Close reports delayed write errors; a file that failed them must not replace anything.
  if (!file_.IsValid() || ::fsync(file_.Get()) != 0 || !file_.Close()) return Status::WriteFailed;
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

Status WriteFileAtomically(const std::filesystem::path& path, std::span<const uint8_t> bytes,
                           EarlierFile earlier) {
  PendingFile file(path, earlier);
  if (!file.IsOpen()) return file.OpenStatus();
  if (const Status status = WriteAll(file.File().Get(), bytes); status != Status::Ok) return status;
  return file.Commit();
}

}  // namespace rzt2
