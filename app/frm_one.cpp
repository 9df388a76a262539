#include "app/frm_one.h"

#include "app/startup_steps.h"
#include "app/text.h"

namespace shuffler {

namespace {

// Whether the option occurs anywhere in the argument text, in any case.
bool HasOption(Platform& platform, TextView option) {
  return InStr(1, UpperCase(platform.ArgumentText()), option) != 0;
}

}  // namespace

Text frmOne::InAppFolder(std::initializer_list<TextView> parts) const {
  Text path = AppFolder;
  for (TextView part : parts) {
    path += platform_.Separator();
    path += part;
  }
  return path;
}

Text frmOne::MusicFolder() const {
  return InAppFolder({MusicFolderName, u""});
}

void frmOne::RunStartup() {
  LaunchTarget target;
  GuardedSteps steps;
  steps.Do(kResetFileNames, [&] { FileNames.Resize(1); })
      .Do(kFindAppFolder, [&] { AppFolder = platform_.ProgramFolder(); })
      // One run at a time works on a game folder: a copy started while
      // another works there ends at once, without a box, a change or a start.
      // Nothing before this step changes anything.
      .If(
          kClaimAppFolder, [&] { return platform_.ClaimFolder(AppFolder); },
          kTestCommand, kEndProcess);
  AddLaunchTargetSteps(steps, platform_, *this, target);
  // A failing option test sets its flag: the run resumes inside the branch
  // taken when the test holds.
  steps
      .If(
          kTestDebug, [&] { return HasOption(platform_, u"/DEBUG"); },
          kSetDebug, kTestDenum)
      .Do(kSetDebug, [&] { DebugLog = true; })
      .If(
          kTestDenum, [&] { return HasOption(platform_, u"/DENUM"); },
          kSetDenum, kTestUnique)
      .Do(kSetDenum, [&] { DenumMode = true; })
      .If(
          kTestUnique, [&] { return HasOption(platform_, u"/UNIQUE"); },
          kSetUnique, kResetFileCount)
      .Do(kSetUnique, [&] { UniqueMode = true; })
      .Do(kResetFileCount, [&] { FileCount = 0; })
      .Do(kSeedRandom, [&] { platform_.Randomize(); })
      // Before the count, so that what comes back is counted and shuffled.
      .Do(kRecoverStranded,
          [&] {
            MusicFolderName =
                platform_.FolderNameInAnyCase(AppFolder, MusicFolderName);
            RecoverStrandedFiles();
          })
      .Do(kCountPass,
          [&] {
            Text folders = MusicFolder();
            ScanMusicFolder(0, folders);
          })
      .If(
          kHasEntries, [&] { return FileCount != 0; }, kSizeFileNames, kLaunch)
      .Do(kSizeFileNames, [&] { FileNames.Resize(FileCount); })
      .Do(kResetFileIndex, [&] { FileIndex = 0; })
      .Do(kCollectPass,
          [&] {
            Text folders = MusicFolder();
            ScanMusicFolder(1, folders);
          })
      .Do(kShuffle, [&] { ShuffleMusicFolder(); });
  AddLaunchStep(steps, platform_, *this, target);
  steps.Do(
      kEndProcess, [&] { platform_.EndProcess(); }, GuardedSteps::kEnd);

  steps.Run(kResetFileNames, [&](const Failure& failure) {
    try {
      platform_.ShowStopBox(u"An error occurred!\r\n\r\nError Number: " +
                                DecimalText(failure.Number) +
                                u"\r\nDescription: " + failure.Description,
                            Text());
    } catch (const Failure&) {
      // This box is the last place a failure can be reported. When even it
      // cannot be shown, the run goes on as after any report: crashing here
      // would skip the launch and the orderly end.
    }
  });
}

}  // namespace shuffler
