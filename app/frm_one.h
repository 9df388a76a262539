// The run state and the three routines of a Shuffler run.
#pragma once

#include <cstdint>

#include "base/checked.h"
#include "music/music_folder.h"
#include "platform/platform.h"

namespace shuffler {

/// The one object of a run. The entry creates it and calls `RunStartup`
/// once; everything happens inside that call, which ends the process.
class frmOne {  // NOLINT(readability-identifier-naming): the run's name
 public:
  explicit frmOne(Platform& platform) : platform_(platform) {}

  // The run state, in this order.
  Counter16 FileCount;     ///< entries counted by the count pass
  Counter16 FileIndex;     ///< next slot of `FileNames` the collect pass fills
  Text AppFolder;          ///< the program's folder, no trailing separator
  NameList FileNames;      ///< the music folder's entries, slot 0 first
  bool DebugLog = false;   ///< "/DEBUG": the shuffle keeps the rename log
  bool DenumMode = false;  ///< "/DENUM": only remove old number prefixes
  /// "/UNIQUE": the k-th entry processed gets the number k, and the renamed
  /// entries are all moved out into "temp" before all are moved back.
  bool UniqueMode = false;
  /// The name the music folder lists its "temp" folder by, as found before
  /// the count pass: "temp", or where names ignore letter case the
  /// player's own "Temp". Empty when there is none. The scan skips it.
  Text TempFolderName;
  /// The name of the music folder in `AppFolder`: "mp3", or where letter
  /// case tells names apart and there is no "mp3", the one folder named so
  /// in other letter case (a game folder copied from Windows may hold "MP3").
  Text MusicFolderName = u"mp3";
  /// "/KEEPNAMES": before the shuffle renames an entry for the first time,
  /// its name is kept in the names file, for "/RESTORE".
  bool KeepNames = false;
  /// "/RESTORE": instead of the shuffle, the entries get their kept names
  /// back.
  bool RestoreMode = false;

  /// Reads the options, chooses the program to launch, counts and lists the
  /// music folder, shuffles it, launches the program and ends the process.
  /// Each step is guarded: a failure is shown in a box and the run goes on.
  void RunStartup();

  // The music folder's routines (music/music_folder.h), given this run's
  // state.
  void RecoverStrandedFiles();
  void ScanMusicFolder(int16_t Collect, Text& FolderList);
  void ShuffleMusicFolder();
  bool KeepOwnNames();
  void RestoreMusicFolder();

 private:
  /// The fields the music folder's routines read and write.
  MusicRun Music();

  /// Which entries "/KEEPNAMES" found to be files, slot by slot.
  std::vector<bool> known_files_;

  Platform& platform_;
};

}  // namespace shuffler
