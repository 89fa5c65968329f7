#include "base/status.h"

#include <atomic>
#include <mutex>
#include <set>
#include <string>

namespace rzt2 {

namespace {

// Every text recorded is kept, so that a pointer StatusText handed out
// stays valid; a process records few.
std::mutex problemsMutex;
std::set<std::string, std::less<>> problems;
std::atomic<const char*> temporaryFolderProblem{"temporary folder unusable"};
std::atomic<const char*> memoryAllowanceText{"needs more memory than allowed"};

const char* Kept(std::string_view text) {
  const std::lock_guard lock(problemsMutex);
  return problems.emplace(text).first->c_str();
}

}  // namespace

void SetTemporaryFolderProblem(std::string_view text) { temporaryFolderProblem = Kept(text); }

void SetMemoryAllowanceText(std::string_view text) { memoryAllowanceText = Kept(text); }

const char* StatusText(Status status) {
  switch (status) {
    case Status::Ok:
      return "ok";
    case Status::GenericError:
      return "generic error";
    case Status::InvalidParameter:
      return "invalid parameter";
    case Status::OutOfMemory:
      return "out of memory";
    case Status::WrongState:
      return "wrong state";
    case Status::NotImplemented:
      return "not implemented";
    case Status::FileNotFound:
      return "file not found";
    case Status::AccessDenied:
      return "access denied";
    case Status::NotRegularFile:
      return "not a regular file";
    case Status::ReadFailed:
      return "read failed";
    case Status::WriteFailed:
      return "write failed";
    case Status::UnknownImageFormat:
      return "unknown image format";
    case Status::CorruptData:
      return "corrupt data";
    case Status::TooLarge:
      return "picture over the pixel, decoded bytes or frame grid limit";
    case Status::UnsupportedFormat:
      return "unsupported format variant";
    case Status::NameTooLong:
      return "file name too long";
    case Status::BackupFailed:
      return "no backup of the earlier file could be made";
    case Status::TargetIsSource:
      return "the output would replace its source";
    case Status::Cancelled:
      return "cancelled";
    case Status::DiskFull:
      return "disk full";
    case Status::FileSizeLimit:
      return "over the file size limit";
    case Status::OverPixelCeiling:
      return "picture over the ceiling of 2147483648 pixels";
    case Status::DrawTimeout:
      static_assert(kDrawSeconds == 60, "the text names the time limit");
      return "took more than 60 s of processor time to draw";
    case Status::OverMemoryAllowance:
      return memoryAllowanceText.load();
    case Status::NoSuchPage:
      return "no such page in the file";
    case Status::TemporaryFolderUnusable:
      return temporaryFolderProblem.load();
    case Status::DrawWallTimeout:
      static_assert(kDrawWallSeconds == 600, "the text names the time limit");
      return "took longer than 600 s to draw";
    case Status::IsAFolder:
      return "is a folder";
    case Status::ReadOnlyFileSystem:
      return "read-only file system";
    case Status::NobodyReads:
      return "a FIFO that no one reads";
    case Status::DrawingCrashed:
      return "the drawing library gave up: it crashed on the file";
    case Status::OverMemoryBudget:
      return "needs more memory than the browser grants";
    case Status::NeedsDesktopProgram:
      return "converted by the desktop program rzt2tool and the command-line tool rzt2, not in the browser";
  }
  return "unknown status";
}

}  // namespace rzt2
