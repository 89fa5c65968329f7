// A new file written beside its target under a temporary name and moved
// over the target only when it is complete, so that a failed or interrupted
// write never leaves a partial file or loses the earlier one. Map files and
// exported pictures are both written this way. Temporary files are named
// ".rzt2-" + 8 letters or digits + ".tmp"; those of a process killed by
// SIGINT or SIGTERM go with it when its main() installs
// RemoveTemporaryFilesAndReraise, and any left for over a day are removed
// when their folder is written again (looked through once an hour at most).
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "base/status.h"
#include "io/file_io.h"

namespace rzt2 {

// What becomes of an earlier file at the target when the new one is moved in.
enum class EarlierFile {
  // Moves to "<target>.bak" when that name is free; replaced when it is
  // taken. When the backup cannot be made for any other reason (the name is
  // too long, say), nothing is written.
  KeepAsBackup,
  Replace,
};

class PendingFile {
 public:
  // Creates the temporary file in the target's folder; OpenStatus() tells
  // whether that worked. The target must not be a folder. The new file takes
  // the permission bits of an earlier regular file, without setuid, setgid
  // and sticky, and made writable for its owner; else 0666 less the umask.
  PendingFile(const std::filesystem::path& target, EarlierFile earlier);
  // Removes the temporary file unless it was committed.
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  bool IsOpen() const { return created_ && file_.IsValid(); }
  // Ok while open; else why the temporary file could not be created.
  Status OpenStatus() const { return openStatus_; }
  const UniqueFd& File() const { return file_; }

  // Flushes the file to disk and moves it to the target, dealing with an
  // earlier file as asked. On failure the earlier file stays where it was.
  Status Commit();

 private:
  Status Open(const std::filesystem::path& target);
  Status CommitFile();

  UniqueFd folder_;
  UniqueFd file_;
  std::string targetName_;
  std::string temporaryName_;
  EarlierFile earlier_;
  Status openStatus_ = Status::WriteFailed;
  int liveSlot_ = -1;  // in the registry the signal handler reads
  bool created_ = false;
  bool committed_ = false;
};

// A handler for SIGINT and SIGTERM: kills the helper processes still
// drawing (KillListedChildren), removes the temporary files being written,
// then lets the signal end the process as it would have.
// Async-signal-safe.
void RemoveTemporaryFilesAndReraise(int number);

// Writes bytes to path through a PendingFile.
Status WriteFileAtomically(const std::filesystem::path& path, std::span<const uint8_t> bytes,
                           EarlierFile earlier);

}  // namespace rzt2
