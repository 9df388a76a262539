// The file pieces of the POSIX platform that its tests reach directly: the
// mapping of errno values onto Shuffler's failure numbers, and the rename
// that never replaces an existing entry.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace shuffler::posix {

/// What the path an error is about names, which decides what "missing" and
/// "exists" mean.
enum class PathRole {
  kExisting,  ///< an entry that must exist (a source, a program)
  kFolder,    ///< a folder being made or removed
  kTarget,    ///< the new name of an entry, or a file being created
};

/// The failure number for the errno value `error` about a path in `role`.
/// Every POSIX error Shuffler reports goes through here.
int32_t FailureNumberFor(int error, PathRole role);

/// `text` as the bytes of a path; fails with `kBadFileNameOrNumber` when it
/// holds a NUL character, which would cut it short.
std::string PathBytes(const Text& text);

/// Renames `from` to `to` unless `to` exists, which is never replaced.
/// Returns 0, or the errno value of the failure (EEXIST when `to` exists).
///
/// Uses renameat2 with RENAME_NOREPLACE. Where the file system refuses that
/// flag, it claims `to` atomically with a placeholder (a new empty file, or
/// a new folder when `from` is a folder) and renames over the placeholder,
/// which is removed again when that rename fails.
int RenameWithoutReplacing(const std::string& from, const std::string& to);

/// Makes `RenameWithoutReplacing` take its placeholder path always, so tests
/// can run it on file systems that accept RENAME_NOREPLACE.
void ForceRenameFallback(bool forced);

}  // namespace shuffler::posix
