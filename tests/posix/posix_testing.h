// Helpers for the tests on the real POSIX program: starting the built
// `Shuffler` in a game folder of its own with its standard error captured,
// stopping it hard, and making a folder unchangeable. The operating-system
// calls this needs stay in posix_testing.cpp; this header includes no OS
// header. Helpers throw std::runtime_error when the system refuses.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace shuffler::posix_testing {

/// How a program run ended and what it wrote to standard error.
struct ProgramRun {
  int exit_code = -1;      ///< the exit status when it exited, else -1
  int signal = 0;          ///< the signal that ended it, else 0
  bool timed_out = false;  ///< it was still running at the deadline, and was
                           ///< killed then
  std::string error_output;
};

/// What a started program's `error_output` collects.
enum class Captured {
  kErrors,           ///< standard error; standard output is discarded
  kOutputAndErrors,  ///< standard output and error together
};

/// Runs `program` with `arguments` (not counting the program itself) and
/// waits for it to end, for at most `timeout`.
ProgramRun RunProgram(const std::string& program,
                      const std::vector<std::string>& arguments,
                      std::chrono::milliseconds timeout,
                      Captured captured = Captured::kErrors);

/// A program started without waiting, that the test ends itself.
class StartedProgram {
 public:
  StartedProgram(const std::string& program,
                 const std::vector<std::string>& arguments,
                 Captured captured = Captured::kErrors);
  StartedProgram(const StartedProgram&) = delete;
  StartedProgram& operator=(const StartedProgram&) = delete;
  /// Kills the program if it is still running and reaps it.
  ~StartedProgram();

  /// Sends SIGKILL (whether or not the program has ended by now) and waits
  /// for it; true when the signal ended it, false when it had exited first.
  bool KillNow();
  /// Waits for the program to end, for at most `timeout`.
  ProgramRun Wait(std::chrono::milliseconds timeout);

 private:
  int pid_ = -1;
  int error_fd_ = -1;
  bool reaped_ = false;
  ProgramRun run_;
};

/// A run stopped dead as it asked for one of its renames.
struct RenameKill {
  ProgramRun run;
  int renames = 0;      ///< the renames it asked for, the last one included
  bool killed = false;  ///< it was killed before its `nth` rename was done
};

/// True where `RunKilledAtRename` works here (Linux on x86-64 or AArch64,
/// with ptrace and seccomp filters allowed).
bool CanKillAtRename();

/// Runs `program` and watches every rename it asks the system for (rename,
/// renameat, renameat2). As it asks for the `nth` (1-based), before the
/// system does it, the program is killed with SIGKILL. With `nth` 0, or when
/// it asks for fewer, it runs to its end and `renames` counts them all. The
/// kill point follows the program's own work, never the clock.
RenameKill RunKilledAtRename(const std::string& program,
                             const std::vector<std::string>& arguments, int nth,
                             std::chrono::milliseconds timeout);

/// Marks `folder` unchangeable or changeable again: no entry can be made,
/// renamed or removed in it, whoever asks, for as long as the mark stays.
/// Uses the folder's mode where permissions bind, and the file system's
/// immutable attribute where they do not (the superuser); false when
/// neither is possible here.
bool SetFolderUnchangeable(const std::string& folder, bool unchangeable);

/// The longest file name the file system holding `folder` accepts, in bytes.
long LongestNameIn(const std::string& folder);

/// For each of `folders` in turn, whether its entry `name` is hidden or a
/// system entry, all asked through one `posix::WindowsAttributes`, as a
/// platform's listings ask; a folder that cannot be opened gives false.
std::vector<bool> HiddenThroughOneReader(
    const std::vector<std::string>& folders, const std::string& name);

/// A game folder of its own in `base` (the temporary folder by default),
/// holding a link to (or copy of) the program `built`, which finds its music
/// folder "mp3" next to itself. Removed with everything in it at the end.
class GameFolder {
 public:
  explicit GameFolder(const std::filesystem::path& built,
                      const std::filesystem::path& base = {});
  GameFolder(const GameFolder&) = delete;
  GameFolder& operator=(const GameFolder&) = delete;
  ~GameFolder();

  /// The folder, without symbolic links: as the program sees itself.
  const std::filesystem::path& Root() const { return root_; }
  std::filesystem::path Music() const { return root_ / "mp3"; }
  std::filesystem::path Temp() const { return root_ / "mp3" / "temp"; }
  const std::string& Program() const { return program_; }

  /// Writes a file at `relative` (byte path) with `content`.
  void Write(const std::string& relative, const std::string& content) const;
  /// Runs Shuffler here with `arguments`.
  ProgramRun Run(const std::vector<std::string>& arguments,
                 std::chrono::milliseconds timeout =
                     std::chrono::milliseconds(30000)) const {
    return RunProgram(program_, arguments, timeout);
  }

 private:
  std::filesystem::path root_;
  std::string program_;
};

/// The content of the file at `path`; empty when it cannot be read.
std::string ReadContent(const std::filesystem::path& path);

}  // namespace shuffler::posix_testing
