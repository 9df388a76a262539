#include "platform/posix/testing/posix_testing.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#endif

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "platform/posix/posix_files.h"

extern char** environ;

namespace shuffler::posix_testing {

namespace {

// A new anonymous file for a child's standard error.
int NewCaptureFile() {
  std::FILE* file = std::tmpfile();
  if (file == nullptr) throw std::runtime_error("no temporary file");
  const int fd = dup(fileno(file));
  std::fclose(file);
  if (fd < 0) throw std::runtime_error("cannot keep the temporary file");
  return fd;
}

std::string ReadAll(int fd) {
  std::string text;
  if (lseek(fd, 0, SEEK_SET) != 0) return text;
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  return text;
}

// Starts `program` with standard input from /dev/null, standard error into
// `error_fd`, and standard output there too or discarded.
int Spawn(const std::string& program, const std::vector<std::string>& arguments,
          int error_fd, Captured captured) {
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (captured == Captured::kOutputAndErrors) {
    posix_spawn_file_actions_adddup2(&actions, error_fd, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, error_fd, 2);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr,
                                argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    throw std::runtime_error("cannot start " + program + ": errno " +
                             std::to_string(error));
  }
  return pid;
}

void Record(int status, ProgramRun& run) {
  if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
}

// Whether a new entry can be made in `folder` right now.
bool CanMakeEntryIn(const std::string& folder) {
  const std::string probe = folder + "/.shuffler-probe";
  const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return false;
  close(fd);
  unlink(probe.c_str());
  return true;
}

bool SetImmutable(const std::string& folder, bool immutable) {
#if defined(__linux__) && defined(FS_IOC_SETFLAGS)
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (done) {
    flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  return done;
#else
  (void)folder;
  (void)immutable;
  return false;
#endif
}

}  // namespace

ProgramRun RunProgram(const std::string& program,
                      const std::vector<std::string>& arguments,
                      std::chrono::milliseconds timeout, Captured captured) {
  StartedProgram started(program, arguments, captured);
  return started.Wait(timeout);
}

StartedProgram::StartedProgram(const std::string& program,
                               const std::vector<std::string>& arguments,
                               Captured captured)
    : error_fd_(NewCaptureFile()) {
  try {
    pid_ = Spawn(program, arguments, error_fd_, captured);
  } catch (...) {
    close(error_fd_);
    throw;
  }
}

StartedProgram::~StartedProgram() {
  if (!reaped_) KillNow();
  close(error_fd_);
}

bool StartedProgram::KillNow() {
  if (reaped_) return false;
  kill(pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  Record(status, run_);
  return run_.signal == SIGKILL;
}

ProgramRun StartedProgram::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!reaped_) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      reaped_ = true;
      Record(status, run_);
    } else if (done < 0 && errno != EINTR) {
      throw std::runtime_error("waitpid failed");
    } else if (std::chrono::steady_clock::now() >= deadline) {
      run_.timed_out = true;
      KillNow();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  run_.error_output = ReadAll(error_fd_);
  return run_;
}

bool SetFolderUnchangeable(const std::string& folder, bool unchangeable) {
  if (!unchangeable) {
    SetImmutable(folder, false);
    return chmod(folder.c_str(), 0755) == 0;
  }
  if (chmod(folder.c_str(), 0555) != 0) return false;
  if (!CanMakeEntryIn(folder)) return true;  // the mode binds
  if (SetImmutable(folder, true) && !CanMakeEntryIn(folder)) return true;
  SetFolderUnchangeable(folder, false);
  return false;
}

long LongestNameIn(const std::string& folder) {
  return pathconf(folder.c_str(), _PC_NAME_MAX);
}

std::vector<bool> HiddenThroughOneReader(
    const std::vector<std::string>& folders, const std::string& name) {
  posix::WindowsAttributes attributes;
  std::vector<bool> hidden;
  for (const std::string& folder : folders) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      hidden.push_back(false);
      continue;
    }
    attributes.Prepare(fd, folder);
    hidden.push_back(attributes.HiddenOrSystem(name.c_str()));
    close(fd);
  }
  return hidden;
}

GameFolder::GameFolder(const std::filesystem::path& built,
                       const std::filesystem::path& base) {
  namespace fs = std::filesystem;
  std::random_device entropy;
  const fs::path folder = base.empty() ? fs::temp_directory_path() : base;
  for (int attempt = 0; root_.empty(); ++attempt) {
    if (attempt == 100) throw std::runtime_error("no free game folder name");
    const fs::path candidate =
        folder / ("shuffler-game-" + std::to_string(entropy()));
    if (fs::create_directory(candidate)) root_ = fs::canonical(candidate);
  }
  fs::create_directory(Music());
  const fs::path program = root_ / "Shuffler";
  std::error_code linked;
  fs::create_hard_link(built, program, linked);
  if (linked) {
    // Copied byte by byte: fusefat has no call to set a file's mode, which
    // fs::copy_file needs, and makes every file executable anyway.
    std::ofstream(program, std::ios::binary) << ReadContent(built);
    std::error_code ignored;
    fs::permissions(program, fs::perms::owner_all, fs::perm_options::add,
                    ignored);
    if (fs::file_size(program) != fs::file_size(built)) {
      throw std::runtime_error("cannot copy the program");
    }
  }
  program_ = program.native();
}

GameFolder::~GameFolder() {
  namespace fs = std::filesystem;
  std::error_code ignored;
  for (const fs::path& folder : {Music(), Temp()}) {
    if (fs::is_directory(folder, ignored)) {
      SetFolderUnchangeable(folder.native(), false);
    }
  }
  fs::remove_all(root_, ignored);
}

void GameFolder::Write(const std::string& relative,
                       const std::string& content) const {
  std::ofstream out(root_ / relative, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + relative);
}

std::string ReadContent(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace shuffler::posix_testing
