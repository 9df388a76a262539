#include "platform/posix/posix_files.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "platform/posix/utf8.h"

namespace shuffler::posix {

namespace {

// The extended attributes that hold an NTFS entry's attributes: all of them
// as a big-endian 32-bit number (ntfs-3g, and the kernel's ntfs3), or the
// low byte alone (ntfs3).
constexpr char kNtfsAttributes[] = "system.ntfs_attrib_be";
constexpr char kDosAttributes[] = "system.dos_attrib";
// The hidden and system bits, the same on NTFS, FAT and exFAT.
constexpr uint32_t kHiddenOrSystem = 0x2 | 0x4;
// Folders a renamer keeps what it learnt about; a run renames into two.
constexpr size_t kKnownFolders = 8;

template <typename Char>
std::basic_string_view<Char> FolderPart(std::basic_string_view<Char> path) {
  static constexpr Char kDot[] = {Char('.')};
  const size_t cut = path.rfind(Char('/'));
  if (cut == path.npos) return std::basic_string_view<Char>(kDot, 1);
  return path.substr(0, cut == 0 ? 1 : cut);
}

template <typename Char>
std::basic_string_view<Char> NamePart(std::basic_string_view<Char> path) {
  const size_t cut = path.rfind(Char('/'));
  return cut == path.npos ? path : path.substr(cut + 1);
}

// The longest name in bytes that the file system holding the folder of
// `path` (which is `at`) takes; -1 when it does not say.
long NameMaxOf(const std::string& path, const EntryAt& at) {
  if (at.folder != AT_FDCWD) return fpathconf(at.folder, _PC_NAME_MAX);
  return pathconf(std::string(FolderOf(path)).c_str(), _PC_NAME_MAX);
}

// The errno value of a plain rename of `from` to `to`, 0 when it succeeded.
int PlainRename(const EntryAt& from, const EntryAt& to) {
  return renameat(from.folder, from.name.c_str(), to.folder, to.name.c_str()) ==
                 0
             ? 0
             : errno;
}

// Renames `from` to `to` after looking whether `to` exists, for a system
// without renameat2: another program that makes `to` between the look and
// the rename loses its entry to this one.
int RenameAfterLooking(const EntryAt& from, const EntryAt& to) {
  struct stat status;
  if (fstatat(to.folder, to.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
    return EEXIST;
  }
  if (errno != ENOENT) return errno;
  return PlainRename(from, to);
}

#ifdef __linux__
// The type of the mount that holds the device `device`, as
// /proc/self/mountinfo gives it ("ext4", "fuse.fusefat"); empty when it is
// not found.
std::string MountTypeOf(dev_t device) {
  FILE* mounts = std::fopen("/proc/self/mountinfo", "re");
  if (mounts == nullptr) return std::string();
  const std::string wanted =
      std::to_string(major(device)) + ":" + std::to_string(minor(device));
  std::string type;
  char* line = nullptr;
  size_t capacity = 0;
  while (type.empty() && getline(&line, &capacity, mounts) > 0) {
    // "id parent major:minor root point options [tags] - type source ..."
    const std::string_view text = line;
    size_t field = text.find(' ');
    if (field == std::string_view::npos) continue;
    field = text.find(' ', field + 1);
    if (field == std::string_view::npos) continue;
    const size_t end = text.find(' ', field + 1);
    if (text.substr(field + 1, end - field - 1) != wanted) continue;
    const size_t dash = text.find(" - ");
    if (dash == std::string_view::npos) continue;
    const std::string_view rest = text.substr(dash + 3);
    type = std::string(rest.substr(0, rest.find(' ')));
  }
  std::free(line);
  std::fclose(mounts);
  return type;
}
#endif

}  // namespace

std::string_view FolderOf(std::string_view path) {
  return FolderPart(path);
}
TextView FolderOf(TextView path) {
  return FolderPart(path);
}
std::string_view NameOf(std::string_view path) {
  return NamePart(path);
}
TextView NameOf(TextView path) {
  return NamePart(path);
}

bool LosesRenamedFolderContents(const std::string& folder) {
#ifdef __linux__
  constexpr decltype(statfs::f_type) kFuseMagic = 0x65735546;
  struct statfs file_system;
  if (statfs(folder.c_str(), &file_system) != 0 ||
      file_system.f_type != kFuseMagic) {
    return false;
  }
  struct stat status;
  if (stat(folder.c_str(), &status) != 0) return false;
  const std::string type = MountTypeOf(status.st_dev);
  return type == "fuse.fusefat" || type == "fusefat";
#else
  (void)folder;
  return false;
#endif
}

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
    case EROFS:  // a read-only medium: no right to change anything on it
      return kPermissionDenied;
    case ENOSPC:
    case EDQUOT:  // no room for it, on the disk or in the player's quota
      return kDiskFull;
    case EINVAL:
    case ENOEXEC:
    case ELIBBAD:
      return kInvalidArgument;
    default:  // too long, a folder, busy, another device, I/O...
      return kPathFileAccessError;
  }
}

void RaiseError(int error, PathRole role, const std::string& path) {
  RaiseSystemFailure(FailureNumberFor(error, role), error, DecodeUtf8(path));
}

std::string PathBytes(TextView text) {
  std::string bytes;
  AssignPathBytes(text, bytes);
  return bytes;
}

void AssignPathBytes(TextView text, std::string& bytes) {
  if (text.find(u'\0') != TextView::npos) Raise(kBadFileNameOrNumber);
  bytes.clear();
  AppendUtf8(text, bytes);
}

WorkFolders::~WorkFolders() {
  ForgetSubFolder();
  for (const Folder& folder : folders_)
    close(folder.fd);
}

void WorkFolders::Add(const std::string& path, int fd) {
  ForgetSubFolder();  // `folders_` may move
  folders_.push_back({path, fd});
}

const WorkFolders::Folder* WorkFolders::Below(const std::string& path,
                                              std::string_view& rest) const {
  const Folder* below = nullptr;
  for (const Folder& folder : folders_) {
    const size_t length = folder.path.size();
    if (path.size() > length && path[length] == '/' &&
        path.compare(0, length, folder.path) == 0 &&
        (below == nullptr || length > below->path.size())) {
      below = &folder;
    }
  }
  if (below != nullptr) {
    rest = std::string_view(path).substr(below->path.size() + 1);
  }
  return below;
}

namespace {

// Sets `name` to ".", the folder itself. Not by assign("."), about which
// GCC 12 at -O3 gives a false -Wrestrict warning.
void SetToCurrentFolder(std::string& name) {
  name.clear();
  name.push_back('.');
}

}  // namespace

int WorkFolders::Resolve(const std::string& path, EntryAt& at) {
  std::string_view rest;
  const Folder* work = Below(path, rest);
  if (work == nullptr) {
    at.folder = AT_FDCWD;
    at.name.assign(path);
    at.below_work_folder = false;
    for (const Folder& folder : folders_) {
      if (folder.path == path) {
        at.folder = folder.fd;
        SetToCurrentFolder(at.name);
      }
    }
    return 0;
  }
  at.below_work_folder = true;
  const size_t cut = rest.rfind('/');
  at.name.assign(cut == std::string_view::npos ? rest : rest.substr(cut + 1));
  if (at.name.empty()) SetToCurrentFolder(at.name);
  if (cut == std::string_view::npos) {
    at.folder = work->fd;
    return 0;
  }
  const std::string_view sub = rest.substr(0, cut);
  if (sub_in_ != work || sub_path_ != sub) {
    ForgetSubFolder();
    int fd = work->fd;
    for (std::string_view left = sub; fd >= 0;) {
      const size_t end = left.find('/');
      const std::string part(left.substr(0, end));
      int next = -1;
      if (part.empty() || part == "." || part == "..") {
        errno = ENOTDIR;  // never out of the work folder
      } else {
        next = openat(fd, part.c_str(),
                      O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      }
      const int error = errno;
      if (fd != work->fd) close(fd);
      if (next < 0) return error == ELOOP ? ENOTDIR : error;
      fd = next;
      if (end == std::string_view::npos) break;
      left.remove_prefix(end + 1);
    }
    sub_in_ = work;
    sub_path_.assign(sub);
    sub_fd_ = fd;
  }
  at.folder = sub_fd_;
  return 0;
}

int WorkFolders::OpenFolder(const std::string& path) {
  EntryAt at;
  if (const int error = Resolve(path, at)) {
    errno = error;
    return -1;
  }
  const int fd = openat(at.folder, at.name.c_str(),
                        O_RDONLY | O_DIRECTORY | O_CLOEXEC |
                            (at.below_work_folder ? O_NOFOLLOW : 0));
  if (fd < 0 && errno == ELOOP && at.below_work_folder) errno = ENOTDIR;
  return fd;
}

void WorkFolders::Changing(const std::string& path) {
  if (sub_in_ == nullptr) return;
  std::string_view rest;
  if (Below(path, rest) != sub_in_) return;
  // Only a change on the way to the sub-folder can replace it: not one
  // beside it, nor one inside it.
  const std::string_view sub = sub_path_;
  const std::string_view first = sub.substr(0, sub.find('/'));
  const bool on_the_way = rest.substr(0, rest.find('/')) == first &&
                          !(rest.size() > sub.size() &&
                            rest[sub.size()] == '/' && rest.starts_with(sub));
  if (on_the_way) ForgetSubFolder();
}

void WorkFolders::ForgetSubFolder() {
  if (sub_fd_ >= 0) close(sub_fd_);
  sub_fd_ = -1;
  sub_in_ = nullptr;
  sub_path_.clear();
}

// Linux checks RENAME_NOREPLACE itself: it answers EEXIST for a target
// that exists before the file system is asked to rename anything. A file
// system that cannot keep the promise itself refuses the flag, and FUSE
// file systems do (ntfs-3g, exfat-fuse, fusefat), with EINVAL: so EINVAL
// says the target was absent when the kernel looked. A plain rename()
// follows then. It is one call, atomic like any rename, and leaves nothing
// to clean up when the program is killed at any moment; it replaces only
// an entry that another program creates under that very name in the
// instant between the two calls.
//
// The other ways were worse. A placeholder claimed with O_EXCL and renamed
// over leaves an empty file under the new name when the program is killed
// in between, which the next run takes for a song, and its error path has
// to remove a file again. link() and unlink() never replace, where hard
// links work at all (not on FAT or exFAT), but a kill between them leaves
// one file under two names, and they cost two calls of the file system
// where rename() costs one.
//
// A genuine EINVAL (a folder moved into itself) looks the same, so which
// answer a folder's file system gives is learnt from the first rename into
// it: one where the flag was taken reports EINVAL as it is.
//
// A name longer than the file system takes is refused here, before the
// driver sees it: FUSE leaves that check to the driver, and fusefat, asked
// to rename onto a name of more than 255 bytes, removes the entry and then
// fails, which loses the file.
int NoReplaceRenamer::Rename(const std::string& from, const std::string& to,
                             const EntryAt& from_at, const EntryAt& to_at) {
  (void)from;
#ifdef RENAME_NOREPLACE
  if (renameat2(from_at.folder, from_at.name.c_str(), to_at.folder,
                to_at.name.c_str(), RENAME_NOREPLACE) == 0) {
    if (Find(to) == nullptr) Learn(to, Flag::kTaken, -1);
    return 0;
  }
  const int error = errno;
  if (error == ENOSYS) return RenameAfterLooking(from_at, to_at);
  if (error != EINVAL && error != EOPNOTSUPP) return error;
  const Folder* folder = Find(to);
  if (folder != nullptr && folder->flag == Flag::kTaken) return error;
  const long name_max =
      folder != nullptr ? folder->name_max : NameMaxOf(to, to_at);
  if (name_max >= 0 && NameOf(to).size() > static_cast<size_t>(name_max)) {
    return ENAMETOOLONG;
  }
  if (const int failed = PlainRename(from_at, to_at)) return failed;
  if (folder == nullptr) Learn(to, Flag::kRefused, name_max);
  return 0;
#else
  return RenameAfterLooking(from_at, to_at);
#endif
}

int NoReplaceRenamer::RenameOntoFreedName(const std::string& from,
                                          const std::string& to,
                                          const EntryAt& from_at,
                                          const EntryAt& to_at) {
  const Folder* folder = Find(to);
  if (folder == nullptr || folder->flag != Flag::kRefused) {
    return Rename(from, to, from_at, to_at);
  }
  return PlainRename(from_at, to_at);
}

int NoReplaceRenamer::RefusingFolders() const {
  return static_cast<int>(std::count_if(
      folders_.begin(), folders_.end(),
      [](const Folder& folder) { return folder.flag == Flag::kRefused; }));
}

const NoReplaceRenamer::Folder* NoReplaceRenamer::Find(
    const std::string& to) const {
  const std::string_view folder = FolderOf(to);
  for (const Folder& known : folders_) {
    if (known.path == folder) return &known;
  }
  return nullptr;
}

void NoReplaceRenamer::Learn(const std::string& to, Flag flag, long name_max) {
  if (folders_.size() >= kKnownFolders) folders_.erase(folders_.begin());
  folders_.push_back({std::string(FolderOf(to)), flag, name_max});
}

void WindowsAttributes::Prepare(int folder_fd, const std::string& folder) {
  way_ = Way::kNone;
  folder_fd_ = folder_fd;
  if (folder_length_ != folder.size() + 1 ||
      path_.compare(0, folder.size(), folder) != 0) {
    shown_.clear();  // another folder
  }
  path_.assign(folder);
  path_ += '/';
  folder_length_ = path_.size();
#ifdef __linux__
  struct statfs file_system;
  if (fstatfs(folder_fd, &file_system) != 0) return;
  switch (file_system.f_type) {
    case EXT4_SUPER_MAGIC:  // ext2 and ext3 too
    case BTRFS_SUPER_MAGIC:
    case XFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case F2FS_SUPER_MAGIC:
      return;  // Linux's own file systems: no such attributes
    case MSDOS_SUPER_MAGIC:
      way_ = Way::kFatIoctl;  // the kernel's vfat and msdos
      return;
    case EXFAT_SUPER_MAGIC: {
      // The kernel's exFAT answers the FAT request from some version on.
      uint32_t attributes = 0;
      if (ioctl(folder_fd, FAT_IOCTL_GET_ATTRIBUTES, &attributes) == 0) {
        way_ = Way::kFatIoctl;
      }
      return;
    }
    default:
      break;
  }
  // Any other (FUSE, the kernel's ntfs3, network file systems): the folder
  // itself says whether its file system keeps NTFS attributes. A FUSE file
  // system without extended attributes answers at once after the first
  // time it was asked.
  unsigned char value[4];
  if (fgetxattr(folder_fd, kNtfsAttributes, value, sizeof value) == 4) {
    way_ = Way::kNtfsXattr;
  } else if (fgetxattr(folder_fd, kDosAttributes, value, 1) == 1) {
    way_ = Way::kDosXattr;
  }
#endif
}

bool WindowsAttributes::HiddenOrSystem(const char* name) {
  if (way_ == Way::kNone) return false;
  std::string key = name;
  if (shown_.count(key) != 0) return false;
  const bool hidden = ReadHiddenOrSystem(name);
  if (!hidden) shown_.insert(std::move(key));
  return hidden;
}

bool WindowsAttributes::ReadHiddenOrSystem(const char* name) {
#ifdef __linux__
  path_.resize(folder_length_);
  path_ += name;
  unsigned char value[4];
  switch (way_) {
    case Way::kNone:
      return false;
    case Way::kNtfsXattr:
      // Big-endian: the hidden and system bits are in the last byte.
      return lgetxattr(path_.c_str(), kNtfsAttributes, value, 4) == 4 &&
             (value[3] & kHiddenOrSystem) != 0;
    case Way::kDosXattr:
      return lgetxattr(path_.c_str(), kDosAttributes, value, 1) == 1 &&
             (value[0] & kHiddenOrSystem) != 0;
    case Way::kFatIoctl: {
      const int fd =
          openat(folder_fd_, name,
                 O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
      if (fd < 0) return false;
      uint32_t attributes = 0;
      const bool hidden =
          ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &attributes) == 0 &&
          (attributes & kHiddenOrSystem) != 0;
      close(fd);
      return hidden;
    }
  }
#else
  (void)name;
#endif
  return false;
}

}  // namespace shuffler::posix
