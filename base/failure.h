// What every failed operation throws, the numbers Shuffler reports, and their
// standard descriptions.
#pragma once

#include <cstdint>

#include "base/text.h"

namespace shuffler {

/// What every failed operation reports: the number and description that the
/// boxes and the log show, and, for those debugging, the cause behind them.
struct Failure {
  int32_t Number = 0;
  Text Description;
  /// The operating system's own error code (errno, GetLastError()) that the
  /// number was mapped from; 0 for a failure of Shuffler's own checks.
  int64_t SystemError = 0;
  /// The path the failed operation was about, when it was about one.
  Text Path;
};

/// The failure numbers Shuffler reports; each platform maps its own error
/// codes onto these in one place.
enum FailureNumber : int32_t {
  kInvalidArgument = 5,
  kOverflow = 6,
  kOutOfMemory = 7,
  kSubscriptOutOfRange = 9,
  kBadFileNameOrNumber = 52,
  kFileNotFound = 53,
  kFileAlreadyExists = 58,
  /// No room left on the disk (or in the player's quota) for the change.
  kDiskFull = 61,
  kPermissionDenied = 70,
  kPathFileAccessError = 75,
  kPathNotFound = 76,
  kObjectNotSet = 91,
  kInvalidFileFormat = 321,
  /// The program to start is Shuffler's own file, or this run is the
  /// program another Shuffler started.
  kStartsItself = 1000,
  /// The folder the program was started from cannot be told for certain.
  kOwnFolderUnknown = 1001,
};

/// The failure `number` with its standard description.
Failure MakeFailure(int32_t number);
/// Throws `MakeFailure(number)`.
[[noreturn]] void Raise(int32_t number);
/// Throws `MakeFailure(number)` with its cause: the system's error code and
/// the path.
[[noreturn]] void RaiseSystemFailure(int32_t number, int64_t system_error,
                                     Text path);

}  // namespace shuffler
