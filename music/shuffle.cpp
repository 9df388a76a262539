// The shuffle: every listed entry gets a new random number prefix (or loses
// its old one in de-number mode) and is moved out into "temp" and straight
// back, so the music folder's entries are re-created in random order. Many
// players and games list a folder in the order its entries were created.
//
// With "/UNIQUE" the k-th entry processed gets the number k, so that the
// names sort in a random order too, and every renamed entry is moved out
// into "temp" before the first is moved back, all in the order of
// processing. A file system that reuses the slots freed in a folder (FAT32)
// then lists the folder in that order as well, where an entry moved out and
// straight back would take its old slot again.
//
// While the shuffle works, a "temp" folder it made itself holds a mark, a
// sub-folder of its own: a run that is stopped between an entry's two moves
// leaves the entry in a marked "temp", and the next run brings it back
// before it lists the music folder. A "temp" folder without the mark is the
// player's own: it is used as it is, and nothing is ever taken out of it;
// only an empty one is marked while the shuffle uses it. Everything in a
// "temp" is looked at, names that begin with "." included: "/DENUM" may
// give an entry such a name, which Linux listings hide.
//
// In a player's own "temp" that holds anything, "/UNIQUE" still numbers the
// entries 1 to N but moves each out and straight back, as without it: a run
// stopped there may leave one entry in that "temp", never all of them,
// since nothing is brought back out of a folder without the mark.
//
// A music folder that refuses every change (a read-only medium, or no right
// to change it) refuses the first change the shuffle tries, with
// "Permission denied": that is said once, and the entries are left as they
// are, instead of three boxes for every entry.
#include <cmath>
#include <vector>

#include "app/frm_one.h"
#include "app/guarded_steps.h"
#include "app/text.h"
#include "music/names.h"

namespace shuffler {

namespace {

// Written over each processed slot of `FileNames`.
constexpr TextView kMarker = u"###FILEALREADYRENAMED###";
// The sub-folder that marks "temp" as Shuffler's own. It is made right
// after "temp" and removed right before it, and only when nothing else is
// left in "temp": a run stopped at any moment leaves either no "temp", an
// empty one, or a marked one holding only what Shuffler put there.
constexpr TextView kOwnMark = u"Shuffler is moving files";

enum ShuffleStep : int {
  kTestTempFolder,
  kMakeTempFolder,
  kMarkTempFolder,
  kTestOwnMark,
  kTakeOverEmpty,
  kCreateMover,
  kResetDone,
  kCountDigits,
  kOpenLog,
  kTestDenied,
  kReportDenied,
  kLoopTest,
  kPick,
  kTestUnprocessed,
  kResetStage,
  kDrawNumber,
  kFindBareName,
  kFindOldPath,
  kFindNewPath,
  kLogRename,
  kTestNameFree,
  kRename,
  kStageMoves,
  kMoveOut,
  kTestRefused,
  kMoveBack,
  kStageDone,
  kCountDone,
  kMarkProcessed,
  kMovedOutLeft,
  kTakeMovedOut,
  kMoveBackInOrder,
  kEndMovesBack,
  kCloseLog,
  kReleaseMover,
  kFindLeftInTemp,
  kUnmarkTempFolder,
  kRemoveTempFolder,
};

enum RecoveryStep : int {
  kFindTemp,
  kTestOwnTemp,
  kFindStranded,
  kCreateRecoveryMover,
  kStrandedLeft,
  kTakeStranded,
  kBringBack,
  kReleaseRecoveryMover,
};

// Which part of an entry's processing is running, for the failure report.
enum Stage : int { kRenaming = 0, kMoving = 1, kAfterMoves = 2 };

// A whole number from 0 to count - 1. The product is floored in double
// precision, so it stays below `count` for every value below 1.
int64_t Draw(int64_t count, float random) {
  return static_cast<int64_t>(std::floor(static_cast<double>(count) * random));
}

// The shuffle's report of `failure` in `stage` about the entry at
// `old_path`: a log line when `log` is set, then a box.
void Report(Platform& platform, bool log, int stage, const Text& old_path,
            const Failure& failure) {
  Text log_line, prompt;
  if (stage == kRenaming) {
    log_line = u"*** An error occurred renaming file: " + old_path;
    prompt = u"An error occurred renaming file: \r\n" + old_path;
  } else if (stage == kMoving) {
    log_line = u"*** An error occurred moving file: " + old_path;
    prompt = u"An error occurred moving file: \r\n" + old_path;
  } else {
    const Text number = DecimalText(failure.Number);
    log_line =
        u"*** An error occurred! " + number + u", " + failure.Description;
    prompt = u"An error occurred!\r\n\r\nNumber: " + number +
             u"\r\nDescription: " + failure.Description;
  }
  if (log) platform.WriteLogLine(log_line);
  platform.ShowStopBox(prompt, u"Error");
}

}  // namespace

void frmOne::RecoverStrandedFiles() {
  const Text music = MusicFolder();
  const Text temp_folder = InAppFolder({MusicFolderName, u"temp"});
  const Text into_temp = InAppFolder({MusicFolderName, u"temp", u""});

  int stage = kAfterMoves;
  bool own = false;
  std::vector<Text> stranded;
  size_t next_stranded = 0;
  // A medium that refuses one change refuses them all: one box says so.
  bool refused = false;
  Text OldPath;
  std::unique_ptr<FileMover> Mover;

  GuardedSteps steps;
  steps
      .Do(kFindTemp,
          [&] {
            TempFolderName =
                platform_.FindEntry(temp_folder, ListMask::kWithFolders);
          })
      .Do(kTestOwnTemp,
          [&] {
            if (TempFolderName.empty()) return;
            own = !platform_
                       .FindEntry(into_temp + Text(kOwnMark),
                                  ListMask::kWithFolders)
                       .empty();
          })
      .Do(kFindStranded,
          [&] {
            if (!own) return;
            for (Text name = platform_.ListFirst(
                     into_temp + u"*.*", ListMask::kNormalFilesAndDotNames);
                 !name.empty(); name = platform_.ListNext()) {
              stranded.push_back(name);
            }
          })
      .Do(kCreateRecoveryMover,
          [&] {
            if (!stranded.empty()) Mover = platform_.CreateFileMover();
          })
      .If(
          kStrandedLeft,
          [&] { return !refused && next_stranded < stranded.size(); },
          kTakeStranded, kReleaseRecoveryMover)
      .Do(kTakeStranded,
          [&] {
            stage = kMoving;
            OldPath = into_temp + stranded[next_stranded++];
          })
      // Never onto an entry of the music folder: a file whose name is taken
      // there stays in "temp", and is reported.
      .Do(
          kBringBack,
          [&] {
            if (!Mover) Raise(kObjectNotSet);
            try {
              Mover->MoveFile(OldPath, music);
            } catch (const Failure& failure) {
              refused = failure.Number == kPermissionDenied;
              throw;
            }
          },
          kStrandedLeft)
      .Do(
          kReleaseRecoveryMover,
          [&] {
            stage = kAfterMoves;
            Mover.reset();
          },
          GuardedSteps::kEnd);

  // The log is not open yet: the boxes alone report these failures.
  steps.Run(kFindTemp, [&](const Failure& failure) {
    Report(platform_, false, stage, OldPath, failure);
  });
}

void frmOne::ShuffleMusicFolder() {
  const Text music = MusicFolder();
  const Text temp_folder = InAppFolder({MusicFolderName, u"temp"});
  const Text into_temp = InAppFolder({MusicFolderName, u"temp", u""});
  const Text own_mark = into_temp + Text(kOwnMark);

  int stage = kRenaming;
  Counter16 Done;
  int Digits = 0;
  int64_t Pick = 0;
  // The paths are rebuilt in place for every entry, reusing their storage.
  Text NumberText, Bare, OldPath, NewPath, TempName, TempPath;
  std::unique_ptr<FileMover> Mover;
  // "temp" made by this run, and whether it carries the mark.
  bool made_temp = false, marked = false;
  // Nothing but the mark is left in "temp" at the end.
  bool only_mark_left = false;
  // "temp" could not be made for want of the right to change the music
  // folder: every entry would fail alike, so it is said once and the
  // entries are left as they are.
  bool denied = false;
  Failure denial;
  // "/UNIQUE" in a marked "temp": every entry is moved out before the
  // first comes back.
  bool all_out = false;
  // Whether a change to the music folder has succeeded yet: until one has,
  // a refused change means that the folder refuses every change.
  bool changed = false;
  const auto deny = [&](const Failure& failure) {
    if (changed || failure.Number != kPermissionDenied) return false;
    denied = true;
    denial = failure;
    return true;
  };
  // "/UNIQUE": whether the current entry's new name is free, also in
  // "temp", and whether it was renamed; the entries moved out, as their
  // old path and their name in "temp", in order; the next to move back.
  bool name_free = false, renamed = false;
  struct MovedOut {
    Text old_path, temp_name;
  };
  std::vector<MovedOut> moved_out;
  size_t next_back = 0;
  // Which slots are processed. The marker alone cannot tell: an entry may
  // really be named like it, and would then never be processed.
  std::vector<bool> processed(static_cast<size_t>(FileCount), false);

  auto mover = [&]() -> FileMover& {
    if (!Mover) Raise(kObjectNotSet);
    return *Mover;
  };

  GuardedSteps steps;
  steps
      .If(
          kTestTempFolder,
          [&] {
            return platform_.FindEntry(temp_folder, ListMask::kWithFolders)
                .empty();
          },
          kMakeTempFolder, kTestOwnMark)
      .Do(kMakeTempFolder,
          [&] {
            try {
              platform_.MakeFolder(temp_folder);
            } catch (const Failure& failure) {
              if (!deny(failure)) throw;
              return;
            }
            made_temp = changed = true;
          })
      .Do(
          kMarkTempFolder,
          [&] {
            if (!made_temp) return;
            platform_.MakeFolder(own_mark);
            marked = true;
          },
          kCreateMover)
      // A "temp" left by a stopped run still carries the mark; the
      // recovery has brought back what it held.
      .Do(kTestOwnMark,
          [&] {
            marked =
                !platform_.FindEntry(own_mark, ListMask::kWithFolders).empty();
          })
      // An empty "temp" holds nothing of anyone's (a run stopped right after
      // making it leaves one): it is marked, so that what this run leaves in
      // it is brought back too. A folder lists "." and ".." at least; a file
      // named "temp" lists nothing and is left alone. A mark that cannot be
      // made for want of the right to is the first refused change.
      .Do(kTakeOverEmpty,
          [&] {
            if (marked) return;
            bool folder = false;
            for (Text name = platform_.ListFirst(
                     into_temp + u"*.*", ListMask::kWithFoldersAndDotNames);
                 !name.empty(); name = platform_.ListNext()) {
              if (name != u"." && name != u"..") return;
              folder = true;
            }
            if (!folder) return;
            try {
              platform_.MakeFolder(own_mark);
            } catch (const Failure& failure) {
              if (!deny(failure)) throw;
              return;
            }
            // A mark in the player's "temp" changes nothing in the music
            // folder itself, which may still refuse its first change.
            marked = true;
          })
      .Do(kCreateMover,
          [&] {
            if (!denied) Mover = platform_.CreateFileMover();
          })
      // Only what a marked "temp" holds comes back after a stopped run.
      .Do(kResetDone,
          [&] {
            Done = 0;
            all_out = UniqueMode && marked;
          })
      .Do(kCountDigits, [&] { Digits = DecimalDigits(FileCount); })
      .Do(kOpenLog,
          [&] {
            if (DebugLog) platform_.OpenLog(InAppFolder({u"Shuffler.log"}));
          })
      .If(
          kTestDenied, [&] { return denied; }, kReportDenied, kLoopTest)
      .Do(
          kReportDenied,
          [&] {
            stage = kAfterMoves;
            throw denial;
          },
          kCloseLog)
      .If(
          kLoopTest, [&] { return Done < FileCount; }, kPick, kMovedOutLeft)
      .Do(kPick, [&] { Pick = Draw(FileCount, platform_.NextRandom()); })
      .If(
          kTestUnprocessed,
          [&] { return !processed.at(static_cast<size_t>(Pick)); }, kResetStage,
          kLoopTest)
      .Do(kResetStage,
          [&] {
            stage = kRenaming;
            name_free = renamed = false;
          })
      // Drawn independently for every entry: two entries may get the same
      // number. With "/UNIQUE", the entry's place in the order instead.
      .Do(kDrawNumber,
          [&] {
            const int64_t number =
                UniqueMode ? int64_t{Done} + 1
                           : Draw(FileCount, platform_.NextRandom()) + 1;
            NumberText = ZeroPadded(number, Digits);
          })
      .Do(kFindBareName, [&] { Bare = BareName(FileNames[Pick]); })
      // Each path is reserved before it is rebuilt: running out of memory
      // then leaves it as it was, for the failure report.
      .Do(kFindOldPath,
          [&] {
            const Text& name = FileNames[Pick];
            OldPath.reserve(music.size() + name.size());
            OldPath.assign(music).append(name);
          })
      .Do(kFindNewPath,
          [&] {
            if (DenumMode) {
              TempName = Bare;
            } else {
              TempName.reserve(NumberText.size() + 1 + Bare.size());
              TempName.assign(NumberText).append(u"-").append(Bare);
            }
            NewPath.reserve(music.size() + TempName.size());
            NewPath.assign(music).append(TempName);
          })
      .Do(kLogRename,
          [&] {
            if (DebugLog) {
              platform_.WriteLogLine(u"Renamed \"" + OldPath + u"\" to \"" +
                                     NewPath + u"\"");
            }
          })
      // With "/UNIQUE" and "/DENUM", an entry moved out earlier may hold
      // the bare name in "temp": the rename fails as if the name were taken
      // in the music folder, where that entry would be otherwise, and the
      // entry keeps its name. (Numbered names never meet there.)
      .Do(kTestNameFree,
          [&] {
            if (all_out && DenumMode &&
                !platform_
                     .FindEntry(into_temp + TempName,
                                ListMask::kWithFoldersAndDotNames)
                     .empty()) {
              Raise(kFileAlreadyExists);
            }
            name_free = true;
          })
      .Do(kRename,
          [&] {
            if (!name_free) return;
            try {
              platform_.RenameEntry(OldPath, NewPath);
            } catch (const Failure& failure) {
              if (!deny(failure)) throw;
              return;
            }
            renamed = true;
            // A new name equal to the old one changes nothing.
            changed = changed || OldPath != NewPath;
          })
      .Do(kStageMoves, [&] { stage = kMoving; })
      // Out and straight back: the entry is re-created in the music folder
      // now, after every entry processed before it. With "/UNIQUE" in a
      // marked "temp" only out, and only an entry that was renamed: a
      // failure touches no other.
      .Do(kMoveOut,
          [&] {
            if (denied || (all_out && !renamed)) return;
            try {
              mover().MoveFile(NewPath, into_temp);
            } catch (const Failure& failure) {
              if (!deny(failure)) throw;
              return;
            }
            changed = true;
            if (all_out) moved_out.push_back({OldPath, TempName});
          })
      .If(
          kTestRefused, [&] { return denied; }, kReportDenied, kMoveBack)
      .Do(kMoveBack,
          [&] {
            if (all_out) return;
            FileMover& back = mover();
            TempPath.assign(into_temp).append(TempName);
            back.MoveFile(TempPath, music);
          })
      .Do(kStageDone, [&] { stage = kAfterMoves; })
      .Do(kCountDone, [&] { Done.Add(1); })
      .Do(
          kMarkProcessed,
          [&] {
            processed.at(static_cast<size_t>(Pick)) = true;
            FileNames[Pick] = kMarker;
          },
          kLoopTest)
      // "/UNIQUE": every entry moved out comes back, in the same order.
      .If(
          kMovedOutLeft, [&] { return next_back < moved_out.size(); },
          kTakeMovedOut, kEndMovesBack)
      .Do(kTakeMovedOut,
          [&] {
            stage = kMoving;
            const MovedOut& entry = moved_out[next_back++];
            OldPath = entry.old_path;
            TempPath.assign(into_temp).append(entry.temp_name);
          })
      .Do(
          kMoveBackInOrder, [&] { mover().MoveFile(TempPath, music); },
          kMovedOutLeft)
      .Do(kEndMovesBack, [&] { stage = kAfterMoves; })
      .Do(kCloseLog,
          [&] {
            if (DebugLog) platform_.CloseLog();
          })
      .Do(kReleaseMover, [&] { Mover.reset(); })
      // The mark goes only when nothing else is left in "temp": what could
      // not come back stays in a marked folder, and a later run tries again.
      .Do(kFindLeftInTemp,
          [&] {
            if (!marked) return;
            for (Text name = platform_.ListFirst(
                     into_temp + u"*.*", ListMask::kWithFoldersAndDotNames);
                 !name.empty(); name = platform_.ListNext()) {
              if (name != u"." && name != u".." && name != kOwnMark) return;
            }
            only_mark_left = true;
          })
      .Do(kUnmarkTempFolder,
          [&] {
            if (marked && only_mark_left) platform_.RemoveFolder(own_mark);
          })
      .Do(
          kRemoveTempFolder,
          [&] {
            if (!denied) platform_.RemoveFolder(temp_folder);
          },
          GuardedSteps::kEnd);

  // The report depends on the stage. What fails in here (a log that cannot
  // be written) leaves the shuffle for the startup sequence to report.
  steps.Run(kTestTempFolder, [&](const Failure& failure) {
    Report(platform_, DebugLog, stage, OldPath, failure);
  });
}

}  // namespace shuffler
