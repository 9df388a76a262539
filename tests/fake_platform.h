// A scriptable platform for tests: an in-memory folder tree with Windows-style
// paths, a recording message box, a seeded generator, and failure injection
// on any call.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/frm_one.h"
#include "platform/platform.h"

namespace shuffler::testing {

/// The platform operations that can fail, as the fake counts them.
enum class Op {
  kArgumentText,
  kProgramFolder,
  kListFirst,
  kListNext,
  kMakeFolder,
  kRemoveFolder,
  kRenameEntry,
  kCreateFileMover,
  kMoveFile,
  kOpenLog,
  kWriteLogLine,
  kCloseLog,
  kStartMaximized,
  kRunCommand,
  kShowStopBox,
  kClockSeed,
  kCount,  ///< not an operation: the number of kinds
};
const char* OpName(Op op);

/// A message box as the user saw it.
struct Box {
  Text prompt;
  Text caption;  ///< "Shuffler" when the caller gave none
};

/// Thrown by `EndProcess`: the run is over.
struct ProcessEnded {};

class FakePlatform : public Platform {
 public:
  static constexpr char16_t kSep = u'\\';
  static constexpr TextView kMusic = u"C:\\Game\\mp3";

  /// A tree holding the folders "C:" and "C:\Game", the program's folder.
  FakePlatform();

  // ---- The folder tree. Paths use "\" and no trailing separator.
  void AddFolder(const Text& path, bool hidden = false);
  void AddFile(const Text& path, std::string content = {}, bool hidden = false);
  /// Adds the music folder "C:\Game\mp3" when it is missing, and in it a
  /// file for each name, whose content is its original name.
  void AddMusic(const std::vector<Text>& names);
  bool Exists(const Text& path) const { return nodes_.count(path) != 0; }
  bool IsFolder(const Text& path) const;
  std::string Content(const Text& path) const;
  /// The visible and hidden names in `folder`, in listing order.
  std::vector<Text> Names(const Text& folder) const;
  /// The contents of every file below `folder`, sorted, for checking that
  /// nothing was lost or replaced.
  std::vector<std::string> ContentsBelow(const Text& folder) const;

  // ---- Scripting.
  Text argument_text;
  Text program_folder = u"C:\\Game";
  uint64_t clock_seed = 1;
  /// Names ignore ASCII letter case, as on Windows: a path finds an entry
  /// whatever the case of its parts, and a look-up by exact name returns the
  /// entry's own name.
  bool ignore_case = false;
  /// Names that begin with "." are hidden, as on Linux, except from the
  /// listings that admit them.
  bool dot_names_hidden = false;
  /// The paths of the program's own file: the file it runs from and its
  /// links. None of them is in the tree unless a test adds it.
  std::set<Text> own_program = {u"C:\\Game\\Shuffler.exe"};
  /// Folders that another running copy holds: `ClaimFolder` refuses them.
  std::set<Text> claimed_elsewhere;
  /// The run wraps a command, which `RunCommand` hands the process over to.
  bool has_command = false;
  /// Served by `NextRandom` before the seeded generator takes over.
  std::deque<float> randoms;
  /// Makes the `nth` call (1-based) of `op` fail with `number`.
  void FailCall(Op op, int nth, int32_t number);
  /// Makes every call of `op` from the `nth` on fail with `number`.
  void FailFrom(Op op, int nth, int32_t number);
  /// Makes the `k`th call of any operation that can fail (1-based, counted
  /// across all kinds) fail with `number`.
  void FailOverallCall(int k, int32_t number);
  /// Called at the start of every operation that can fail, before any
  /// injected failure: may change the tree.
  std::function<void(Op op, int nth)> before_call;

  // ---- What happened.
  std::vector<Box> boxes;
  std::vector<Text> log_lines;  ///< every line written since the last open
  std::vector<Text> started;    ///< programs started, as given
  std::vector<Text> started_arguments;  ///< the arguments of each start
  std::vector<Text> claims;             ///< folders `ClaimFolder` was asked for
  /// The wrapped command took the process over; the log was open then.
  bool command_ran = false;
  bool log_open_at_command = false;
  std::vector<Op> calls;  ///< every operation that could fail, in order
  int messages_processed = 0;
  bool ended = false;
  int CallsOf(Op op) const;
  int OverallCalls() const { return static_cast<int>(calls.size()); }
  /// Failures injected so far.
  int injected = 0;

  // ---- Platform.
  char16_t Separator() const override { return kSep; }
  Text ArgumentText() override;
  Text ProgramFolder() override;
  bool ClaimFolder(const Text& folder) override;
  Text ListFirst(const Text& pattern, ListMask mask) override;
  Text ListNext() override;
  /// Counted as a `kListFirst`, which it is unless the name holds "*" or "?".
  Text FindEntry(const Text& path, ListMask mask) override;
  void MakeFolder(const Text& path) override;
  void RemoveFolder(const Text& path) override;
  void RenameEntry(const Text& old_path, const Text& new_path) override;
  std::unique_ptr<FileMover> CreateFileMover() override;
  void OpenLog(const Text& path) override;
  void WriteLogLine(const Text& line) override;
  void CloseLog() override;
  void StartMaximized(const Text& program, const Text& arguments) override;
  bool IsOwnProgram(const Text& program) override;
  bool HasCommand() const override { return has_command; }
  /// Ends the run as an exec would, unless a failure is injected.
  void RunCommand() override;
  /// The fake's programs are named as on Windows.
  TextView ProgramExtension() const override { return u".exe"; }
  void ShowStopBox(const Text& prompt, const Text& caption) override;
  float NextRandom() override;
  void ProcessMessages() override { ++messages_processed; }
  [[noreturn]] void EndProcess() override;

  /// The fake's file move, as its movers perform it.
  void MoveFile(const Text& source, const Text& destination);

 protected:
  uint64_t ClockSeed() override;

 private:
  struct Node {
    bool folder = false;
    bool hidden = false;
    std::string content;
    uint64_t order = 0;  ///< creation order: listings follow it
  };
  struct Injection {
    Op op;
    int nth;
    bool onwards;  ///< every call from the nth on
    bool overall;  ///< `nth` counts calls of every kind
    int32_t number;
  };

  void Enter(Op op);
  /// Starts the listing of `pattern`, read as one exact name when `literal`.
  Text StartListing(const Text& pattern, ListMask mask, bool literal);
  Text NextListed();
  std::vector<Text> Children(const Text& folder) const;
  void RequireFolder(const Text& folder) const;
  /// `path` with each part spelt as the entry it finds, when names ignore
  /// letter case; the part that finds none stays as given.
  Text Resolve(const Text& path) const;
  void MoveTree(const Text& from, const Text& to, bool recreate);
  /// The file `StartMaximized` would start for `program`: itself, or the
  /// file of its folder whose name differs only in letter case; empty when
  /// there is none.
  Text ProgramFile(const Text& program) const;

  std::map<Text, Node> nodes_;
  uint64_t next_order_ = 1;
  std::deque<Text> listing_;
  bool listing_open_ = false;
  Text log_path_;
  bool log_open_ = false;
  std::vector<Injection> injections_;
  std::array<int, static_cast<size_t>(Op::kCount)> call_counts_{};
};

/// Runs the startup sequence on `form`; true when it ended the process, as
/// it always should.
bool RunToEnd(frmOne& form);

/// `text` as UTF-8, for readable test failures.
std::string Narrow(TextView text);

}  // namespace shuffler::testing
