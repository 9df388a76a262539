// Choosing the program to start when the shuffle is done, and starting it.
#pragma once

#include <cstdint>

#include "base/guard.h"
#include "platform/platform.h"

namespace shuffler {

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

/// The startup's steps that choose the program to launch: the name after
/// "/LAUNCH", else the first of the two games found next to the program,
/// else nothing; and "/NOLAUNCH". Each runs through the startup's guard.
void ChooseLaunchTarget(Guard& g, Platform& platform, const Text& app_folder,
                        LaunchTarget& target);

/// Hands the process over to the wrapped command, or else starts the chosen
/// program in its own folder unless `NoLaunch`. The name is always taken
/// relative to the program's folder.
void Launch(Platform& platform, const Text& app_folder,
            const LaunchTarget& target);

}  // namespace shuffler
