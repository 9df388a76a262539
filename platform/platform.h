// The one seam between Shuffler's core and the operating system.
//
// Every service the core uses is an operation of `Platform`. The rule for all
// of them: an operation that fails throws `Failure` (it never returns an error
// code), except `NextRandom`, `ProcessMessages`, `HasCommand` and
// `EndProcess`, which cannot fail. There is one implementation per operating
// system (platform/posix, platform/win32) and a scriptable fake in tests/,
// each built on `PlatformDefaults`. Every operation of `Platform` itself is
// pure, so a platform that wraps another must forward each one.
#pragma once

#include <cstdint>
#include <memory>

#include "base/failure.h"
#include "base/text.h"
#include "platform/random.h"

namespace shuffler {

/// Which entries a listing admits. Entries with the hidden or system
/// attribute never appear.
enum class ListMask : int {
  kNormalFiles = 0,   ///< files only
  kWithFolders = 16,  ///< files and folders, "." and ".." included
  /// As `kNormalFiles` and `kWithFolders`, and also the entries hidden only
  /// by a name that begins with "." where such names are hidden (Linux):
  /// for a folder where every entry Shuffler put there must be found again,
  /// whatever its name became.
  kNormalFilesAndDotNames = 256,
  kWithFoldersAndDotNames = 256 + 16,
};

/// True when `mask` admits folders.
constexpr bool AdmitsFolders(ListMask mask) {
  return (static_cast<int>(mask) & 16) != 0;
}
/// True when `mask` admits the names that begin with ".".
constexpr bool AdmitsDotNames(ListMask mask) {
  return (static_cast<int>(mask) & 256) != 0;
}

/// What a claim of a folder is for (see `Platform::ClaimFolder`).
enum class Claim : uint8_t {
  kOnly,        ///< one run at a time
  kWorkInside,  ///< that, and the run's work below it, following no link
};

/// What recognises an entry whatever its name: a rename or a move within
/// its file system changes none of it.
struct EntryFacts {
  bool folder = false;
  uint64_t size = 0;  ///< in bytes; 0 for a folder
  /// The last change of a file's content, in whole seconds since 1970-01-01
  /// 00:00 UTC, rounded down; 0 for a folder, whose time changes with what
  /// it holds.
  int64_t modified = 0;
  bool operator==(const EntryFacts&) const = default;
};

/// The largest file `Platform::ReadWholeFile` reads.
constexpr uint64_t kLargestWholeFile = uint64_t{64} << 20;

/// Moves files between folders; obtained from `Platform::CreateFileMover`
/// and released by destroying it.
class FileMover {
 public:
  virtual ~FileMover() = default;
  /// Moves the file `source` (never a folder). A `destination` that ends in
  /// the separator means "into this folder, keeping the name". Fails when
  /// the source is missing or is a folder, or when the target exists: an
  /// existing entry is never replaced.
  virtual void Move(const Text& source, const Text& destination) = 0;
  /// As `Move`, for a source that `Platform::FactsOf` found to be a file
  /// and that has only been renamed or moved by this run since: the mover
  /// need not look again whether it is a folder.
  virtual void MoveKnownFile(const Text& source, const Text& destination) {
    Move(source, destination);
  }
};

class Platform {
 public:
  virtual ~Platform() = default;

  /// The character that separates folders in a path.
  virtual char16_t Separator() const = 0;

  /// The argument text: everything after the program's own name on the
  /// command line, quotes kept; empty when there are no arguments.
  virtual Text ArgumentText() = 0;
  /// Full path of the folder holding the program, without a trailing
  /// separator. Fails with `kOwnFolderUnknown` when the program cannot tell
  /// for certain which file it runs from.
  virtual Text ProgramFolder() = 0;
  /// Claims `folder` for this run until the process ends, however it ends;
  /// the programs it starts do not hold the claim. The claim is on the
  /// folder itself: another path or a link to it names the same claim.
  /// False when another running process holds it. Never fails: a claim
  /// that cannot be made for any other reason (the folder is missing or
  /// cannot be opened) counts as made, so that the run goes ahead.
  ///
  /// With `Claim::kWorkInside`, every path below `folder` is from then on
  /// taken from the folder claimed, and no symbolic link, junction or other
  /// reparse point below it is followed: there, such an entry is one like a
  /// file, never a way into a folder. So a sub-folder that is a link to
  /// somewhere else is not listed, and nothing is moved into it or out of
  /// it, and removing it fails as for a file.
  virtual bool ClaimFolder(const Text& folder, Claim claim) = 0;

  /// Starts a listing of `pattern` (a folder, the separator and a name that
  /// may hold the wildcards "*" and "?"; "*.*" matches every name) and
  /// returns the first matching name without its folder, or empty text when
  /// nothing matches. A missing folder simply matches nothing.
  virtual Text ListFirst(const Text& pattern, ListMask mask) = 0;
  /// The next name of the listing the last `ListFirst` started; empty text
  /// when it is exhausted.
  virtual Text ListNext() = 0;
  /// The exact look-up of one entry: the name of the entry at `path` as its
  /// folder lists it, when `mask` admits it; empty text otherwise. No
  /// character of the name is a wildcard. Ends a listing in progress.
  virtual Text FindEntry(const Text& path, ListMask mask) = 0;
  /// The name by which the folder `folder` holds the sub-folder `name`, for
  /// a folder copied from a system where letter case does not tell names
  /// apart: `name` itself when there is one of that exact name, or where
  /// names ignore letter case anyway; else the one sub-folder whose name
  /// differs from `name` only in ASCII letter case, when there is exactly
  /// one. Otherwise `name`. Never fails.
  virtual Text FolderNameInAnyCase(const Text& folder, const Text& name) = 0;

  /// Creates a folder; fails when it exists or its parent is missing.
  virtual void MakeFolder(const Text& path) = 0;
  /// Removes a folder; fails when it is missing or not empty.
  virtual void RemoveFolder(const Text& path) = 0;
  /// Renames a file or folder. Fails when `old_path` is missing or when
  /// `new_path` names another entry, which is never replaced. Renaming an
  /// entry to its own exact name succeeds and changes nothing.
  virtual void RenameEntry(const Text& old_path, const Text& new_path) = 0;
  /// A new file mover.
  virtual std::unique_ptr<FileMover> CreateFileMover() = 0;

  /// The facts of the entry at `path` itself: a link is not followed. Fails
  /// when it is missing.
  virtual EntryFacts FactsOf(const Text& path) = 0;
  /// Every byte of the file `path`. Fails with `kFileNotFound` when it is
  /// missing, and with `kOutOfMemory`, reading nothing, when it holds more
  /// than `kLargestWholeFile` bytes.
  virtual std::string ReadWholeFile(const Text& path) = 0;
  /// Makes `path` a file holding exactly `bytes`, in place of the file that
  /// is there, if any: `bytes` go to a new file beside it (`path` and
  /// ".new"), are flushed to the medium and then take its place in one
  /// step, which is flushed too. Stopped at any moment, a run leaves at
  /// `path` either the old file or all of `bytes`. A failure (a folder that
  /// cannot change, a full disk, a folder at `path`) leaves `path` as it
  /// was, except one in that last flush, when the new file is in place.
  virtual void ReplaceWholeFile(const Text& path, std::string_view bytes) = 0;

  /// Creates the log file, or truncates it when it exists.
  virtual void OpenLog(const Text& path) = 0;
  /// Writes `line` and a carriage return and line feed to the log, in the
  /// system's single-byte code page ("?" for a character it lacks). Fails
  /// with `kBadFileNameOrNumber` when the log is not open.
  virtual void WriteLogLine(const Text& line) = 0;
  /// Closes the log; does nothing when it is not open.
  virtual void CloseLog() = 0;

  /// Starts `program` with its main window maximised, in the folder that
  /// holds it, and returns at once, without waiting for it. Exactly
  /// `program` is started, never a shorter prefix of it. `arguments` is
  /// the text that follows the program's name on its command line; where
  /// programs take a list of arguments, it is split as Windows splits a
  /// command line. Fails with `kStartsItself`, starting nothing, when
  /// `program` is the program's own file.
  virtual void StartMaximized(const Text& program, const Text& arguments) = 0;
  /// True when `program` names the file this program runs from, whatever
  /// name it goes by: another letter case where names ignore it, a
  /// symbolic or a hard link. Found as `StartMaximized` finds it. Never
  /// fails: false when the file cannot be looked at.
  virtual bool IsOwnProgram(const Text& program) = 0;
  /// True when this run is the program that a Shuffler started: the
  /// program it started is this program's own file, as `IsOwnProgram` tells
  /// it. Such a run starts nothing, so that copies of Shuffler under the
  /// games' names never start each other without end. Told by a mark in the
  /// environment of every program `StartMaximized` starts; the mark is
  /// taken out of this program's own environment when it starts, so that
  /// nothing it starts later inherits it. Never fails.
  virtual bool StartedByItself() = 0;
  /// What a program's name is given when it has no extension of its own
  /// (".exe" on Windows); empty where programs need none.
  virtual TextView ProgramExtension() const = 0;

  /// True when the program was started to wrap a command (on Linux, the
  /// words after a lone "--"): once the music is shuffled that command takes
  /// the process over, and no game is chosen or started. False where there
  /// is no such mode.
  virtual bool HasCommand() const = 0;
  /// Hands the process over to that command, with its arguments and the
  /// environment unchanged, after closing the log; it returns only by
  /// failing, when the command cannot be started. `EndProcess` then ends
  /// with a status that is not 0.
  virtual void RunCommand() = 0;

  /// Shows a modal box with the critical-stop icon and one OK button and
  /// returns when it is closed. An empty `caption` means the program's
  /// title, "Shuffler".
  virtual void ShowStopBox(const Text& prompt, const Text& caption) = 0;

  /// Seeds the random generator from the clock.
  virtual void Randomize() = 0;
  /// The next value of the random generator, uniform in [0, 1).
  virtual float NextRandom() = 0;

  /// Lets the platform process pending window messages.
  virtual void ProcessMessages() = 0;
  /// Ends the process at once with exit status 0, or, after a
  /// `RunCommand` that failed, with the status a shell gives a command it
  /// cannot start.
  [[noreturn]] virtual void EndProcess() = 0;
};

/// The bodies of the operations that most systems share, for an
/// implementation of `Platform` to keep or override.
class PlatformDefaults : public Platform {
 public:
  /// A listing of the name itself: where "*" and "?" are wildcards, no
  /// entry's name holds them.
  Text FindEntry(const Text& path, ListMask mask) override;
  /// `name`.
  Text FolderNameInAnyCase(const Text& folder, const Text& name) override {
    (void)folder;
    return name;
  }
  /// No command to wrap: false, and running it fails with
  /// `kInvalidArgument`.
  bool HasCommand() const override { return false; }
  void RunCommand() override { Raise(kInvalidArgument); }
  /// Shuffler's own generator, seeded from `ClockSeed`.
  void Randomize() override { generator_.Seed(ClockSeed()); }
  float NextRandom() override { return generator_.Next(); }

 protected:
  /// A seed that differs between two runs started at nearly the same time.
  virtual uint64_t ClockSeed() = 0;

 private:
  RandomGenerator generator_;
};

/// The platform of the operating system Shuffler was built for.
std::unique_ptr<Platform> CreateSystemPlatform(int argc, char** argv);

/// Shuffler's portable entry, which the program defines: creates the system
/// platform and the run state and runs the startup sequence, which ends the
/// process itself. POSIX enters it from main(); a platform with an entry
/// point of its own (Windows' wWinMain) calls it from there.
int RunShuffler(int argc, char** argv);

}  // namespace shuffler
