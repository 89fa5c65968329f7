// Status codes: why an operation failed. Failures are values, never
// exceptions, from the raster layer up to the jobs: every operation on an
// image or drawing surface that fails leaves one of these as that object's
// last status, and the map files' and the jobs' operations return them, so
// that the cause reaches the user.
#pragma once

#include <new>
#include <stdexcept>
#include <string_view>
#include <type_traits>

namespace rzt2 {

enum class Status : int {
  Ok = 0,
  GenericError,
  InvalidParameter,
  OutOfMemory,
  WrongState,      // e.g. a lock on an image that is already locked
  NotImplemented,  // a pixel format or operation the layer does not offer
  FileNotFound,
  AccessDenied,
  NotRegularFile,  // a folder, FIFO, device or socket where a file was expected
  ReadFailed,
  WriteFailed,
  UnknownImageFormat,       // the bytes are not any format we decode
  CorruptData,              // a known format whose data is damaged or truncated
  TooLarge,                 // over a pixel, decoded bytes or frame grid limit (DecodeLimits)
  UnsupportedFormat,        // a known format in a variant we do not decode
  NameTooLong,              // a file name longer than its file system takes
  BackupFailed,             // the earlier file could not be kept under its backup name
  TargetIsSource,           // the output would replace the file it is made from
  Cancelled,                // the user stopped the work; nothing of it was kept
  DiskFull,                 // no space or quota left on the file system
  FileSizeLimit,            // over the largest file the process may write
  OverPixelCeiling,         // a picture of more pixels than any is decoded with (kPixelCeiling)
  DrawTimeout,              // the helper drawing a picture ran out of CPU time (kDrawSeconds)
  OverMemoryAllowance,      // the picture needs more memory than the helper drawing it may take
  NoSuchPage,               // a page or frame past the last of the file
  TemporaryFolderUnusable,  // pixels over the memory budget have nowhere to go
  DrawWallTimeout,          // the helper outlived its wall-clock ceiling (kDrawWallSeconds)
  IsAFolder,                // a folder where a file is read or written (EISDIR)
  ReadOnlyFileSystem,       // a write to a file system mounted read-only (EROFS)
  NobodyReads,              // a FIFO that no process has open for reading
  DrawingCrashed,           // the library drawing a picture crashed on it, in the helper
  // The browser's: pixels past the memory budget, which has no disk behind
  // it there; a format only the helper process draws, which it has not.
  OverMemoryBudget,
  NeedsDesktopProgram,
};
// Codes travel by number between processes (the render helper's reply):
// new ones go last, and this counts them.
inline constexpr int kStatusCount = static_cast<int>(Status::NeedsDesktopProgram) + 1;

// How long the render helper may take to draw one picture: seconds of CPU
// time, and a wall-clock ceiling far above them, so that a loaded machine
// alone never fails a file.
inline constexpr int kDrawSeconds = 60;
inline constexpr int kDrawWallSeconds = 600;

// A short lower-case English text for the status, which rzt2 prints in
// brackets after a failure's message.
const char* StatusText(Status status);

// Makes text, such as "temporary folder /x: does not exist", the text of
// TemporaryFolderUnusable from now on. The folder is the process's, so the
// problem found last stands for every failure it caused.
void SetTemporaryFolderProblem(std::string_view text);

// Makes text, such as "needs more memory than allowed (--memory 64M)", the
// text of OverMemoryAllowance from now on: the front end says what sets
// the allowance.
void SetMemoryAllowanceText(std::string_view text);

// Runs work, the body of a public entry point of one of the core's modules,
// and turns memory running out inside it (std::bad_alloc, or
// std::length_error for a size no container holds) into OutOfMemory: a
// Status, or Result::Failed(Status::OutOfMemory) when work returns a Result
// such as ImageHandle. This is where those exceptions stop; code inside a
// module lets them pass, and none leaves it.
template <typename Work>
auto GuardMemory(Work&& work) noexcept -> std::invoke_result_t<Work&> {
  using Result = std::invoke_result_t<Work&>;
  try {
    return work();
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  if constexpr (std::is_same_v<Result, Status>) {
    return Status::OutOfMemory;
  } else {
    return Result::Failed(Status::OutOfMemory);
  }
}

}  // namespace rzt2
