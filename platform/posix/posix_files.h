// The file pieces of the POSIX platform that its tests reach directly: the
// mapping of errno values onto Shuffler's failure numbers, the rename that
// never replaces an existing entry, and the hidden and system attributes of
// Windows file systems.
#pragma once

#include <fcntl.h>

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

/// An entry as the system calls that end in "at" name it: by its name in an
/// open folder, or, with `folder` AT_FDCWD, by its whole path.
struct EntryAt {
  int folder = AT_FDCWD;
  std::string name;  // the name in `folder`, or the whole path
  /// True when no symbolic link may be followed at `name` either.
  bool below_work_folder = false;
};

/// The folders a run works inside, held open from the moment they were
/// claimed. A path below one of them is taken from the folder held open,
/// whatever the path reaches now, and no symbolic link below it is
/// followed: a link there is an entry like a file, never a way into a
/// folder, so nothing is read, moved or written outside through it. Paths
/// elsewhere are taken as they are, links followed.
class WorkFolders {
 public:
  WorkFolders() = default;
  WorkFolders(const WorkFolders&) = delete;
  WorkFolders& operator=(const WorkFolders&) = delete;
  ~WorkFolders();

  /// Works below `path` from the open folder `fd` on; takes `fd` over.
  void Add(const std::string& path, int fd);
  /// Where `path` is, in `at`. Returns 0, or the errno value that says why
  /// a folder on the way below a work folder cannot be opened: ENOTDIR
  /// where it is a symbolic link or no folder, as for a file.
  int Resolve(const std::string& path, EntryAt& at);
  /// Opens the folder at `path` for reading its entries; a link below a
  /// work folder is not one (ENOTDIR). Returns the descriptor, or -1 with
  /// errno set.
  int OpenFolder(const std::string& path);
  /// To be called before a change at `path` that can replace a folder
  /// (made, removed, renamed): a sub-folder held open for a path through
  /// it is let go, and looked up again when next needed.
  void Changing(const std::string& path);

 private:
  struct Folder {
    std::string path;
    int fd;
  };
  // The work folder `path` is below, and the rest of the path after its
  // separator; null when there is none.
  const Folder* Below(const std::string& path, std::string_view& rest) const;
  void ForgetSubFolder();

  std::vector<Folder> folders_;
  // The last sub-folder opened below a work folder, kept for the many moves
  // into it and out of it: its work folder, its path from there, its
  // descriptor.
  const Folder* sub_in_ = nullptr;
  std::string sub_path_;
  int sub_fd_ = -1;
};

/// Renames entries without ever replacing one, and keeps what it learns
/// about each target folder's file system on the way.
class NoReplaceRenamer {
 public:
  /// Renames `from` to `to` unless `to` exists, which is never replaced.
  /// Returns 0, or the errno value of the failure (EEXIST when `to`
  /// exists). Nothing is created or removed on any path.
  int Rename(const std::string& from, const std::string& to) {
    return Rename(from, to, PlainAt(from), PlainAt(to));
  }
  /// `Rename` of the entries at `from_at` and `to_at`, whose paths are
  /// `from` and `to`.
  int Rename(const std::string& from, const std::string& to,
             const EntryAt& from_at, const EntryAt& to_at);

  /// `Rename` for a move straight back onto the name `to` that the same
  /// mover freed by its last move, with nothing changed through Shuffler
  /// since. Where the folder's file system refuses RENAME_NOREPLACE, the
  /// look for an entry at `to` is left out: another program could take the
  /// name only in the moment between the two moves, as it could between a
  /// look and the rename after it, and on such a file system every look is
  /// a round trip to its driver.
  int RenameOntoFreedName(const std::string& from, const std::string& to,
                          const EntryAt& from_at, const EntryAt& to_at);

  /// How many target folders were found to refuse RENAME_NOREPLACE.
  int RefusingFolders() const;

 private:
  enum class Flag : uint8_t { kTaken, kRefused };
  struct Folder {
    std::string path;
    Flag flag;
    long name_max;  // the longest name in bytes, or -1 when unknown
  };
  static EntryAt PlainAt(const std::string& path) { return {AT_FDCWD, path}; }
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
