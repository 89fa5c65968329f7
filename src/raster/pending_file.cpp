#include "raster/pending_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>

namespace rzt2 {

namespace {

constexpr int kNameAttempts = 100;

// A short name whatever the target's length, hidden from file lists.
std::string TemporaryName(std::minstd_rand& random) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = ".rzt2-";
  for (int i = 0; i < 8; ++i) name += kLetters[random() % (sizeof(kLetters) - 1)];
  return name + ".tmp";
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

  struct stat earlierInfo {};
  const bool hasEarlier = ::fstatat(folder_.Get(), targetName_.c_str(), &earlierInfo, 0) == 0;
  if (hasEarlier && S_ISDIR(earlierInfo.st_mode)) {
    openStatus_ = Status::AccessDenied;
    return;
  }

  // Created with 0666 so that the umask applies as for any new file.
  std::minstd_rand random(static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                          static_cast<uint32_t>(::getpid()));
  for (int attempt = 0; attempt < kNameAttempts && !file_.IsValid(); ++attempt) {
    temporaryName_ = TemporaryName(random);
    file_ = UniqueFd(
        ::openat(folder_.Get(), temporaryName_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!file_.IsValid() && errno != EEXIST) {
      openStatus_ = StatusFromErrno(errno, Status::WriteFailed);
      return;
    }
  }
  created_ = file_.IsValid();
  if (created_) openStatus_ = Status::Ok;
  // Overwriting in place would have kept the earlier file's mode; so does
  // its replacement, made writable for its owner as before.
  if (created_ && hasEarlier) {
    ::fchmod(file_.Get(), (earlierInfo.st_mode & 07777) | S_IRUSR | S_IWUSR);
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
  // A hard link tests the backup name and keeps the earlier file at the
  // target in one step: the name is never taken over, and the target never
  // goes missing. Folders without hard links move the file aside instead.
  bool linked = false;
  bool movedAside = false;
  if (earlier_ == EarlierFile::KeepAsBackup) {
    if (::linkat(folder, targetName_.c_str(), folder, backupName.c_str(), 0) == 0) {
      linked = true;
    } else if (errno != EEXIST && errno != ENOENT) {
      movedAside =
          ::renameat2(folder, targetName_.c_str(), folder, backupName.c_str(), RENAME_NOREPLACE) == 0;
    }
  }
  if (::renameat(folder, temporaryName_.c_str(), folder, targetName_.c_str()) != 0) {
    const Status status = StatusFromErrno(errno, Status::WriteFailed);
    if (linked) ::unlinkat(folder, backupName.c_str(), 0);
    if (movedAside) ::renameat2(folder, backupName.c_str(), folder, targetName_.c_str(), RENAME_NOREPLACE);
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
