// The run state and the three routines of a Shuffler run.
#pragma once

#include <cstdint>

#include "app/run_types.h"
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

  /// Reads the options, chooses the program to launch, counts and lists the
  /// music folder, shuffles it, launches the program and ends the process.
  /// Each step is guarded: a failure is shown in a box and the run goes on.
  void RunStartup();

  /// Brings back into the music folder the files that a stopped run left
  /// in the "temp" folder it had marked as its own; a file whose name is
  /// taken stays there and is reported. A "temp" folder without the mark
  /// is left alone. Sets `TempFolderName`.
  void RecoverStrandedFiles();

  /// Lists the entries of every folder in `FolderList` (folders that end in
  /// the separator, each followed by a NUL). `Collect` 0 counts them into
  /// `FileCount`; any other value stores them in `FileNames` from slot
  /// `FileIndex` on. Consumes `FolderList`. Has no failure handler: the
  /// first failure ends the scan and reaches the caller.
  void ScanMusicFolder(int16_t Collect, Text& FolderList);

  /// Visits every listed entry once in random order: renames it to a new
  /// number prefix and its bare name (or only the bare name in de-number
  /// mode) and moves it out into the "temp" folder and straight back.
  /// With `UniqueMode`, the k-th entry gets the number k, and every renamed
  /// entry is moved out before the first comes back, in the same order.
  /// When "temp" cannot be made for want of the right to, says so once and
  /// leaves the entries as they are.
  /// Needs `FileCount` >= 1 and `FileNames` holding that many slots.
  void ShuffleMusicFolder();

  /// The music folder: `AppFolder`, the separator, `MusicFolderName`, the
  /// separator.
  Text MusicFolder() const;

 private:
  /// `AppFolder` followed by each part with a separator before it.
  Text InAppFolder(std::initializer_list<TextView> parts) const;

  Platform& platform_;
};

}  // namespace shuffler
