// Status codes of the raster layer. Failures are values, never exceptions:
// every operation on an image or drawing surface that fails leaves one of
// these as that object's last status.
#pragma once

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
  UnknownImageFormat,  // the bytes are not any format we decode
  CorruptData,         // a known format whose data is damaged or truncated
  TooLarge,            // over the pixel, memory or frame grid limit (DecodeLimits)
  UnsupportedFormat,   // a known format in a variant we do not decode
  NameTooLong,         // a file name longer than its file system takes
  BackupFailed,        // the earlier file could not be kept under its backup name
  TargetIsSource,      // the output would replace the file it is made from
  Cancelled,           // the user stopped the work; nothing of it was kept
};

// A short English text for the status, for messages and test failures.
const char* StatusText(Status status);

}  // namespace rzt2
