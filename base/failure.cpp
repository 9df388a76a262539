#include "base/failure.h"

#include <utility>

namespace shuffler {

namespace {

// The standard description of the failure `number`.
const char16_t* DescriptionOf(int32_t number) {
  switch (number) {
    case kInvalidArgument:
      return u"Invalid procedure call or argument";
    case kOverflow:
      return u"Overflow";
    case kOutOfMemory:
      return u"Out of memory";
    case kSubscriptOutOfRange:
      return u"Subscript out of range";
    case kBadFileNameOrNumber:
      return u"Bad file name or number";
    case kFileNotFound:
      return u"File not found";
    case kFileAlreadyExists:
      return u"File already exists";
    case kDiskFull:
      return u"Disk full";
    case kPermissionDenied:
      return u"Permission denied";
    case kPathFileAccessError:
      return u"Path/File access error";
    case kPathNotFound:
      return u"Path not found";
    case kObjectNotSet:
      return u"Object variable or With block variable not set";
    case kInvalidFileFormat:
      return u"Invalid file format";
    case kStartsItself:
      return u"Shuffler does not start itself: give the game another name "
             u"and start it with /LAUNCH";
    case kOwnFolderUnknown:
      return u"Shuffler cannot tell which folder it was started from, so it "
             u"changes nothing: start it by its path";
    default:
      return u"Application-defined or object-defined error";
  }
}

}  // namespace

Failure MakeFailure(int32_t number) {
  Failure failure;
  failure.Number = number;
  failure.Description = DescriptionOf(number);
  return failure;
}

void Raise(int32_t number) {
  throw MakeFailure(number);
}

void RaiseSystemFailure(int32_t number, int64_t system_error, Text path) {
  Failure failure = MakeFailure(number);
  failure.SystemError = system_error;
  failure.Path = std::move(path);
  throw failure;
}

}  // namespace shuffler
