// A platform whose folders live in memory: Windows-style paths, listings in
// the order entries were made, a recording message box, a scripted argument
// text, clock and generator.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace shuffler::testing {

/// A message box as the user saw it.
struct Box {
  Text prompt;
  Text caption;  ///< "Shuffler" when the caller gave none
};

/// Thrown by `EndProcess`: the run is over.
struct ProcessEnded {};

/// What the in-memory platform works on: the folder tree, what a run is given
/// and what it showed and started.
class MemoryWorld {
 public:
  static constexpr char16_t kSep = u'\\';
  static constexpr TextView kMusic = u"C:\\Game\\mp3";

  /// A tree holding the folders "C:" and "C:\Game", the program's folder.
  MemoryWorld();

  // ---- The folder tree. Paths use "\" and no trailing separator.
  void AddFolder(const Text& path, bool hidden = false);
  void AddFile(const Text& path, std::string content = {}, bool hidden = false);
  /// Adds the music folder "C:\Game\mp3" when it is missing, and in it a
  /// file for each name, whose content is its original name.
  void AddMusic(const std::vector<Text>& names);
  bool Exists(const Text& path) const { return nodes_.count(path) != 0; }
  bool IsFolder(const Text& path) const;
  std::string Content(const Text& path) const;
  /// Sets the time of the last change of the entry `path` (see
  /// `EntryFacts`); a new entry's is 1700000000 and its order.
  void SetModified(const Text& path, int64_t modified);
  /// The visible and hidden names in `folder`, in listing order.
  std::vector<Text> Names(const Text& folder) const;
  /// The contents of every file below `folder`, sorted, for checking that
  /// nothing was lost or replaced.
  std::vector<std::string> ContentsBelow(const Text& folder) const;

  // ---- What a run is given.
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
  /// This run is the program another Shuffler started.
  bool started_by_itself = false;
  /// Folders that another running copy holds: `ClaimFolder` refuses them.
  std::set<Text> claimed_elsewhere;
  /// The run wraps a command, which `RunCommand` hands the process over to.
  bool has_command = false;
  /// Served by `NextRandom` before the seeded generator takes over.
  std::deque<float> randoms;

  // ---- What happened.
  std::vector<Box> boxes;
  std::vector<Text> log_lines;  ///< every line written since the last open
  std::vector<Text> started;    ///< programs started, as given
  std::vector<Text> started_arguments;  ///< the arguments of each start
  std::vector<Text> claims;             ///< folders `ClaimFolder` was asked for
  std::vector<Claim> claim_kinds;       ///< and what for
  /// The wrapped command took the process over; the log was open then.
  bool command_ran = false;
  bool log_open_at_command = false;
  int messages_processed = 0;
  bool ended = false;

 private:
  friend class MemoryPlatform;
  struct Node {
    bool folder = false;
    bool hidden = false;
    std::string content;
    uint64_t order = 0;  ///< creation order: listings follow it
    int64_t modified = 0;
  };

  std::vector<Text> Children(const Text& folder) const;
  /// `path` with each part spelt as the entry it finds, when names ignore
  /// letter case; the part that finds none stays as given.
  Text Resolve(const Text& path) const;
  void MoveTree(const Text& from, const Text& to, bool recreate);
  /// The file `StartMaximized` would start for `program`: itself, or the
  /// file of its folder whose name differs only in letter case, one that is
  /// not the program's own when there is one; empty when there is none.
  Text ProgramFile(const Text& program) const;

  std::map<Text, Node> nodes_;
  uint64_t next_order_ = 1;
};

/// `text` as UTF-8, for readable test failures.
std::string Narrow(TextView text);

/// The platform over a `MemoryWorld`.
class MemoryPlatform : public PlatformDefaults {
 public:
  explicit MemoryPlatform(MemoryWorld& world) : world_(world) {}

  char16_t Separator() const override { return MemoryWorld::kSep; }
  Text ArgumentText() override { return world_.argument_text; }
  Text ProgramFolder() override { return world_.program_folder; }
  bool ClaimFolder(const Text& folder, Claim claim) override;
  Text ListFirst(const Text& pattern, ListMask mask) override;
  Text ListNext() override;
  Text FindEntry(const Text& path, ListMask mask) override;
  void MakeFolder(const Text& path) override;
  void RemoveFolder(const Text& path) override;
  void RenameEntry(const Text& old_path, const Text& new_path) override;
  std::unique_ptr<FileMover> CreateFileMover() override;
  EntryFacts FactsOf(const Text& path) override;
  std::string ReadWholeFile(const Text& path) override;
  /// In one step: a stopped run leaves the old content or the new.
  void ReplaceWholeFile(const Text& path, std::string_view bytes) override;
  void OpenLog(const Text& path) override;
  void WriteLogLine(const Text& line) override;
  void CloseLog() override { log_open_ = false; }
  void StartMaximized(const Text& program, const Text& arguments) override;
  bool IsOwnProgram(const Text& program) override;
  bool StartedByItself() override { return world_.started_by_itself; }
  bool HasCommand() const override { return world_.has_command; }
  /// Ends the run as an exec would.
  void RunCommand() override;
  /// The world's programs are named as on Windows.
  TextView ProgramExtension() const override { return u".exe"; }
  void ShowStopBox(const Text& prompt, const Text& caption) override;
  float NextRandom() override;
  void ProcessMessages() override { ++world_.messages_processed; }
  [[noreturn]] void EndProcess() override;

  /// The file move, as the platform's movers perform it.
  void Move(const Text& source, const Text& destination);

 protected:
  uint64_t ClockSeed() override { return world_.clock_seed; }

 private:
  /// Starts the listing of `pattern`, read as one exact name when `literal`.
  Text StartListing(const Text& pattern, ListMask mask, bool literal);
  Text NextListed();
  void RequireFolder(const Text& folder) const;

  MemoryWorld& world_;
  std::deque<Text> listing_;
  bool listing_open_ = false;
  Text log_path_;
  bool log_open_ = false;
};

}  // namespace shuffler::testing
