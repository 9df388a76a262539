// Every platform call of a whole run made to fail, one at a time and in
// pairs, on a music folder with the awkward cases in it. After each run:
// no file lost or replaced, every failure reported by exactly the box (and
// log line) the design gives for the call that failed and the stage it
// failed in, the launch step run, and the process ended.
//
// The check reads the run's trace of platform calls: each failed call must
// be followed at once by its handler's calls (the shuffle's log line and
// box, or the startup box), and the shuffle's calls must follow its order
// (a failed rename still runs both moves, on the new path).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/text.h"
#include "music/names.h"
#include "tests/fake_platform.h"

namespace shuffler::testing {
namespace {

const Text kGame = u"C:\\Game";
const Text kMusic(MemoryWorld::kMusic);
const Text kMusicSlash = kMusic + u"\\";
const Text kMusicPattern = kMusicSlash + u"*.*";
const Text kTempFolder = kMusicSlash + u"temp";
const Text kIntoTemp = kTempFolder + u"\\";
const Text kTempPattern = kIntoTemp + u"*.*";
const Text kOwnMark = kIntoTemp + u"Shuffler is moving files";
const Text kLog = kGame + u"\\Shuffler.log";
const Text kNoText;
const Text kErrorCaption = u"Error";

// The description of a failure, as every report gives it.
Text Description(int32_t number) {
  return MakeFailure(number).Description;
}

Text StartupPrompt(int32_t number) {
  return u"An error occurred!\r\n\r\nError Number: " + DecimalText(number) +
         u"\r\nDescription: " + Description(number);
}

// ---- The trace: every call that can fail, with what it was about.

std::string Show(const Call& call) {
  std::string text = OpName(call.op);
  text.append("(").append(Narrow(call.subject));
  if (!call.object.empty()) text += ", " + Narrow(call.object);
  text += ")";
  if (call.failed) {
    text += call.injected ? " failed by injection " : " failed ";
    text += std::to_string(call.number);
  }
  return text;
}

// ---- The check: what the player is shown of each failure.
//
// The order of the routines' calls is their code's. What is checked here is
// what the player sees: each failed call is reported at once (a denial of
// the music folder once the log is open), by the startup box or by the
// shuffle's log line and box of the kind its stage gives; every box reports
// a failure; and every new name is built as the options say.

class TraceChecker {
 public:
  TraceChecker(const std::vector<Call>& trace, const frmOne& form)
      : t_(trace),
        debug_(form.DebugLog),
        denum_(form.DenumMode),
        unique_(form.UniqueMode),
        restore_(form.RestoreMode),
        digits_(DecimalDigits(form.FileCount)) {}

  /// What is wrong with the trace; empty when it is as designed.
  std::vector<std::string> Check() {
    for (i_ = 0; i_ < t_.size() && problems_.empty(); ++i_)
      Look(t_[i_]);
    for (const Due& due : due_) {
      if (!due.later || region_ == Region::kShuffle) {
        Problem("never reported: " + Show(*due.cause));
      } else {
        ++handled_;  // the shuffle was left before it could say so
        Count(due.cause, "not said, the shuffle was left first");
      }
    }
    return problems_;
  }

  /// A failure in the shuffle's handler left the shuffle.
  bool LeftShuffle() const { return left_shuffle_; }
  /// The music folder refused its first change: no entry was touched.
  bool Denied() const { return denied_; }
  int BoxesShown() const { return boxes_; }
  /// Failures reported, or passed over when nothing is left to report them.
  int FailuresHandled() const { return handled_; }
  int EntriesShuffled() const { return entries_ - retried_ - set_aside_; }
  /// "/UNIQUE" moved every entry out before the first came back.
  bool AllOut() const { return all_out_; }
  /// The names file could not be kept: nothing may be renamed.
  bool NamesFailed() const { return names_failed_; }
  /// How each injected failure was reported, by kind of report.
  const std::map<std::string, int>& InjectedReports() const {
    return injected_reports_;
  }

 private:
  // kRescue: "/UNIQUE" brings back what it moved out, the shuffle left.
  enum class Region { kStartup, kRecovery, kShuffle, kRescue };
  enum class Kind { kStartup, kRenaming, kMoving, kGeneral, kNames };
  // A report that a failure is due: of `kind`, about `path` (any path when
  // null) or with the failure's number.
  struct Due {
    const Call* cause;
    Kind kind;
    std::optional<Text> path;
    bool later = false;         // a denial, said once the log is open
    bool held = false;          // one entry's, dropped when another changes
    bool after_rescue = false;  // due once "/UNIQUE" has brought all back
  };

  void Problem(const std::string& what) {
    std::string context;
    for (size_t i = i_ >= 3 ? i_ - 3 : 0; i < t_.size() && i <= i_ + 1; ++i) {
      context += "\n    " + std::to_string(i + 1) + ": " + Show(t_[i]);
    }
    problems_.push_back("at call " + std::to_string(i_ + 1) + ": " + what +
                        context);
  }

  void Count(const Call* call, const char* report) {
    if (call != nullptr && call->injected) ++injected_reports_[report];
  }

  static bool IsHandlerLine(const Call& call) {
    return call.op == Op::kWriteLogLine && call.subject.starts_with(u"*** ");
  }

  // The prompt and log line of a report.
  Text Prompt(Kind kind, const Text& path, int32_t number) const {
    switch (kind) {
      case Kind::kStartup:
        return StartupPrompt(number);
      case Kind::kRenaming:
        return u"An error occurred renaming file: \r\n" + path;
      case Kind::kMoving:
        return u"An error occurred moving file: \r\n" + path;
      case Kind::kGeneral:
      case Kind::kNames:
        break;
    }
    return u"An error occurred!\r\n\r\nNumber: " + DecimalText(number) +
           u"\r\nDescription: " + Description(number);
  }
  static Text LogLine(const Text& prompt) {
    const size_t cut = prompt.find(u"\r\n");
    Text line = u"*** " + prompt.substr(0, cut);
    if (prompt.starts_with(u"An error occurred!")) {
      const size_t number = prompt.find(u"Number: ") + 8;
      const size_t end = prompt.find(u"\r\n", number);
      return line + u" " + prompt.substr(number, end - number) + u", " +
             prompt.substr(prompt.find(u"Description: ") + 13);
    }
    return line + prompt.substr(cut + 2);
  }

  // Whether `box` is the report `due` asks for.
  bool Matches(const Call& box, const Due& due) const {
    const bool startup = box.object.empty();
    if (startup != (due.kind == Kind::kStartup)) return false;
    if (due.kind == Kind::kNames) {
      return box.subject.starts_with(u"The names file cannot") &&
             box.subject.find(u"Number: " + DecimalText(due.cause->number) +
                              u"\r\n") != Text::npos;
    }
    if (due.path) return box.subject == Prompt(due.kind, *due.path, 0);
    if (due.kind == Kind::kRenaming) {
      return box.subject.starts_with(Prompt(due.kind, kNoText, 0));
    }
    return box.subject == Prompt(due.kind, kNoText, due.cause->number);
  }

  void Look(const Call& call) {
    if (call.op == Op::kShowStopBox) return LookAtBox(call);
    if (IsHandlerLine(call)) {
      // The shuffle's log line comes right before its box, and says the same.
      const bool box_next = i_ + 1 < t_.size() &&
                            t_[i_ + 1].op == Op::kShowStopBox &&
                            LogLine(t_[i_ + 1].subject) == call.subject;
      if (region_ != Region::kShuffle || (!call.failed && !box_next)) {
        Problem("a log line that is no report of the shuffle's");
      } else if (call.failed) {
        // The report it began is replaced by the startup box.
        auto now = due_.begin();
        while (now != due_.end() && now->later)
          ++now;
        if (now == due_.end()) now = due_.begin();
        const Due* due = now == due_.end() ? nullptr : &*now;
        ++handled_;
        Count(due != nullptr ? due->cause : nullptr,
              "its shuffle box replaced by the startup box");
        if (due != nullptr) due_.erase(now);
        LeaveRoutine(call);
      }
      return;
    }
    if (region_ == Region::kRescue && !Rescued(call)) EndRescue();
    for (const Due& due : due_) {
      if (!due.later) Problem("not reported at once: " + Show(*due.cause));
    }
    if (region_ != Region::kRescue) Follow(call);
    if (call.failed) Expect(call);
  }

  // Follows the routine and the stage the call belongs to.
  void Follow(const Call& call) {
    const bool listing = call.op == Op::kListFirst;
    if (region_ == Region::kStartup && !recovered_ && listing &&
        call.subject.ends_with(u"\\mp3\\temp")) {
      region_ = Region::kRecovery;
      recovered_ = true;
    } else if (region_ == Region::kRecovery && listing &&
               call.subject.ends_with(u"\\mp3\\*.*")) {
      region_ = Region::kStartup;
    }
    if (listing && call.subject.ends_with(u"\\mp3\\*.*")) ++music_listings_;
    if (region_ == Region::kStartup && music_listings_ == 2 && !shuffled_ &&
        listing && call.subject == kTempFolder) {
      region_ = Region::kShuffle;
      shuffled_ = true;
      kind_ = Kind::kRenaming;
    } else if (region_ == Region::kShuffle &&
               ((listing && !call.subject.starts_with(kMusicSlash)) ||
                call.op == Op::kStartMaximized || call.op == Op::kRunCommand)) {
      region_ = Region::kStartup;
    }
    if (call.op == Op::kCreateFileMover) mover_missing_ = call.failed;
    if (region_ != Region::kShuffle) return;
    const bool into_temp = call.subject.starts_with(kIntoTemp);
    if (!call.failed &&
        ((call.op == Op::kMakeFolder && call.subject == kOwnMark) ||
         (listing && call.subject == kOwnMark && !call.object.empty()))) {
      marked_ = true;
    }
    const bool renamed_line = call.op == Op::kWriteLogLine;
    const bool taken_look = listing && into_temp && call.subject != kOwnMark &&
                            call.subject != kTempPattern;
    // Each entry's first call: its rename line, else its look into "temp"
    // where "/UNIQUE /DENUM" makes one, else its rename.
    all_out_ = unique_ && marked_;
    if (debug_               ? renamed_line
        : all_out_ && denum_ ? taken_look
                             : call.op == Op::kRenameEntry) {
      ++entries_;
      kind_ = Kind::kRenaming;
      path_.reset();
    }
    if (renamed_line) {
      const size_t middle = call.subject.find(u"\" to \"");
      if (!call.subject.starts_with(u"Renamed \"") || middle == Text::npos) {
        return Problem("not a rename line");
      }
      path_ = call.subject.substr(9, middle - 9);
    } else if (taken_look) {
      name_taken_ = !call.failed && !call.object.empty();
    } else if (call.op == Op::kRenameEntry) {
      path_ = call.subject;
      CheckNewName(call.subject, call.object);
      if (!call.failed && call.subject != call.object) EntryChanged();
    } else if (call.op == Op::kMoveFile) {
      kind_ = Kind::kMoving;
      if (call.object == kIntoTemp) {
        if (!call.failed) EntryChanged();
        if (all_out_ && !call.failed) {
          moved_out_.emplace_back(call.subject, path_.value_or(kNoText));
        }
      } else if (all_out_) {
        if (next_back_ >= moved_out_.size() ||
            call.subject != kIntoTemp + moved_out_[next_back_].first.substr(
                                            kMusicSlash.size())) {
          return Problem("not the next entry moved out");
        }
        path_ = moved_out_[next_back_++].second;
      }
    } else if (call.op == Op::kCloseLog || call.op == Op::kRemoveFolder ||
               (listing && call.subject == kTempPattern && entries_ > 0)) {
      kind_ = Kind::kGeneral;
    }
  }

  // The report the failed `call` is due.
  void Expect(const Call& call) {
    if (region_ == Region::kStartup && IsLookBeforeStart(i_)) {
      // The launch only looks for the program to start: a look that fails
      // finds nothing, and the start reports what is wrong.
      ++handled_;
      return Count(&call,
                   "a failed look for the program to start is passed over");
    }
    read_failed_ = read_failed_ || call.op == Op::kArgumentText;
    count_cut_ =
        count_cut_ || (region_ == Region::kStartup && music_listings_ == 1 &&
                       (call.op == Op::kListFirst || call.op == Op::kListNext));
    if (call.op == Op::kReadWholeFile && call.number == kFileNotFound) {
      ++handled_;  // no names are kept yet
      return Count(&call, "no names file yet");
    }
    if (call.op == Op::kReadWholeFile || call.op == Op::kFactsOf ||
        call.op == Op::kReplaceWholeFile) {
      names_failed_ = true;
      due_.push_back({&call, Kind::kNames, std::nullopt});
    } else if (region_ == Region::kStartup) {
      due_.push_back({&call, Kind::kStartup, std::nullopt});
    } else if (region_ == Region::kRecovery) {
      if (call.op == Op::kMoveFile) {
        due_.push_back({&call, Kind::kMoving, call.subject});
      } else {
        due_.push_back({&call, Kind::kGeneral, std::nullopt});
      }
    } else if (region_ == Region::kRescue) {
      due_.push_back({&call, Kind::kMoving, path_.value_or(kNoText)});
    } else if (call.op == Op::kRemoveFolder && refusal_said_ && !changed_ &&
               IsRefusal(call.number)) {
      ++handled_;  // the refusal said already
      Count(&call, "general box, entries left as they are");
    } else if ((call.number == kDiskFull ||
                (call.number == kPermissionDenied && !changed_)) &&
               (call.op == Op::kMakeFolder || call.op == Op::kRenameEntry ||
                (call.op == Op::kMoveFile && call.object == kIntoTemp))) {
      // Said once. One entry's "Permission denied" before any entry changed
      // waits: the entry is tried again once another changes.
      const bool held =
          call.op != Op::kMakeFolder && call.number == kPermissionDenied;
      denied_ = denied_ || !held;
      set_aside_ += held ? 1 : 0;
      due_.push_back({&call, Kind::kGeneral, std::nullopt, true, held});
      kind_ = Kind::kGeneral;
    } else if (call.op == Op::kMoveFile || kind_ == Kind::kRenaming) {
      due_.push_back({&call, kind_, path_.value_or(kNoText)});
      if (call.op != Op::kMoveFile && !path_ && entries_ > 0) {
        due_.back().path.reset();  // the entry's path is not seen yet
      }
    } else {
      due_.push_back({&call, Kind::kGeneral, std::nullopt});
    }
  }

  void LookAtBox(const Call& box) {
    if (region_ == Region::kRescue && box.object.empty()) EndRescue();
    if (region_ == Region::kShuffle && debug_ && !box.object.empty() &&
        (i_ == 0 || !IsHandlerLine(t_[i_ - 1]))) {
      return Problem("a shuffle box without its log line");
    }
    const char* label = nullptr;
    const Call* cause = nullptr;
    auto due = due_.begin();
    while (due != due_.end() && !Matches(box, *due))
      ++due;
    if (due != due_.end()) {
      cause = due->cause;
      label = due->later ? "general box, entries left as they are"
              : due->kind == Kind::kStartup  ? "startup box"
              : due->kind == Kind::kRenaming ? "renaming box"
              : due->kind == Kind::kMoving   ? "moving box"
              : due->kind == Kind::kNames    ? "names box"
                                             : "general box";
      if (due->later) {
        kind_ = Kind::kGeneral;
        refusal_said_ = true;
        denied_ = denied_ || due->held;
      }
      due_.erase(due);
      if (label == std::string("general box, entries left as they are")) {
        DropHeld("general box, entries left as they are", false);
      }
    } else if (!OwnFailure(box)) {
      return Problem("a box that no failure explains: " + Show(box));
    }
    ++handled_;
    if (!box.failed) {
      ++boxes_;
      return Count(cause, label);
    }
    if (region_ == Region::kRescue) {
      return Count(&box, "a box of the bringing back is passed over");
    }
    if (box.object.empty()) {
      // Nothing is left to report it with: the run goes on.
      ++handled_;
      Count(cause, "its startup box failed in turn");
      return Count(&box, "a startup box that cannot be shown is passed over");
    }
    Count(cause, "its shuffle box replaced by the startup box");
    LeaveRoutine(box);
  }

  // A box for a failure of the routine's own, which no call shows.
  bool OwnFailure(const Call& box) {
    const bool startup = box.object.empty();
    if (startup && read_failed_ &&
        box.subject == StartupPrompt(kInvalidArgument)) {
      read_failed_ = false;
      return true;
    }
    // A failing "/RESTORE" test restores, and no names were kept.
    if (!startup && restore_ && box.subject.starts_with(u"No names are kept")) {
      return true;
    }
    if (startup && count_cut_ &&
        box.subject == StartupPrompt(kSubscriptOutOfRange)) {
      count_cut_ = false;
      return true;
    }
    if (!startup && mover_missing_ &&
        box.subject.starts_with(Prompt(Kind::kMoving, kNoText, 0))) {
      return true;
    }
    if (!startup && name_taken_ &&
        box.subject.starts_with(Prompt(Kind::kRenaming, kNoText, 0))) {
      name_taken_ = false;
      return true;
    }
    return false;
  }

  // The shuffle's or the recovery's handler failed on `call`: the startup
  // box reports that failure, after the routine.
  void LeaveRoutine(const Call& call) {
    const bool shuffle = region_ == Region::kShuffle;
    left_shuffle_ = left_shuffle_ || shuffle;
    region_ = Region::kStartup;
    due_.push_back({&call, Kind::kStartup, std::nullopt});
    // "/UNIQUE" brings back first what it moved out; the startup box waits.
    if (shuffle && all_out_ && next_back_ < moved_out_.size()) {
      region_ = Region::kRescue;
      due_.back().later = due_.back().after_rescue = true;
    }
  }

  // Whether `call` is the next move back of the bringing back.
  bool Rescued(const Call& call) {
    if (call.op != Op::kMoveFile || next_back_ >= moved_out_.size() ||
        call.object != kMusicSlash ||
        call.subject != kIntoTemp + moved_out_[next_back_].first.substr(
                                        kMusicSlash.size())) {
      return call.op == Op::kShowStopBox;
    }
    path_ = moved_out_[next_back_++].second;
    return true;
  }
  void EndRescue() {
    region_ = Region::kStartup;
    for (Due& due : due_)
      due.later = due.later && !due.after_rescue;
  }

  static bool IsRefusal(int32_t number) {
    return number == kPermissionDenied || number == kDiskFull;
  }

  // The first entry that changes: the entries set aside are tried again.
  void EntryChanged() {
    if (!changed_) DropHeld("held until another entry changed", true);
    changed_ = true;
  }
  void DropHeld(const char* label, bool tried_again) {
    for (auto due = due_.begin(); due != due_.end();) {
      if (!due->held) {
        ++due;
        continue;
      }
      ++handled_;
      Count(due->cause, label);
      due = due_.erase(due);
    }
    if (!tried_again) return;
    retried_ += set_aside_;
    set_aside_ = 0;
  }

  // True when call `i` is a listing that only other listings separate from
  // the start of a program.
  bool IsLookBeforeStart(size_t i) const {
    if (t_[i].op != Op::kListFirst) return false;
    while (++i < t_.size() && t_[i].op == Op::kListFirst) {
    }
    return i < t_.size() && t_[i].op == Op::kStartMaximized;
  }

  void CheckNewName(const Text& old_path, const Text& new_path) {
    if (!old_path.starts_with(kMusicSlash) ||
        !new_path.starts_with(kMusicSlash)) {
      return Problem("paths outside the music folder");
    }
    const Text bare = BareName(TextView(old_path).substr(kMusicSlash.size()));
    const Text name = new_path.substr(kMusicSlash.size());
    const size_t dash = static_cast<size_t>(digits_);
    bool numbered = name.size() == bare.size() + dash + 1 &&
                    name[dash] == u'-' && name.ends_with(bare);
    for (size_t i = 0; numbered && i < dash; ++i) {
      numbered = name[i] >= u'0' && name[i] <= u'9';
    }
    // With "/UNIQUE" the k-th entry gets k.
    if (numbered && unique_ &&
        name.substr(0, dash) !=
            ZeroPadded(entries_ - set_aside_ - retried_, digits_)) {
      numbered = false;
    }
    if (denum_ ? name != bare : !numbered) {
      Problem("new name " + Narrow(name) + " for " + Narrow(old_path));
    }
  }

  const std::vector<Call>& t_;
  const bool debug_, denum_, unique_, restore_;
  const int digits_;
  size_t i_ = 0;
  std::vector<std::string> problems_;
  std::vector<Due> due_;
  Region region_ = Region::kStartup;
  bool recovered_ = false, shuffled_ = false;
  int music_listings_ = 0;
  // The shuffle's stage: the kind of report a failure gets, about `path_`.
  Kind kind_ = Kind::kRenaming;
  std::optional<Text> path_;
  bool marked_ = false, all_out_ = false;
  bool changed_ = false, mover_missing_ = false, name_taken_ = false;
  bool read_failed_ = false, count_cut_ = false, names_failed_ = false;
  // "/UNIQUE": the entries moved out, as their path and old path.
  std::vector<std::pair<Text, Text>> moved_out_;
  size_t next_back_ = 0;
  bool left_shuffle_ = false, denied_ = false, refusal_said_ = false;
  int boxes_ = 0, handled_ = 0, entries_ = 0;
  int set_aside_ = 0, retried_ = 0;  // entries refused, and tried again
  std::map<std::string, int> injected_reports_;
};

// ---- The runs.

struct Variant {
  Text args = {};
  bool debug = false, denum = false, unique = false, keep = false;
  bool no_launch = false, launch_option = false;
  bool stranded = false;     // a stopped run left files in its marked "temp"
  bool player_temp = false;  // the player's own "temp", holding a file and
                             // a folder with a file
};

// One variant a line.
// clang-format off
const Variant kVariants[] = {
    {.args = u""},
    {.args = u"/DEBUG", .debug = true},
    {.args = u"/DENUM", .denum = true},
    {.args = u"/denum /debug", .debug = true, .denum = true},
    {.args = u"/LAUNCH \"gta3.exe\" /DEBUG", .debug = true, .launch_option = true},
    {.args = u"/NOLAUNCH /Debug /DENUM", .debug = true, .denum = true, .no_launch = true},
    {.args = u"", .stranded = true},
    {.args = u"/UNIQUE", .unique = true},
    {.args = u"/unique /denum /debug", .debug = true, .denum = true, .unique = true},
    {.args = u"/UNIQUE", .unique = true, .player_temp = true},
    {.args = u"/DENUM /UNIQUE /DEBUG", .debug = true, .denum = true, .unique = true, .player_temp = true},
    {.args = u"/UNIQUE /KEEPNAMES /DEBUG", .debug = true, .unique = true, .keep = true},
};
// clang-format on

// The music folder: a collision pair for "/DENUM", names with and without
// number prefixes, a sub-folder with a file inside, and the report file,
// which is never touched. Every file's content is unique. With `stranded`,
// a marked "temp" holds a file to bring back and one whose name is taken.
void Populate(FakePlatform& fake, bool stranded, bool player_temp) {
  if (player_temp) {
    fake.AddFolder(kMusic);
    fake.AddFolder(kTempFolder);
    fake.AddFile(kIntoTemp + u"Mine.mp3", "mine");
    fake.AddFolder(kIntoTemp + u"Old");
    fake.AddFile(kIntoTemp + u"Old\\Mine.mp3", "old mine");
  }
  if (stranded) {
    fake.AddFolder(kMusic);
    fake.AddFolder(kTempFolder);
    fake.AddFolder(kOwnMark);
    fake.AddFile(kIntoTemp + u"05-Left.mp3", "left");
    fake.AddFile(kIntoTemp + u"a.mp3", "taken");
  }
  fake.AddFile(kGame + u"\\gta3.exe", "game");
  fake.AddMusic({u"01-Song.mp3", u"02-Song.mp3", u"a.mp3", u"Track.MP3",
                 u"2001-Odyssey.mp3", u"-Intro.mp3", u"Song - Live.mp3",
                 u"03 - Spaced.mp3", u"notes.txt", u"b.ogg", u"MP3Report.txt"});
  fake.AddFolder(kMusicSlash + u"Sub");
  fake.AddFile(kMusicSlash + u"Sub\\inside.mp3", "inside");
}

// With SHUFFLER_SWEEP_RECORD naming a file, every run's outcome is appended
// to it: the boxes in order, the log, the starts and the final folder tree.
// Two builds' records compare their behaviour run by run.
void Record(const std::string& label, const FakePlatform& fake) {
  static std::FILE* const file = [] {
    const char* path = std::getenv("SHUFFLER_SWEEP_RECORD");
    return path != nullptr ? std::fopen(path, "w") : nullptr;
  }();
  if (file == nullptr) return;
  auto line = [](const char* kind, const Text& text) {
    std::string out = Narrow(text);
    for (size_t at = 0; (at = out.find("\r\n", at)) != std::string::npos;)
      out.replace(at, 2, "|");
    std::fprintf(file, "  %s %s\n", kind, out.c_str());
  };
  std::fprintf(file, "%s\n", label.c_str());
  for (const Box& box : fake.boxes)
    line("box", box.caption + u": " + box.prompt);
  for (const Text& text : fake.log_lines)
    line("log", text);
  for (size_t i = 0; i < fake.started.size(); ++i)
    line("start", fake.started[i] + u" " + fake.started_arguments[i]);
  std::vector<Text> folders = {kGame};
  while (!folders.empty()) {
    const Text folder = folders.back();
    folders.pop_back();
    for (const Text& name : fake.Names(folder)) {
      const Text path = folder + u"\\" + name;
      if (fake.IsFolder(path)) folders.push_back(path);
      const std::string content =
          fake.IsFolder(path) ? "/" : fake.Content(path);
      line("entry", path + u" = " + Text(content.begin(), content.end()));
    }
  }
}

struct SweepResult {
  int calls = 0;                       // calls the run made
  int injected = 0;                    // failures injected
  std::map<std::string, int> reports;  // how the injected ones were reported
};

// Runs `variant` with the given overall calls failing, checks everything
// and returns what the run did.
SweepResult RunAndCheck(const Variant& variant, const std::vector<int>& fail,
                        int32_t number) {
  FakePlatform fake;
  Populate(fake, variant.stranded, variant.player_temp);
  fake.argument_text = variant.args;
  fake.clock_seed = 20240601;
  for (int k : fail)
    fake.FailOverallCall(k, number);
  const std::vector<std::string> before = fake.ContentsBelow(kMusic);
  const std::vector<std::string> in_temp_before =
      fake.ContentsBelow(kTempFolder);

  std::string label = Narrow(variant.args) +
                      (variant.stranded ? " (stranded)" : "") +
                      " failing calls";
  for (int k : fail)
    label.append(" ").append(std::to_string(k));
  SCOPED_TRACE(label);

  frmOne form(fake);
  const bool ended = RunToEnd(form);
  Record(label, fake);
  const std::vector<Call>& trace = fake.trace;

  // Nothing lost, nothing replaced, the report file where it was, the
  // player's own files in their "temp".
  EXPECT_EQ(fake.ContentsBelow(kMusic), before);
  if (variant.player_temp) {
    EXPECT_EQ(fake.Content(kIntoTemp + u"Mine.mp3"), "mine");
    EXPECT_EQ(fake.Content(kIntoTemp + u"Old\\Mine.mp3"), "old mine");
  }
  EXPECT_EQ(fake.Content(kMusicSlash + u"MP3Report.txt"), "MP3Report.txt");

  // Every failure reported as designed, and every box explained.
  TraceChecker checker(trace, form);
  const std::vector<std::string> problems = checker.Check();
  for (const std::string& problem : problems)
    ADD_FAILURE() << problem;
  int failed_calls = 0, injected_calls = 0;
  for (const Call& call : trace) {
    failed_calls += call.failed ? 1 : 0;
    injected_calls += call.injected ? 1 : 0;
  }
  EXPECT_EQ(injected_calls, fake.injected);
  EXPECT_EQ(checker.BoxesShown(), static_cast<int>(fake.boxes.size()));
  if (problems.empty()) {
    // Each failed call was reported once; only internal failures (a missing
    // mover, too few slots) add reports of their own.
    EXPECT_GE(checker.FailuresHandled(), failed_calls);
  }

  // What this run moved out is back in the music folder when it ends, but
  // for a move back that failed, and, without "/UNIQUE" in a marked "temp",
  // the one entry between its two moves when a failed report left the
  // shuffle.
  int in_temp = 0, failed_back = 0;
  for (const Text& name : fake.Names(kTempFolder)) {
    in_temp += !fake.IsFolder(kIntoTemp + name) &&
               !std::count(in_temp_before.begin(), in_temp_before.end(),
                           fake.Content(kIntoTemp + name));
  }
  for (const Call& call : trace) {
    failed_back +=
        call.op == Op::kMoveFile && call.failed && call.object == kMusicSlash;
  }
  EXPECT_LE(in_temp, failed_back + (checker.LeftShuffle() && !checker.AllOut()))
      << "songs left in temp";

  // The process always ends, even when a startup box could not be shown.
  EXPECT_TRUE(ended);
  const SweepResult result = {static_cast<int>(trace.size()), fake.injected,
                              checker.InjectedReports()};
  // A run that cannot find its folder shows the box and does nothing else.
  if (!trace.empty() && trace[0].op == Op::kProgramFolder && trace[0].failed) {
    for (const Call& call : trace)
      EXPECT_TRUE(call.op == Op::kProgramFolder || call.op == Op::kShowStopBox)
          << OpName(call.op);
    return result;
  }

  // A failing option test sets its flag; the last six reads of the
  // argument text are the "/NOLAUNCH", "/DEBUG", "/DENUM", "/UNIQUE",
  // "/KEEPNAMES" and "/RESTORE" tests.
  std::vector<const Call*> reads;
  for (const Call& call : trace) {
    if (call.op == Op::kArgumentText) reads.push_back(&call);
  }
  EXPECT_GE(reads.size(), 7u);
  if (reads.size() < 7) return {};
  const auto read = [&](size_t from_end) { return reads.end()[-from_end]; };
  const Call& no_launch_test = *read(6);
  EXPECT_EQ(form.DebugLog, variant.debug || read(5)->failed);
  EXPECT_EQ(form.DenumMode, variant.denum || read(4)->failed);
  EXPECT_EQ(form.UniqueMode, variant.unique || read(3)->failed);
  EXPECT_EQ(form.KeepNames, variant.keep || read(2)->failed);
  EXPECT_EQ(form.RestoreMode, read(1)->failed);
  // No entry is renamed unless its own name is kept.
  if (checker.NamesFailed() || form.RestoreMode) {
    EXPECT_EQ(fake.CallsOf(Op::kRenameEntry), 0);
  }

  // The launch step runs at the end. It starts a program unless told not
  // to.
  const bool expect_start = !variant.no_launch && !no_launch_test.failed;
  EXPECT_EQ(fake.CallsOf(Op::kStartMaximized), expect_start ? 1 : 0);
  // A failure away from the launch target's choice and the start itself
  // leaves the target as it was.
  const Call* failing =
      fail.size() == 1 ? &trace[static_cast<size_t>(fail[0]) - 1] : nullptr;
  if (expect_start && failing != nullptr && failing->op != Op::kArgumentText &&
      failing->op != Op::kStartMaximized &&
      !failing->subject.ends_with(u".exe")) {
    EXPECT_EQ(fake.started,
              std::vector<Text>{variant.launch_option ? u"C:\\Game\\gta3.exe"
                                                      : u"C:\\Game\\GTA3.EXE"});
  }
  if (!checker.LeftShuffle() && !checker.Denied() && form.FileCount > 0 &&
      !checker.NamesFailed() && !form.RestoreMode && problems.empty()) {
    EXPECT_EQ(checker.EntriesShuffled(), form.FileCount);
  }
  return result;
}

// The failure numbers injected, in turn.
int32_t NumberFor(int k) {
  static const int32_t numbers[] = {kPathFileAccessError,
                                    kPermissionDenied,
                                    kFileNotFound,
                                    kFileAlreadyExists,
                                    kPathNotFound,
                                    kInvalidArgument,
                                    kDiskFull};
  return numbers[static_cast<size_t>(k) % std::size(numbers)];
}

TEST(FaultSweep, EveryCallFailingAloneOrInPairsLosesNothingAndIsReported) {
  int runs = 0, injected = 0, singles = 0, pairs = 0;
  std::map<std::string, int> reports;
  auto tally = [&](const SweepResult& result) {
    injected += result.injected;
    for (const auto& [report, count] : result.reports)
      reports[report] += count;
  };
  std::mt19937 random(12345);
  for (const Variant& variant : kVariants) {
    // The run without injected failures: its own natural failures (the
    // sub-folder cannot be moved, "/DENUM" makes two names collide) are
    // reported as designed too.
    const SweepResult clean = RunAndCheck(variant, {}, 0);
    ++runs;
    ASSERT_GT(clean.calls, 60) << Narrow(variant.args);

    for (int k = 1; k <= clean.calls; ++k) {
      const SweepResult result = RunAndCheck(variant, {k}, NumberFor(k));
      EXPECT_EQ(result.injected, 1) << "call " << k;
      ++runs;
      ++singles;
      tally(result);
      if (HasFailure()) return;  // one broken run says enough
    }
    // Pairs: the second failure soon after the first (where the handler's
    // own log line and box come) and somewhere later.
    for (int k1 = 1; k1 <= clean.calls; ++k1) {
      std::vector<int> seconds = {k1 + 1, k1 + 2, k1 + 3};
      std::uniform_int_distribution<int> later(k1 + 4, clean.calls + 8);
      seconds.push_back(later(random));
      seconds.push_back(later(random));
      for (int k2 : seconds) {
        const SweepResult result =
            RunAndCheck(variant, {k1, k2}, NumberFor(k1 + k2));
        EXPECT_GE(result.injected, 1);
        ++runs;
        ++pairs;
        tally(result);
        if (HasFailure()) return;
      }
    }
  }
  // Every way a failure can be reported was met, and every injected failure
  // was reported in exactly one of them.
  const char* const kinds[] = {
      "startup box",
      "renaming box",
      "moving box",
      "general box",
      "general box, entries left as they are",
      "names box",
      "its shuffle box replaced by the startup box",
      "its startup box failed in turn",
      "a startup box that cannot be shown is passed over",
  };
  for (const char* kind : kinds)
    EXPECT_GT(reports[kind], 0) << kind;
  int reported = 0;
  for (const auto& [report, count] : reports)
    reported += count;
  EXPECT_EQ(reported, injected);

  RecordProperty("runs", runs);
  RecordProperty("injected_failures", injected);
  std::printf(
      "[ sweep    ] %d runs (%d with one failing call, %d with two), %d "
      "failures injected\n",
      runs, singles, pairs, injected);
  for (const auto& [report, count] : reports)
    std::printf("[ sweep    ]   %5d reported by: %s\n", count, report.c_str());
}

}  // namespace
}  // namespace shuffler::testing
