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

#include <cstdio>
#include <cstdlib>
#include <map>
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

// The descriptions of the failures a run here can meet.
Text Description(int32_t number) {
  static const std::map<int32_t, Text> descriptions = {
      {kInvalidArgument, u"Invalid procedure call or argument"},
      {kOverflow, u"Overflow"},
      {kSubscriptOutOfRange, u"Subscript out of range"},
      {kBadFileNameOrNumber, u"Bad file name or number"},
      {kFileNotFound, u"File not found"},
      {kFileAlreadyExists, u"File already exists"},
      {kPermissionDenied, u"Permission denied"},
      {kPathFileAccessError, u"Path/File access error"},
      {kPathNotFound, u"Path not found"},
      {kObjectNotSet, u"Object variable or With block variable not set"},
  };
  const auto found = descriptions.find(number);
  return found == descriptions.end() ? u"?" : found->second;
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

// The fake, with a trace of its calls in front of it.
class TracingPlatform : public PlatformWrapper {
 public:
  explicit TracingPlatform(FakePlatform& faked)
      : PlatformWrapper(static_cast<Platform&>(faked)), fake(faked) {}

  FakePlatform& fake;
  std::vector<Call> trace;

 protected:
  void Around(Call& call, const std::function<void()>& operation) override {
    trace.push_back(call);
    const size_t index = trace.size() - 1;
    const int injected_before = fake.injected;
    try {
      operation();
      trace[index].object = call.object;
    } catch (const Failure& failure) {
      trace[index].failed = true;
      trace[index].injected = fake.injected != injected_before;
      trace[index].number = failure.Number;
      throw;
    }
  }
};

// ---- The check of a trace against the designed reports.

class TraceChecker {
 public:
  TraceChecker(const std::vector<Call>& trace, const frmOne& form)
      : t_(trace),
        debug_(form.DebugLog),
        denum_(form.DenumMode),
        unique_(form.UniqueMode),
        digits_(DecimalDigits(form.FileCount)) {}

  /// What is wrong with the trace; empty when it is as designed.
  std::vector<std::string> Check() {
    try {
      WalkStartup();
    } catch (const Mismatch&) {
    }
    return problems_;
  }

  /// A failure in the shuffle's handler left the shuffle.
  bool LeftShuffle() const { return left_shuffle_; }
  /// "temp" could not be made for want of the right: no entry was touched.
  bool Denied() const { return denied_; }
  int BoxesShown() const { return boxes_; }
  /// Failures reported, or passed over when the startup box failed.
  int FailuresHandled() const { return handled_; }
  int EntriesShuffled() const { return entries_; }
  /// How each injected failure was reported, by kind of report.
  const std::map<std::string, int>& InjectedReports() const {
    return injected_reports_;
  }

 private:
  enum class Kind { kRenaming, kMoving, kGeneral };
  struct Mismatch {};
  struct ShuffleLeft {};

  [[noreturn]] void Problem(const std::string& what) {
    std::string context;
    for (size_t i = j_ >= 3 ? j_ - 3 : 0; i < t_.size() && i <= j_ + 1; ++i) {
      context += "\n    " + std::to_string(i + 1) + ": " + Show(t_[i]);
    }
    problems_.push_back("at call " + std::to_string(j_ + 1) + ": " + what +
                        context);
    throw Mismatch{};
  }

  // The next call, which must be `op` about `subject` and `object` (when
  // given).
  const Call& Take(Op op, const Text* subject = nullptr,
                   const Text* object = nullptr) {
    std::string wanted = OpName(op);
    if (subject != nullptr)
      wanted.append("(").append(Narrow(*subject)).append(")");
    if (j_ >= t_.size()) Problem("the run ended where " + wanted + " was due");
    const Call& call = t_[j_];
    if (call.op != op || (subject != nullptr && call.subject != *subject) ||
        (object != nullptr && call.object != *object)) {
      Problem("expected " + wanted + ", found " + Show(call));
    }
    ++j_;
    return call;
  }

  // Counts how the failure of `call` (when it was injected) was reported.
  void Count(const Call* call, const char* report) {
    if (call != nullptr && call->injected) ++injected_reports_[report];
  }

  // The startup sequence's report of failure `number`, which `cause` raised
  // (null for a step's own failure). When the box itself fails, nothing is
  // left to report that with, and the run goes on.
  void StartupBox(int32_t number, const Call* cause) {
    const Text prompt = StartupPrompt(number);
    const Call& box = Take(Op::kShowStopBox, &prompt, &kNoText);
    ++handled_;
    if (box.failed) {
      // Nothing is left to report it with: the run goes on.
      ++handled_;
      Count(cause, "its startup box failed in turn");
      Count(&box, "a startup box that cannot be shown is passed over");
      return;
    }
    Count(cause, "startup box");
    ++boxes_;
  }

  // The shuffle handler's report: its log line with "/DEBUG", then its box.
  // A failure of either leaves the shuffle and is reported by the startup
  // sequence instead.
  void ShuffleReport(Kind kind, const Text& old_path, int32_t number,
                     const Call* cause, const char* label = nullptr) {
    Text line, prompt;
    const char* report = "";
    switch (kind) {
      case Kind::kRenaming:
        line = u"*** An error occurred renaming file: " + old_path;
        prompt = u"An error occurred renaming file: \r\n" + old_path;
        report = "renaming box";
        break;
      case Kind::kMoving:
        line = u"*** An error occurred moving file: " + old_path;
        prompt = u"An error occurred moving file: \r\n" + old_path;
        report = "moving box";
        break;
      case Kind::kGeneral:
        line = u"*** An error occurred! " + DecimalText(number) + u", " +
               Description(number);
        prompt = u"An error occurred!\r\n\r\nNumber: " + DecimalText(number) +
                 u"\r\nDescription: " + Description(number);
        report = "general box";
        break;
    }
    ++handled_;
    if (debug_ && !recovering_) {
      const Call& log = Take(Op::kWriteLogLine, &line);
      if (log.failed) LeaveShuffle(log, cause);
    }
    const Call& box = Take(Op::kShowStopBox, &prompt, &kErrorCaption);
    if (box.failed) LeaveShuffle(box, cause);
    Count(cause, label != nullptr ? label : report);
    ++boxes_;
  }

  // `handler_call` of the shuffle's handler, reporting `cause`, failed: the
  // startup box reports that failure instead.
  [[noreturn]] void LeaveShuffle(const Call& handler_call, const Call* cause) {
    Count(cause, "its shuffle box replaced by the startup box");
    StartupBox(handler_call.number, &handler_call);
    throw ShuffleLeft{};
  }

  // Reports `call` when it failed, as a failure of the shuffle in `kind`.
  void Then(const Call& call, Kind kind, const Text& old_path) {
    if (call.failed) ShuffleReport(kind, old_path, call.number, &call);
  }

  static Text in_temp_of(const Text& music_path) {
    return kIntoTemp + music_path.substr(kMusicSlash.size());
  }

  bool NextStartsAnEntry() const {
    if (j_ >= t_.size()) return false;
    const Call& call = t_[j_];
    return call.op == Op::kRenameEntry ||
           (debug_ && call.op == Op::kWriteLogLine &&
            call.subject.starts_with(u"Renamed \"")) ||
           (all_out_ && denum_ && call.op == Op::kListFirst &&
            call.subject.starts_with(kIntoTemp) &&
            call.subject != kTempPattern && call.subject != kOwnMark);
  }

  // The recovery's calls before the count pass: its look for "temp" and
  // for the mark, and in a marked "temp" the listing of its files and the
  // move of each back. Reported like the shuffle's failures, without the
  // log, which is not open yet.
  // `temp` is its path, which holds no program folder when that could not
  // be found.
  void WalkRecovery(const Text& temp) {
    recovering_ = true;
    const Text into_temp = temp + u"\\";
    const Text mark_path = into_temp + kOwnMark.substr(kIntoTemp.size());
    const Text pattern = into_temp + u"*.*";
    const Text music_slash = temp.substr(0, temp.size() - 4);
    const Call& look = Take(Op::kListFirst, &temp);
    Then(look, Kind::kGeneral, kNoText);
    bool own = false;
    if (!look.failed && !look.object.empty()) {
      const Call& mark = Take(Op::kListFirst, &mark_path);
      Then(mark, Kind::kGeneral, kNoText);
      own = !mark.failed && !mark.object.empty();
    }
    std::vector<Text> stranded;
    for (bool first = true; own; first = false) {
      const Call& list =
          first ? Take(Op::kListFirst, &pattern) : Take(Op::kListNext);
      Then(list, Kind::kGeneral, kNoText);
      if (list.failed || list.object.empty()) break;
      stranded.push_back(list.object);
    }
    bool mover_missing = false;
    if (!stranded.empty()) {
      const Call& create = Take(Op::kCreateFileMover);
      Then(create, Kind::kGeneral, kNoText);
      mover_missing = create.failed;
    }
    for (const Text& name : stranded) {
      const Text from = into_temp + name;
      if (mover_missing) {
        ShuffleReport(Kind::kMoving, from, kObjectNotSet, nullptr);
      } else {
        const Call& back = Take(Op::kMoveFile, &from, &music_slash);
        Then(back, Kind::kMoving, from);
        // A refused change ends the recovery: the rest would be refused.
        if (back.failed && back.number == kPermissionDenied) break;
      }
    }
    recovering_ = false;
  }

  // The shuffle's calls, from its look for "temp" to its removal.
  void WalkShuffle() {
    const Call& look = Take(Op::kListFirst, &kTempFolder);
    // Before the first entry the stage is renaming, with no path yet.
    Then(look, Kind::kRenaming, kNoText);
    bool marked = false;
    const Call* denial = nullptr;
    // Until a change has succeeded, a refused one is the folder's denial.
    bool changed = false;
    if (look.failed || look.object.empty()) {
      const Call& make = Take(Op::kMakeFolder, &kTempFolder);
      if (make.failed && make.number == kPermissionDenied) {
        denial = &make;  // said once, after the log is open
        pending_denial_ = denial;
      } else {
        Then(make, Kind::kRenaming, kNoText);
      }
      if (!make.failed) {
        changed = true;
        const Call& mark = Take(Op::kMakeFolder, &kOwnMark);
        Then(mark, Kind::kRenaming, kNoText);
        marked = !mark.failed;
      }
    } else {
      const Call& mark = Take(Op::kListFirst, &kOwnMark);
      Then(mark, Kind::kRenaming, kNoText);
      marked = !mark.failed && !mark.object.empty();
      // An unmarked "temp" that lists only "." and ".." is marked now.
      bool only_dots = false;
      for (bool first = true; !marked; first = false) {
        const Call& list =
            first ? Take(Op::kListFirst, &kTempPattern) : Take(Op::kListNext);
        Then(list, Kind::kRenaming, kNoText);
        if (list.failed) break;
        if (list.object.empty()) {
          if (only_dots) {
            const Call& make = Take(Op::kMakeFolder, &kOwnMark);
            if (make.failed && make.number == kPermissionDenied) {
              denial = &make;
              pending_denial_ = denial;
            } else {
              Then(make, Kind::kRenaming, kNoText);
            }
            marked = !make.failed;
          }
          break;
        }
        if (list.object != u"." && list.object != u"..") break;
        only_dots = true;
      }
    }
    // "/UNIQUE" moves all out before any back only in a marked "temp".
    all_out_ = unique_ && marked;
    bool mover_missing = false;
    if (denial == nullptr) {
      const Call& create = Take(Op::kCreateFileMover);
      Then(create, Kind::kRenaming, kNoText);
      mover_missing = create.failed;
    }
    if (debug_) Then(Take(Op::kOpenLog, &kLog), Kind::kRenaming, kNoText);
    if (denial != nullptr) {
      denied_ = true;
      pending_denial_ = nullptr;
      ShuffleReport(Kind::kGeneral, kNoText, denial->number, denial,
                    "general box, entries left as they are");
    }

    // "/UNIQUE": the entries moved out, as their old path and their path
    // in "temp", to come back in the same order after the last.
    std::vector<std::pair<Text, Text>> moved_out;
    while (denial == nullptr && NextStartsAnEntry()) {
      Text old_path, new_path;
      if (debug_) {
        const Call& line = Take(Op::kWriteLogLine);
        const Text& text = line.subject;
        const size_t middle = text.find(u"\" to \"");
        if (middle == Text::npos || !text.ends_with(u"\"")) {
          Problem("not a rename line");
        }
        old_path = text.substr(9, middle - 9);
        new_path = text.substr(middle + 6, text.size() - middle - 7);
        Then(line, Kind::kRenaming, old_path);
      }
      // With "/UNIQUE /DENUM" a name already in "temp" is taken.
      bool name_free = true;
      if (all_out_ && denum_) {
        const Text looked_for = debug_ ? in_temp_of(new_path) : Text();
        const Call& taken =
            Take(Op::kListFirst, debug_ ? &looked_for : nullptr);
        name_free = !taken.failed && taken.object.empty();
        if (!debug_) {
          // The new name is the one looked for; the old path is in the
          // rename, or in the box when there is none.
          new_path = kMusicSlash + taken.subject.substr(kIntoTemp.size());
          const Text box_start = u"An error occurred renaming file: \r\n";
          if (!name_free && j_ < t_.size() &&
              t_[j_].subject.starts_with(box_start)) {
            old_path = t_[j_].subject.substr(box_start.size());
          }
        }
        if (taken.failed) {
          ShuffleReport(Kind::kRenaming, old_path, taken.number, &taken);
        } else if (!name_free) {
          ShuffleReport(Kind::kRenaming, old_path, kFileAlreadyExists, nullptr);
        }
      }
      bool renamed = false;
      if (name_free && debug_) {
        const Call& rename = Take(Op::kRenameEntry, &old_path, &new_path);
        renamed = !rename.failed;
      } else if (name_free) {
        const Call& rename = Take(Op::kRenameEntry, nullptr,
                                  new_path.empty() ? nullptr : &new_path);
        old_path = rename.subject;
        new_path = rename.object;
        renamed = !rename.failed;
      }
      if (name_free) {
        const Call& rename = t_[j_ - 1];
        if (Refused(rename, changed, denial)) break;
        Then(rename, Kind::kRenaming, old_path);
        changed = changed || (renamed && rename.subject != rename.object);
      }
      CheckNewName(old_path, new_path);
      const Text back_from = kIntoTemp + new_path.substr(kMusicSlash.size());
      if (all_out_) {
        // Only a renamed entry is moved, and only out for now.
        if (renamed && mover_missing) {
          ShuffleReport(Kind::kMoving, old_path, kObjectNotSet, nullptr);
        } else if (renamed) {
          const Call& out = Take(Op::kMoveFile, &new_path, &kIntoTemp);
          if (Refused(out, changed, denial)) break;
          Then(out, Kind::kMoving, old_path);
          if (!out.failed) moved_out.emplace_back(old_path, back_from);
          changed = changed || !out.failed;
        }
      } else if (mover_missing) {
        // Both moves run whatever happened before, on the new path.
        ShuffleReport(Kind::kMoving, old_path, kObjectNotSet, nullptr);
        ShuffleReport(Kind::kMoving, old_path, kObjectNotSet, nullptr);
      } else {
        const Call& out = Take(Op::kMoveFile, &new_path, &kIntoTemp);
        if (Refused(out, changed, denial)) break;
        Then(out, Kind::kMoving, old_path);
        changed = changed || !out.failed;
        Then(Take(Op::kMoveFile, &back_from, &kMusicSlash), Kind::kMoving,
             old_path);
      }
      ++entries_;
    }
    for (const auto& [old_path, from] : moved_out) {
      Then(Take(Op::kMoveFile, &from, &kMusicSlash), Kind::kMoving, old_path);
    }
    if (debug_) Then(Take(Op::kCloseLog), Kind::kGeneral, kNoText);
    // The mark goes when nothing else is left in "temp".
    bool only_mark_left = false;
    for (bool first = true; marked; first = false) {
      const Call& list =
          first ? Take(Op::kListFirst, &kTempPattern) : Take(Op::kListNext);
      Then(list, Kind::kGeneral, kNoText);
      if (list.failed) break;
      const Text& name = list.object;
      only_mark_left = name.empty();
      if (name != u"." && name != u".." &&
          name != kOwnMark.substr(kIntoTemp.size()))
        break;
    }
    if (marked && only_mark_left) {
      Then(Take(Op::kRemoveFolder, &kOwnMark), Kind::kGeneral, kNoText);
    }
    if (denial != nullptr) return;
    const Call& remove = Take(Op::kRemoveFolder, &kTempFolder);
    if (remove.failed) {
      ShuffleReport(Kind::kGeneral, kNoText, remove.number, &remove);
    }
  }

  // True when `call`, a change, was refused before any change succeeded:
  // the denial, said once, and the rest is left as it is.
  bool Refused(const Call& call, bool changed, const Call*& denial) {
    if (!call.failed || call.number != kPermissionDenied || changed) {
      return false;
    }
    denial = &call;
    denied_ = true;
    ShuffleReport(Kind::kGeneral, kNoText, call.number, &call,
                  "general box, entries left as they are");
    return true;
  }

  void CheckNewName(const Text& old_path, const Text& new_path) {
    if (!old_path.starts_with(kMusicSlash) ||
        !new_path.starts_with(kMusicSlash)) {
      Problem("paths outside the music folder");
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
        name.substr(0, dash) != ZeroPadded(entries_ + 1, digits_)) {
      numbered = false;
    }
    if (denum_ ? name != bare : !numbered) {
      Problem("new name " + Narrow(name) + " for " + Narrow(old_path));
    }
  }

  // The startup sequence's calls, with the shuffle inside them.
  void WalkStartup() {
    bool recovered = false, shuffled = false;
    int music_listings = 0;
    bool count_cut = false, subscript_reported = false, read_failed = false;
    while (j_ < t_.size()) {
      const Call& call = t_[j_];
      if (!recovered && call.op == Op::kListFirst &&
          call.subject.ends_with(u"\\mp3\\temp")) {
        recovered = true;
        try {
          WalkRecovery(call.subject);
        } catch (const ShuffleLeft&) {
          recovering_ = false;
        }
        continue;
      }
      if (!shuffled && call.op == Op::kListFirst &&
          call.subject == kTempFolder) {
        shuffled = true;
        try {
          WalkShuffle();
        } catch (const ShuffleLeft&) {
          left_shuffle_ = true;
          if (pending_denial_ != nullptr) {
            // The shuffle was left before it could say so.
            ++handled_;
            Count(pending_denial_, "not said, the shuffle was left first");
          }
        }
        continue;
      }
      if (call.op == Op::kShowStopBox) {
        // A box no failed call explains reports a step's own failure. The
        // name's cut fails when a failed read of the argument text left its
        // end before its start; the collect pass fails when a failed count
        // pass left too few slots.
        const bool after_read = j_ > 0 && t_[j_ - 1].op == Op::kArgumentText;
        if (after_read && read_failed &&
            call.subject == StartupPrompt(kInvalidArgument)) {
          StartupBox(kInvalidArgument, nullptr);
        } else if (count_cut && !subscript_reported &&
                   call.subject == StartupPrompt(kSubscriptOutOfRange)) {
          subscript_reported = true;
          StartupBox(kSubscriptOutOfRange, nullptr);
        } else {
          Problem("a box that no failure explains: " + Show(call));
        }
        continue;
      }
      ++j_;
      if (call.op == Op::kListFirst && call.subject == kMusicPattern) {
        ++music_listings;
      }
      if (call.failed && IsLookBeforeStart(j_ - 1)) {
        // The launch only looks for the program to start: a look that
        // fails finds nothing, and the start reports what is wrong.
        ++handled_;
        Count(&call, "a failed look for the program to start is passed over");
        continue;
      }
      if (call.failed) {
        read_failed = read_failed || call.op == Op::kArgumentText;
        if (music_listings == 1 &&
            (call.op == Op::kListFirst || call.op == Op::kListNext)) {
          count_cut = true;
        }
        StartupBox(call.number, &call);
      }
    }
  }

  // True when call `i` is a listing that only other listings separate from
  // the start of a program.
  bool IsLookBeforeStart(size_t i) const {
    if (t_[i].op != Op::kListFirst) return false;
    while (++i < t_.size() && t_[i].op == Op::kListFirst) {
    }
    return i < t_.size() && t_[i].op == Op::kStartMaximized;
  }

  const std::vector<Call>& t_;
  const bool debug_, denum_, unique_;
  const int digits_;
  size_t j_ = 0;
  std::vector<std::string> problems_;
  bool left_shuffle_ = false, denied_ = false, recovering_ = false;
  bool all_out_ = false;
  const Call* pending_denial_ = nullptr;
  int boxes_ = 0, handled_ = 0, entries_ = 0;
  std::map<std::string, int> injected_reports_;
};

// ---- The runs.

struct Variant {
  Text args;
  bool debug, denum, no_launch, launch_option;
  bool stranded;  // a stopped run left files in its marked "temp"
  bool unique;
  bool player_temp = false;  // the player's own "temp", holding a file and
                             // a folder with a file
};

const Variant kVariants[] = {
    {u"", false, false, false, false, false, false},
    {u"/DEBUG", true, false, false, false, false, false},
    {u"/DENUM", false, true, false, false, false, false},
    {u"/denum /debug", true, true, false, false, false, false},
    {u"/LAUNCH \"gta3.exe\" /DEBUG", true, false, false, true, false, false},
    {u"/NOLAUNCH /Debug /DENUM", true, true, true, false, false, false},
    {u"", false, false, false, false, true, false},
    {u"/UNIQUE", false, false, false, false, false, true},
    {u"/unique /denum /debug", true, true, false, false, false, true},
    {u"/UNIQUE", false, false, false, false, false, true, true},
    {u"/DENUM /UNIQUE /DEBUG", true, true, false, false, false, true, true},
};

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
  TracingPlatform traced(fake);
  Populate(fake, variant.stranded, variant.player_temp);
  fake.argument_text = variant.args;
  fake.clock_seed = 20240601;
  for (int k : fail)
    fake.FailOverallCall(k, number);
  const std::vector<std::string> before = fake.ContentsBelow(kMusic);

  std::string label = Narrow(variant.args) +
                      (variant.stranded ? " (stranded)" : "") +
                      " failing calls";
  for (int k : fail)
    label.append(" ").append(std::to_string(k));
  SCOPED_TRACE(label);

  frmOne form(traced);
  const bool ended = RunToEnd(form);
  Record(label, fake);
  const std::vector<Call>& trace = traced.trace;
  EXPECT_EQ(trace.size(), fake.calls.size());

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

  // The process always ends, even when a startup box could not be shown.
  EXPECT_TRUE(ended);

  // A failing option test sets its flag; the last four reads of the
  // argument text are the "/NOLAUNCH", "/DEBUG", "/DENUM" and "/UNIQUE"
  // tests.
  std::vector<const Call*> reads;
  for (const Call& call : trace) {
    if (call.op == Op::kArgumentText) reads.push_back(&call);
  }
  EXPECT_GE(reads.size(), 5u);
  if (reads.size() < 5) return {};
  const Call& no_launch_test = *reads[reads.size() - 4];
  EXPECT_EQ(form.DebugLog, variant.debug || reads[reads.size() - 3]->failed);
  EXPECT_EQ(form.DenumMode, variant.denum || reads[reads.size() - 2]->failed);
  EXPECT_EQ(form.UniqueMode, variant.unique || reads.back()->failed);

  // The launch step runs at the end. It starts a program unless told not
  // to, or unless there is nothing to start: no "/LAUNCH" name and no game
  // found for want of the program's folder.
  bool folder_known = true, lookup_failed = false;
  for (const Call& call : trace) {
    if (call.op == Op::kProgramFolder && call.failed) folder_known = false;
    if (call.op == Op::kListFirst && call.failed &&
        (call.subject.ends_with(u"\\gta3.exe") ||
         call.subject.ends_with(u"\\gta-vc.exe"))) {
      lookup_failed = true;
    }
  }
  const bool launch_named = variant.launch_option && !reads[0]->failed;
  const bool expect_start = !variant.no_launch && !no_launch_test.failed &&
                            (launch_named || folder_known || lookup_failed);
  EXPECT_EQ(fake.CallsOf(Op::kStartMaximized), expect_start ? 1 : 0);
  // A failure away from the launch target's choice and the start itself
  // leaves the target as it was.
  const Call* failing =
      fail.size() == 1 ? &trace[static_cast<size_t>(fail[0]) - 1] : nullptr;
  if (expect_start && failing != nullptr && folder_known &&
      failing->op != Op::kArgumentText && failing->op != Op::kStartMaximized &&
      !failing->subject.ends_with(u".exe")) {
    EXPECT_EQ(fake.started,
              std::vector<Text>{variant.launch_option ? u"C:\\Game\\gta3.exe"
                                                      : u"C:\\Game\\GTA3.EXE"});
  }
  if (!checker.LeftShuffle() && !checker.Denied() && form.FileCount > 0 &&
      problems.empty()) {
    EXPECT_EQ(checker.EntriesShuffled(), form.FileCount);
  }
  return {static_cast<int>(trace.size()), fake.injected,
          checker.InjectedReports()};
}

// The failure numbers injected, in turn.
int32_t NumberFor(int k) {
  static const int32_t numbers[] = {kPathFileAccessError, kPermissionDenied,
                                    kFileNotFound,        kFileAlreadyExists,
                                    kPathNotFound,        kInvalidArgument};
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
