#include "platform/posix/posix_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/posix/utf8.h"

namespace shuffler::posix {

namespace {

std::atomic<bool> fallback_forced{false};

// Claims `to` with a placeholder of the same kind as `from`, then renames
// `from` over it. Never replaces an entry it did not create itself.
int RenameOverPlaceholder(const std::string& from, const std::string& to) {
  struct stat source;
  if (lstat(from.c_str(), &source) != 0) return errno;
  const bool folder = S_ISDIR(source.st_mode);
  if (folder) {
    if (mkdir(to.c_str(), 0700) != 0) return errno;
  } else {
    const int fd =
        open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    close(fd);
  }
  if (rename(from.c_str(), to.c_str()) == 0) return 0;
  const int error = errno;
  if (folder) {
    rmdir(to.c_str());
  } else {
    unlink(to.c_str());
  }
  return error;
}

}  // namespace

int32_t FailureNumberFor(int error, PathRole role) {
  switch (error) {
    case ENOENT:
      return role == PathRole::kExisting ? kFileNotFound : kPathNotFound;
    case ENOTDIR:
    case ELOOP:
      return kPathNotFound;
    case EEXIST:
    case ENOTEMPTY:
      return role == PathRole::kTarget ? kFileAlreadyExists
                                       : kPathFileAccessError;
    case EACCES:
    case EPERM:
      return kPermissionDenied;
    case EINVAL:
    case ENOEXEC:
    case ELIBBAD:
      return kInvalidArgument;
    default:  // too long, a folder, busy, another device, full, I/O...
      return kPathFileAccessError;
  }
}

std::string PathBytes(const Text& text) {
  if (text.find(u'\0') != Text::npos) Raise(kBadFileNameOrNumber);
  return EncodeUtf8(text);
}

int RenameWithoutReplacing(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
  if (!fallback_forced.load(std::memory_order_relaxed)) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(),
                  RENAME_NOREPLACE) == 0) {
      return 0;
    }
    const int error = errno;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP) {
      return error;
    }
  }
#endif
  return RenameOverPlaceholder(from, to);
}

void ForceRenameFallback(bool forced) {
  fallback_forced.store(forced, std::memory_order_relaxed);
}

}  // namespace shuffler::posix
