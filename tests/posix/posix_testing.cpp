#include "tests/posix/posix_testing.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/fs.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#endif

#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
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

// The argument vector of `words`, ending in a null pointer; `words` keeps
// the storage.
std::vector<char*> ArgumentVector(std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  return argv;
}

// Starts `program` with standard input from /dev/null, standard error into
// `error_fd`, and standard output there too or discarded.
int Spawn(const std::string& program, const std::vector<std::string>& arguments,
          int error_fd, Captured captured) {
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv = ArgumentVector(words);

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
#if defined(__linux__) && (defined(__x86_64__) || defined(__aarch64__))
namespace {

#ifdef __x86_64__
constexpr uint32_t kAuditArch = AUDIT_ARCH_X86_64;
#else
constexpr uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
#endif
#ifndef __NR_rename
constexpr int kNoSuchCall = -1;
#define SHUFFLER_NR_RENAME kNoSuchCall
#else
#define SHUFFLER_NR_RENAME __NR_rename
#endif

// The filter hands every rename to the tracer and lets anything else pass.
constexpr sock_filter kRenameFilter[] = {
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K,
             static_cast<uint32_t>(SHUFFLER_NR_RENAME), 3, 0),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_renameat, 2, 0),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_renameat2, 1, 0),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRACE),
};

// Kills `pid` unless `Done` comes first: bounds a traced run.
class Watchdog {
 public:
  Watchdog(pid_t pid, std::chrono::milliseconds timeout)
      : thread_([this, pid, timeout] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!done_cv_.wait_for(lock, timeout, [this] { return done_; })) {
            fired_ = true;
            kill(pid, SIGKILL);
          }
        }) {}
  ~Watchdog() { Done(); }
  void Done() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  bool Fired() const { return fired_; }

 private:
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  bool fired_ = false;
  std::thread thread_;
};

}  // namespace

bool CanKillAtRename() {
  static const bool can = [] {
    try {
      return RunKilledAtRename("/bin/true", {}, 0, std::chrono::seconds(10))
                 .run.exit_code == 0;
    } catch (const std::exception&) {
      return false;
    }
  }();
  return can;
}

RenameKill RunKilledAtRename(const std::string& program,
                             const std::vector<std::string>& arguments, int nth,
                             std::chrono::milliseconds timeout) {
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv = ArgumentVector(words);
  // A sanitizer's leak check at the end would trace the process itself,
  // which a traced process cannot allow.
  std::vector<std::string> variables;
  std::string sanitizer = "ASAN_OPTIONS=detect_leaks=0";
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (std::strncmp(*variable, "ASAN_OPTIONS=", 13) == 0) {
      sanitizer = std::string(*variable) + ":detect_leaks=0";
    } else {
      variables.emplace_back(*variable);
    }
  }
  variables.push_back(sanitizer);
  std::vector<char*> envp;
  for (std::string& variable : variables)
    envp.push_back(variable.data());
  envp.push_back(nullptr);
  sock_fprog filter{static_cast<unsigned short>(std::size(kRenameFilter)),
                    const_cast<sock_filter*>(kRenameFilter)};
  const int error_fd = NewCaptureFile();

  const pid_t pid = fork();
  if (pid < 0) {
    close(error_fd);
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    // Only system calls from here on: the parent may have other threads.
    const int null_fd = open("/dev/null", O_RDWR);
    if (null_fd < 0 || dup2(null_fd, 0) < 0 || dup2(null_fd, 1) < 0 ||
        dup2(error_fd, 2) < 0 || ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) ||
        prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter)) {
      _exit(126);
    }
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }

  RenameKill result;
  Watchdog watchdog(pid, timeout);
  int status = 0;
  bool started = false;
  for (;;) {
    if (waitpid(pid, &status, 0) < 0) {
      if (errno == EINTR) continue;
      close(error_fd);
      throw std::runtime_error("waitpid failed");
    }
    if (WIFEXITED(status) || WIFSIGNALED(status)) break;
    if (!WIFSTOPPED(status)) continue;
    int deliver = 0;
    if (!started) {
      // Stopped by its exec: from now on every rename stops it too, and it
      // dies with the tracer.
      started = true;
      ptrace(PTRACE_SETOPTIONS, pid, nullptr,
             PTRACE_O_TRACESECCOMP | PTRACE_O_EXITKILL);
    } else if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_SECCOMP << 8))) {
      if (++result.renames == nth) {
        result.killed = true;
        kill(pid, SIGKILL);
        continue;
      }
    } else if (WSTOPSIG(status) != SIGTRAP) {
      deliver = WSTOPSIG(status);
    }
    ptrace(PTRACE_CONT, pid, nullptr, deliver);
  }
  watchdog.Done();
  Record(status, result.run);
  result.run.timed_out = watchdog.Fired();
  if (result.run.exit_code == 126 || result.run.timed_out)
    result.killed = false;
  result.run.error_output = ReadAll(error_fd);
  close(error_fd);
  return result;
}
#else
bool CanKillAtRename() {
  return false;
}

RenameKill RunKilledAtRename(const std::string&,
                             const std::vector<std::string>&, int,
                             std::chrono::milliseconds) {
  throw std::runtime_error("no rename tracing here");
}
#endif

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
