#include "platform/platform.h"

namespace shuffler {

Failure MakeFailure(int32_t number) {
  switch (number) {
    case kInvalidArgument:
      return {number, u"Invalid procedure call or argument"};
    case kOverflow:
      return {number, u"Overflow"};
    case kOutOfMemory:
      return {number, u"Out of memory"};
    case kSubscriptOutOfRange:
      return {number, u"Subscript out of range"};
    case kBadFileNameOrNumber:
      return {number, u"Bad file name or number"};
    case kFileNotFound:
      return {number, u"File not found"};
    case kFileAlreadyExists:
      return {number, u"File already exists"};
    case kPermissionDenied:
      return {number, u"Permission denied"};
    case kPathFileAccessError:
      return {number, u"Path/File access error"};
    case kPathNotFound:
      return {number, u"Path not found"};
    case kObjectNotSet:
      return {number, u"Object variable or With block variable not set"};
    case kStartsItself:
      return {number,
              u"Shuffler does not start itself: give the game another name "
              u"and start it with /LAUNCH"};
    default:
      return {number, u"Application-defined or object-defined error"};
  }
}

void Raise(int32_t number) {
  throw MakeFailure(number);
}

}  // namespace shuffler
