// Windows file systems for the tests on Linux: a small image of NTFS, exFAT
// or FAT32, made and mounted through FUSE in a scratch folder of its own, and
// unmounted and removed again at the end. Mounting needs the superuser,
// /dev/fuse and the tools of the packages ntfs-3g, exfat-fuse, exfatprogs,
// fusefat and dosfstools (scripts/setup.sh installs them). The
// operating-system calls stay in scratch_mount.cpp; this header includes no
// OS header. Helpers throw std::runtime_error when the system refuses.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace shuffler::posix_testing {

/// The file systems a scratch mount can hold, each with the FUSE driver
/// Debian has for it.
enum class WindowsFileSystem {
  kNtfs,   ///< mkntfs, mounted with ntfs-3g
  kExfat,  ///< mkfs.exfat, mounted with exfat-fuse on a loop device
  kFat32,  ///< mkfs.vfat -F 32, mounted with fusefat read-write
};

/// A short name for test names and messages: "ntfs", "exfat", "fat32".
const char* NameOf(WindowsFileSystem kind);

/// A fresh image of `kind`, mounted at `Folder()` for the object's lifetime.
class ScratchMount {
 public:
  /// Why `kind` cannot be mounted on this machine (not the superuser, no
  /// /dev/fuse, a tool missing); empty when it can.
  static std::string WhyNot(WindowsFileSystem kind);

  /// Makes an image of `megabytes` and mounts it.
  explicit ScratchMount(WindowsFileSystem kind, int megabytes = 64);
  ScratchMount(const ScratchMount&) = delete;
  ScratchMount& operator=(const ScratchMount&) = delete;
  /// Unmounts (lazily when something still holds it), frees the loop
  /// device and removes the image and its scratch folder.
  ~ScratchMount();

  /// The mounted file system's root folder.
  const std::filesystem::path& Folder() const { return mounted_; }

 private:
  void Unmount();

  std::filesystem::path scratch_;  // holds the image and the mount point
  std::filesystem::path mounted_;
  std::string loop_device_;  // empty when the image is mounted directly
  bool is_mounted_ = false;
};

/// Windows' attribute bits.
constexpr uint32_t kHiddenAttribute = 0x2;
constexpr uint32_t kSystemAttribute = 0x4;
constexpr uint32_t kArchiveAttribute = 0x20;

/// Sets the NTFS attributes of `path` on an ntfs-3g mount, through its
/// extended attribute "system.ntfs_attrib_be"; false when refused.
bool SetNtfsAttributes(const std::filesystem::path& path, uint32_t attributes);

}  // namespace shuffler::posix_testing
