// The steps of the startup sequence, shared by the run state's routine and
// the launch-target steps it includes.
#pragma once

#include <cstdint>

#include "app/frm_one.h"
#include "app/guarded_steps.h"

namespace shuffler {

enum StartupStep : int {
  kResetFileNames,
  kFindAppFolder,
  kClaimAppFolder,
  // Choosing the program to launch.
  kTestCommand,
  kFindLaunchOption,
  kHasLaunchOption,
  kSkipSeparator,
  kIsQuoted,
  kStartAfterQuote,
  kFindClosingQuote,
  kClosingQuoteMissing,
  kEndQuotedAtTextEnd,
  kFindSpace,
  kSpaceMissing,
  kEndAtTextEnd,
  kCutExeName,
  kHasFirstGame,
  kChooseFirstGame,
  kHasSecondGame,
  kChooseSecondGame,
  kNoGameFound,
  kTestNoLaunch,
  kSetNoLaunch,
  // Options and the music folder.
  kTestDebug,
  kSetDebug,
  kTestDenum,
  kSetDenum,
  kTestUnique,
  kSetUnique,
  kResetFileCount,
  kSeedRandom,
  kRecoverStranded,
  kCountPass,
  kHasEntries,
  kSizeFileNames,
  kResetFileIndex,
  kCollectPass,
  kShuffle,
  // The end.
  kLaunch,
  kEndProcess,
};

/// The values that choose the program to launch, kept for one startup.
struct LaunchTarget {
  int64_t LaunchPos = 0;  ///< position of "/LAUNCH", 0 when absent
  int64_t StartPos = 0;   ///< first character of the name after it
  int64_t EndPos = 0;     ///< just after that name
  /// The program, relative to the program's folder; when that is no file,
  /// read as a program and its arguments.
  Text ExeName;
  bool NoLaunch = false;  ///< start nothing
  /// The name the last look for a game found it by, when that is not the
  /// program itself.
  Text FoundGame;
  /// The name a look for a game found the program itself by; empty when
  /// none did.
  Text OwnFile;
};

/// Adds the steps from `kTestCommand` to `kSetNoLaunch`, which go on with
/// `kTestDebug`. A run that wraps a command skips them all.
void AddLaunchTargetSteps(GuardedSteps& steps, Platform& platform,
                          const frmOne& form, LaunchTarget& target);

/// Adds `kLaunch`, which hands the process over to the wrapped command, or
/// else starts the chosen program in its own folder unless `NoLaunch`.
void AddLaunchStep(GuardedSteps& steps, Platform& platform, const frmOne& form,
                   const LaunchTarget& target);

}  // namespace shuffler
