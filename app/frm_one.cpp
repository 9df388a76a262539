#include "app/frm_one.h"

#include "app/launch.h"
#include "base/guard.h"
#include "base/text.h"

namespace shuffler {

namespace {

// Whether the option occurs anywhere in the argument text, in any case.
bool HasOption(Platform& platform, TextView option) {
  return InStr(1, UpperCase(platform.ArgumentText()), option) != 0;
}

}  // namespace

MusicRun frmOne::Music() {
  return MusicRun{AppFolder,      FileCount,       FileIndex, FileNames,
                  TempFolderName, MusicFolderName, DebugLog,  DenumMode,
                  UniqueMode,     &known_files_};
}

void frmOne::RecoverStrandedFiles() {
  MusicRun music = Music();
  shuffler::RecoverStrandedFiles(platform_, music);
}

void frmOne::ScanMusicFolder(int16_t Collect, Text& FolderList) {
  MusicRun music = Music();
  shuffler::ScanMusicFolder(platform_, music, Collect, FolderList);
}

void frmOne::ShuffleMusicFolder() {
  MusicRun music = Music();
  shuffler::ShuffleMusicFolder(platform_, music);
}

bool frmOne::KeepOwnNames() {
  MusicRun music = Music();
  return shuffler::KeepOwnNames(platform_, music);
}

void frmOne::RestoreMusicFolder() {
  MusicRun music = Music();
  shuffler::RestoreMusicFolder(platform_, music);
}

void frmOne::RunStartup() {
  Guard g([this](const Failure& failure) {
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
  LaunchTarget target;

  // Ends a run that goes no further than this: it changes nothing and
  // starts no game, but a run that wraps a command still hands over to it,
  // as the launcher waits for its game.
  const auto end_here = [&] {
    if (platform_.HasCommand()) g.Do([&] { platform_.RunCommand(); });
    g.Do([&] { platform_.EndProcess(); });
  };

  g.Do([&] { FileNames.Resize(1); });
  // Without its own folder, a run would take some other folder's music and
  // game for its own: the failure's box is all it does.
  if (!g.Do([&] { AppFolder = platform_.ProgramFolder(); })) return end_here();
  // A run that another Shuffler started as its game says so and starts
  // nothing: copies of Shuffler under both games' names would otherwise
  // start each other without end. The music was shuffled a moment ago.
  if (g.Test([&] { return platform_.StartedByItself(); })) {
    g.Do([&] { Raise(kStartsItself); });
    g.Do([&] { platform_.EndProcess(); });
    return;  // not reached
  }
  // One run at a time works on a game folder, and on a music folder, by
  // whatever path it is reached: game folders whose "mp3" links to one
  // music folder share it. A copy started while another works there
  // changes nothing and starts no game. Nothing before this changes
  // anything. The run's work in the music folder then follows no link out
  // of it.
  if (!g.Test([&] {
        if (!platform_.ClaimFolder(AppFolder, Claim::kOnly)) return false;
        MusicFolderName =
            platform_.FolderNameInAnyCase(AppFolder, MusicFolderName);
        return platform_.ClaimFolder(
            AppFolder + platform_.Separator() + MusicFolderName,
            Claim::kWorkInside);
      })) {
    return end_here();
  }
  // A wrapped command is the program to run: no game is looked for, and
  // "/LAUNCH" and "/NOLAUNCH" do not apply.
  if (!g.Test([&] { return platform_.HasCommand(); })) {
    ChooseLaunchTarget(g, platform_, AppFolder, target);
  }
  // A failing option test sets its flag: the run goes on inside the branch
  // taken when the test holds.
  if (g.Test([&] { return HasOption(platform_, u"/DEBUG"); })) {
    g.Do([&] { DebugLog = true; });
  }
  if (g.Test([&] { return HasOption(platform_, u"/DENUM"); })) {
    g.Do([&] { DenumMode = true; });
  }
  if (g.Test([&] { return HasOption(platform_, u"/UNIQUE"); })) {
    g.Do([&] { UniqueMode = true; });
  }
  if (g.Test([&] { return HasOption(platform_, u"/KEEPNAMES"); })) {
    g.Do([&] { KeepNames = true; });
  }
  if (g.Test([&] { return HasOption(platform_, u"/RESTORE"); })) {
    g.Do([&] { RestoreMode = true; });
  }
  g.Do([&] { FileCount = 0; });
  g.Do([&] { platform_.Randomize(); });
  // Before the count, so that what comes back is counted and shuffled.
  g.Do([&] { RecoverStrandedFiles(); });
  g.Do([&] {
    Text folders = MusicFolderOf(platform_, Music());
    ScanMusicFolder(0, folders);
  });
  if (g.Test([&] { return FileCount != 0; })) {
    g.Do([&] { FileNames.Resize(FileCount); });
    g.Do([&] { FileIndex = 0; });
    g.Do([&] {
      Text folders = MusicFolderOf(platform_, Music());
      ScanMusicFolder(1, folders);
    });
    if (RestoreMode) {
      g.Do([&] { RestoreMusicFolder(); });
    } else {
      // No entry is renamed before its own name is kept: a failure here,
      // even one whose report failed, leaves the shuffle out.
      bool names_kept = !KeepNames;
      if (KeepNames) g.Do([&] { names_kept = KeepOwnNames(); });
      if (names_kept) g.Do([&] { ShuffleMusicFolder(); });
    }
  }
  g.Do([&] { Launch(platform_, AppFolder, target); });
  g.Do([&] { platform_.EndProcess(); });
}

}  // namespace shuffler
