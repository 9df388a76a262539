#include "tests/posix/scratch_mount.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "tests/posix/posix_testing.h"

namespace shuffler::posix_testing {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A tool's path: found through PATH or in the superuser's folders, which
// PATH may lack; empty when it is nowhere.
std::string FindTool(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string search = path != nullptr ? path : "";
  search += ":/usr/local/sbin:/usr/sbin:/sbin:/usr/bin:/bin";
  std::string_view rest = search;
  for (;;) {
    const size_t cut = rest.find(':');
    const std::string_view folder = rest.substr(0, cut);
    if (!folder.empty()) {
      const std::string candidate = std::string(folder) + "/" + name;
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    if (cut == std::string_view::npos) return "";
    rest.remove_prefix(cut + 1);
  }
}

struct ToolRun {
  int status = -1;     // the exit status, -1 when it did not exit
  std::string output;  // standard output and error together
};

// Runs a tool and waits for it, for at most a minute. A FUSE driver forks
// its daemon and returns once the file system is mounted.
ToolRun RunTool(const std::vector<std::string>& words) {
  const std::string program = FindTool(words.front());
  if (program.empty()) throw std::runtime_error("no " + words.front());
  const ProgramRun run =
      RunProgram(program, {words.begin() + 1, words.end()},
                 std::chrono::minutes(1), Captured::kOutputAndErrors);
  return {run.exit_code, run.error_output};
}

// Runs a tool that must succeed; returns its output.
std::string MustRun(const std::vector<std::string>& words) {
  const ToolRun run = RunTool(words);
  if (run.status != 0) {
    std::string command;
    for (const std::string& word : words)
      command += word + " ";
    throw std::runtime_error(command + "failed: " + run.output);
  }
  return run.output;
}

// The tools each file system needs, with their packages.
struct Tool {
  const char* name;
  const char* package;
};
std::vector<Tool> ToolsFor(WindowsFileSystem kind) {
  switch (kind) {
    case WindowsFileSystem::kNtfs:
      return {{"mkntfs", "ntfs-3g"}, {"ntfs-3g", "ntfs-3g"}};
    case WindowsFileSystem::kExfat:
      return {{"mkfs.exfat", "exfatprogs"},
              {"mount.exfat-fuse", "exfat-fuse"},
              {"losetup", "mount"}};
    case WindowsFileSystem::kFat32:
      return {{"mkfs.vfat", "dosfstools"}, {"fusefat", "fusefat"}};
  }
  return {};
}

bool IsMountPoint(const fs::path& folder) {
  struct stat inside, outside;
  return stat(folder.c_str(), &inside) == 0 &&
         stat(folder.parent_path().c_str(), &outside) == 0 &&
         inside.st_dev != outside.st_dev;
}

}  // namespace

const char* NameOf(WindowsFileSystem kind) {
  switch (kind) {
    case WindowsFileSystem::kNtfs:
      return "ntfs";
    case WindowsFileSystem::kExfat:
      return "exfat";
    case WindowsFileSystem::kFat32:
      return "fat32";
  }
  return "?";
}

std::string ScratchMount::WhyNot(WindowsFileSystem kind) {
  if (geteuid() != 0) return "mounting needs the superuser";
  if (access("/dev/fuse", R_OK | W_OK) != 0) return "no /dev/fuse";
  if (kind == WindowsFileSystem::kExfat &&
      access("/dev/loop-control", R_OK | W_OK) != 0) {
    return "no loop devices";
  }
  for (const Tool& tool : ToolsFor(kind)) {
    if (FindTool(tool.name).empty()) {
      return std::string("no ") + tool.name + " (package " + tool.package + ")";
    }
  }
  return "";
}

ScratchMount::ScratchMount(WindowsFileSystem kind, int megabytes) {
  std::random_device entropy;
  for (int attempt = 0; scratch_.empty(); ++attempt) {
    if (attempt == 100) throw std::runtime_error("no free scratch folder");
    const fs::path candidate =
        fs::temp_directory_path() / ("shuffler-" + std::string(NameOf(kind)) +
                                     "-" + std::to_string(entropy()));
    if (fs::create_directory(candidate)) scratch_ = fs::canonical(candidate);
  }
  try {
    const fs::path image = scratch_ / "image";
    mounted_ = scratch_ / "mounted";
    fs::create_directory(mounted_);
    {
      std::FILE* file = std::fopen(image.c_str(), "wb");
      if (file == nullptr) throw std::runtime_error("cannot make the image");
      std::fclose(file);
      fs::resize_file(image, static_cast<uintmax_t>(megabytes) << 20);
    }
    switch (kind) {
      case WindowsFileSystem::kNtfs:
        MustRun({"mkntfs", "-F", "-f", "-q", image});
        MustRun({"ntfs-3g", image, mounted_});
        break;
      case WindowsFileSystem::kExfat: {
        MustRun({"mkfs.exfat", image});
        std::string device = MustRun({"losetup", "-f", "--show", image});
        while (!device.empty() &&
               (device.back() == '\n' || device.back() == ' ')) {
          device.pop_back();
        }
        loop_device_ = device;
        MustRun({"mount.exfat-fuse", loop_device_, mounted_});
        break;
      }
      case WindowsFileSystem::kFat32:
        MustRun({"mkfs.vfat", "-F", "32", image});
        MustRun({"fusefat", "-o", "rw+", image, mounted_});
        break;
    }
    is_mounted_ = true;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!IsMountPoint(mounted_)) {
      if (Clock::now() >= deadline) {
        throw std::runtime_error(std::string(NameOf(kind)) +
                                 " did not appear at " + mounted_.native());
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  } catch (...) {
    Unmount();
    throw;
  }
}

ScratchMount::~ScratchMount() {
  Unmount();
}

void ScratchMount::Unmount() {
  if (is_mounted_ && RunTool({"umount", mounted_}).status != 0) {
    RunTool({"umount", "-l", mounted_});
  }
  is_mounted_ = false;
  // Detached at once, or as soon as the driver lets go of it.
  if (!loop_device_.empty()) RunTool({"losetup", "-d", loop_device_});
  loop_device_.clear();
  std::error_code ignored;
  if (!scratch_.empty()) fs::remove_all(scratch_, ignored);
}

bool SetNtfsAttributes(const std::filesystem::path& path, uint32_t attributes) {
  const unsigned char value[4] = {static_cast<unsigned char>(attributes >> 24),
                                  static_cast<unsigned char>(attributes >> 16),
                                  static_cast<unsigned char>(attributes >> 8),
                                  static_cast<unsigned char>(attributes)};
  return setxattr(path.c_str(), "system.ntfs_attrib_be", value, sizeof value,
                  0) == 0;
}

}  // namespace shuffler::posix_testing
