// A new file written beside its target under a temporary name and moved
// over the target only when it is complete, so that a failed or interrupted
// conversion never leaves a partial map file or loses the earlier one.
#pragma once

#include <filesystem>
#include <string>

#include "raster/file_io.h"

namespace rzt2 {

class PendingFile {
 public:
  // Creates the temporary file in the target's folder; IsOpen() tells
  // whether that worked. The target must not be a folder.
  explicit PendingFile(const std::filesystem::path& target);
  // Removes the temporary file unless it was committed.
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  bool IsOpen() const { return created_ && file_.IsValid(); }
  const UniqueFd& File() const { return file_; }

  // Flushes the file to disk and moves it to the target. An earlier file at
  // the target moves to "<target>.bak" when that name is free and is
  // replaced otherwise. On failure the earlier file stays where it was.
  bool Commit();

 private:
  UniqueFd folder_;
  UniqueFd file_;
  std::string targetName_;
  std::string temporaryName_;
  bool created_ = false;
  bool committed_ = false;
};

}  // namespace rzt2
