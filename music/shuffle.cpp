// The shuffle: every listed entry gets a new random number prefix (or loses
// its old one in de-number mode) and is moved out into "temp" and straight
// back, so the music folder's entries are re-created in random order. Many
// players and games list a folder in the order its entries were created.
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

enum ShuffleStep : int {
  kTestTempFolder,
  kMakeTempFolder,
  kCreateMover,
  kResetDone,
  kCountDigits,
  kOpenLog,
  kFindStranded,
  kStrandedLeft,
  kTakeStranded,
  kBringBack,
  kEndRecovery,
  kLoopTest,
  kPick,
  kTestUnprocessed,
  kResetStage,
  kDrawNumber,
  kFindBareName,
  kFindOldPath,
  kFindNewPath,
  kLogRename,
  kRename,
  kStageMoves,
  kMoveOut,
  kMoveBack,
  kStageDone,
  kCountDone,
  kMarkProcessed,
  kCloseLog,
  kReleaseMover,
  kRemoveTempFolder,
};

// Which part of an entry's processing is running, for the failure report.
enum Stage : int { kRenaming = 0, kMoving = 1, kAfterMoves = 2 };

// A whole number from 0 to count - 1. The product is floored in double
// precision, so it stays below `count` for every value below 1.
int64_t Draw(int64_t count, float random) {
  return static_cast<int64_t>(std::floor(static_cast<double>(count) * random));
}

}  // namespace

void frmOne::ShuffleMusicFolder() {
  const Text music = MusicFolder();
  const Text temp_folder = InAppFolder({u"mp3", u"temp"});
  const Text into_temp = InAppFolder({u"mp3", u"temp", u""});

  int stage = kRenaming;
  Counter16 Done;
  int Digits = 0;
  int64_t Pick = 0;
  // The paths are rebuilt in place for every entry, reusing their storage.
  Text NumberText, Bare, OldPath, NewPath, TempName, TempPath;
  std::unique_ptr<FileMover> Mover;
  // Files an earlier run left in "temp" when it was stopped between an
  // entry's two moves; they are brought back before the shuffle.
  bool temp_existed = false;
  std::vector<Text> stranded;
  size_t next_stranded = 0;
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
            temp_existed =
                !platform_.ListFirst(temp_folder, ListMask::kWithFolders)
                     .empty();
            return !temp_existed;
          },
          kMakeTempFolder, kCreateMover)
      .Do(kMakeTempFolder, [&] { platform_.MakeFolder(temp_folder); })
      .Do(kCreateMover, [&] { Mover = platform_.CreateFileMover(); })
      .Do(kResetDone, [&] { Done = 0; })
      .Do(kCountDigits, [&] { Digits = DecimalDigits(FileCount); })
      .Do(kOpenLog,
          [&] {
            if (DebugLog) platform_.OpenLog(InAppFolder({u"Shuffler.log"}));
          })
      .Do(kFindStranded,
          [&] {
            if (!temp_existed) return;
            for (Text name = platform_.ListFirst(into_temp + u"*.*",
                                                 ListMask::kNormalFiles);
                 !name.empty(); name = platform_.ListNext()) {
              stranded.push_back(name);
            }
          })
      .If(
          kStrandedLeft, [&] { return next_stranded < stranded.size(); },
          kTakeStranded, kEndRecovery)
      .Do(kTakeStranded,
          [&] {
            stage = kMoving;
            OldPath = into_temp + stranded[next_stranded++];
          })
      .Do(
          kBringBack, [&] { mover().MoveFile(OldPath, music); }, kStrandedLeft)
      .Do(kEndRecovery,
          [&] {
            stage = kRenaming;
            OldPath.clear();
          })
      .If(
          kLoopTest, [&] { return Done < FileCount; }, kPick, kCloseLog)
      .Do(kPick, [&] { Pick = Draw(FileCount, platform_.NextRandom()); })
      .If(
          kTestUnprocessed,
          [&] { return !processed.at(static_cast<size_t>(Pick)); }, kResetStage,
          kLoopTest)
      .Do(kResetStage, [&] { stage = kRenaming; })
      // Drawn independently for every entry: two entries may get the same
      // number.
      .Do(kDrawNumber,
          [&] {
            NumberText =
                ZeroPadded(Draw(FileCount, platform_.NextRandom()) + 1, Digits);
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
      .Do(kRename, [&] { platform_.RenameEntry(OldPath, NewPath); })
      .Do(kStageMoves, [&] { stage = kMoving; })
      // Out and straight back: the entry is re-created in the music folder
      // now, after every entry processed before it.
      .Do(kMoveOut, [&] { mover().MoveFile(NewPath, into_temp); })
      .Do(kMoveBack,
          [&] {
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
      .Do(kCloseLog,
          [&] {
            if (DebugLog) platform_.CloseLog();
          })
      .Do(kReleaseMover, [&] { Mover.reset(); })
      .Do(
          kRemoveTempFolder, [&] { platform_.RemoveFolder(temp_folder); },
          GuardedSteps::kEnd);

  // The report depends on the stage. What fails in here (a log that cannot
  // be written) leaves the shuffle for the startup sequence to report.
  steps.Run(kTestTempFolder, [&](const Failure& failure) {
    Text log_line, prompt;
    if (stage == kRenaming) {
      log_line = u"*** An error occurred renaming file: " + OldPath;
      prompt = u"An error occurred renaming file: \r\n" + OldPath;
    } else if (stage == kMoving) {
      log_line = u"*** An error occurred moving file: " + OldPath;
      prompt = u"An error occurred moving file: \r\n" + OldPath;
    } else {
      const Text number = DecimalText(failure.Number);
      log_line =
          u"*** An error occurred! " + number + u", " + failure.Description;
      prompt = u"An error occurred!\r\n\r\nNumber: " + number +
               u"\r\nDescription: " + failure.Description;
    }
    if (DebugLog) platform_.WriteLogLine(log_line);
    platform_.ShowStopBox(prompt, u"Error");
  });
}

}  // namespace shuffler
