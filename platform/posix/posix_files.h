// The file pieces of the POSIX platform that its tests reach directly: the
// mapping of errno values onto Shuffler's failure numbers, the rename that
// never replaces an existing entry, and the hidden and system attributes of
// Windows file systems.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

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

/// Raises the failure for the errno value `error` about `path` in `role`.
[[noreturn]] void RaiseError(int error, PathRole role, const std::string& path);

/// `text` as the bytes of a path; fails with `kBadFileNameOrNumber` when it
/// holds a NUL character, which would cut it short.
std::string PathBytes(TextView text);

/// `PathBytes(text)` into `bytes`, reusing its storage: for the paths of
/// every rename and move.
void AssignPathBytes(TextView text, std::string& bytes);

/// The folder that holds the entry `path`, as a path to open: everything
/// before its last "/", the root "/" for an entry of the root, and "." for a
/// path without a "/".
std::string_view FolderOf(std::string_view path);
TextView FolderOf(TextView path);

/// The last part of `path`: everything after its last "/", the whole path
/// when it has none.
std::string_view NameOf(std::string_view path);
TextView NameOf(TextView path);

/// True when `folder` is on a file system known to lose the contents of a
/// folder that is renamed in it: fusefat, which keeps the renamed folder
/// but empties it. Told by the FUSE file-system type and the mount's type.
bool LosesRenamedFolderContents(const std::string& folder);

/// Renames entries without ever replacing one, and keeps what it learns
/// about each target folder's file system on the way.
class NoReplaceRenamer {
 public:
  /// Renames `from` to `to` unless `to` exists, which is never replaced.
  /// Returns 0, or the errno value of the failure (EEXIST when `to`
  /// exists). Nothing is created or removed on any path.
  int Rename(const std::string& from, const std::string& to);

  /// `Rename` for a move straight back onto the name `to` that the same
  /// mover freed by its last move, with nothing changed through Shuffler
  /// since. Where the folder's file system refuses RENAME_NOREPLACE, the
  /// look for an entry at `to` is left out: another program could take the
  /// name only in the moment between the two moves, as it could between a
  /// look and the rename after it, and on such a file system every look is
  /// a round trip to its driver.
  int RenameOntoFreedName(const std::string& from, const std::string& to);

  /// How many target folders were found to refuse RENAME_NOREPLACE.
  int RefusingFolders() const;

 private:
  enum class Flag : uint8_t { kTaken, kRefused };
  struct Folder {
    std::string path;
    Flag flag;
    long name_max;  // the longest name in bytes, or -1 when unknown
  };
  const Folder* Find(const std::string& to) const;
  void Learn(const std::string& to, Flag flag, long name_max);

  std::vector<Folder> folders_;  // the few folders renamed into, newest last
};

/// Reads Windows' hidden and system attributes of the entries of one folder,
/// on the file systems that keep them (NTFS, FAT, exFAT).
///
/// An entry found neither hidden nor system is not asked again while the
/// object is prepared for the same folder again: a shuffle lists its folder
/// twice in a row, and on a FUSE file system every read is a round trip to
/// its driver. An attribute set between the two listings goes unseen.
class WindowsAttributes {
 public:
  /// Prepares for the entries of the open folder `folder_fd`, whose path is
  /// `folder`: decides once whether its file system can hold the attributes
  /// at all, and how they are read there.
  void Prepare(int folder_fd, const std::string& folder);
  /// False where entries cannot have the attributes (ext4 and the like);
  /// `HiddenOrSystem` is then always false.
  bool Any() const { return way_ != Way::kNone; }
  /// True when the entry `name` of the prepared folder is hidden or a system
  /// entry. An attribute that cannot be read counts as neither.
  bool HiddenOrSystem(const char* name);

 private:
  enum class Way : uint8_t { kNone, kNtfsXattr, kDosXattr, kFatIoctl };
  bool ReadHiddenOrSystem(const char* name);

  Way way_ = Way::kNone;
  int folder_fd_ = -1;
  std::string path_;  // the folder and a '/', then the entry's name
  size_t folder_length_ = 0;
  std::unordered_set<std::string> shown_;  // read as neither, in path_'s folder
};

}  // namespace shuffler::posix
