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

// The folder part of `path`: everything before its last '/', empty when it
// has none.
std::string_view FolderOf(const std::string& path) {
  const size_t cut = path.rfind('/');
  return cut == std::string::npos ? std::string_view()
                                  : std::string_view(path).substr(0, cut);
}

// The last part of `path`: everything after its last '/'.
std::string_view NameOf(const std::string& path) {
  const size_t cut = path.rfind('/');
  return cut == std::string::npos ? std::string_view(path)
                                  : std::string_view(path).substr(cut + 1);
}

// The longest name in bytes that the file system holding the folder of
// `path` takes; -1 when it does not say.
long NameMaxOf(const std::string& path) {
  const std::string_view folder = FolderOf(path);
  const std::string folder_path = folder.empty()
                                      ? (path.starts_with('/') ? "/" : ".")
                                      : std::string(folder);
  return pathconf(folder_path.c_str(), _PC_NAME_MAX);
}

// Renames `from` to `to` after looking whether `to` exists, for a system
// without renameat2: another program that makes `to` between the look and
// the rename loses its entry to this one.
int RenameAfterLooking(const std::string& from, const std::string& to) {
  struct stat status;
  if (lstat(to.c_str(), &status) == 0) return EEXIST;
  if (errno != ENOENT) return errno;
  return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
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
    case EDQUOT:
      return kDiskFull;
    case EINVAL:
    case ENOEXEC:
    case ELIBBAD:
      return kInvalidArgument;
    default:  // too long, a folder, busy, another device, full, I/O...
      return kPathFileAccessError;
  }
}

std::string PathBytes(const Text& text) {
  std::string bytes;
  AssignPathBytes(text, bytes);
  return bytes;
}

void AssignPathBytes(TextView text, std::string& bytes) {
  if (text.find(u'\0') != TextView::npos) Raise(kBadFileNameOrNumber);
  bytes.clear();
  AppendUtf8(text, bytes);
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
int NoReplaceRenamer::Rename(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(),
                RENAME_NOREPLACE) == 0) {
    if (Find(to) == nullptr) Learn(to, Flag::kTaken, -1);
    return 0;
  }
  const int error = errno;
  if (error == ENOSYS) return RenameAfterLooking(from, to);
  if (error != EINVAL && error != EOPNOTSUPP) return error;
  const Folder* folder = Find(to);
  if (folder != nullptr && folder->flag == Flag::kTaken) return error;
  const long name_max = folder != nullptr ? folder->name_max : NameMaxOf(to);
  if (name_max >= 0 && NameOf(to).size() > static_cast<size_t>(name_max)) {
    return ENAMETOOLONG;
  }
  if (rename(from.c_str(), to.c_str()) != 0) return errno;
  if (folder == nullptr) Learn(to, Flag::kRefused, name_max);
  return 0;
#else
  return RenameAfterLooking(from, to);
#endif
}

int NoReplaceRenamer::RenameOntoFreedName(const std::string& from,
                                          const std::string& to) {
  const Folder* folder = Find(to);
  if (folder == nullptr || folder->flag != Flag::kRefused) {
    return Rename(from, to);
  }
  return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
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
