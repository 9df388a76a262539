// The music folder's routines: the count and collect passes that list it,
// the recovery of what a stopped run left in "temp", and the shuffle.
#pragma once

#include <cstdint>
#include <vector>

#include "base/checked.h"
#include "platform/platform.h"

namespace shuffler {

/// What the music folder's routines read and write. The run state owns these
/// fields and hands them over for the length of a call.
struct MusicRun {
  const Text& AppFolder;  ///< the program's folder, no trailing separator
  Counter16& FileCount;   ///< entries counted by the count pass
  Counter16& FileIndex;   ///< next slot of `FileNames` the collect pass fills
  NameList& FileNames;    ///< the music folder's entries, slot 0 first
  /// The name the music folder lists its "temp" folder by, as found before
  /// the count pass: "temp", or where names ignore letter case the player's
  /// own "Temp". Empty when there is none. The scan skips it.
  Text& TempFolderName;
  /// The name of the music folder in `AppFolder`: "mp3", or the one folder
  /// named so in other letter case.
  const Text& MusicFolderName;
  bool DebugLog = false;    ///< "/DEBUG": keep the rename log
  bool DenumMode = false;   ///< "/DENUM": only remove old number prefixes
  bool UniqueMode = false;  ///< "/UNIQUE": the k-th entry gets the number k
  /// For each slot of `FileNames`, whether "/KEEPNAMES" found the entry a
  /// file; empty when it looked at none. The shuffle's moves then need no
  /// look of their own.
  std::vector<bool>* known_files = nullptr;
};

/// The music folder: `AppFolder`, the separator, `MusicFolderName`, the
/// separator.
Text MusicFolderOf(const Platform& platform, const MusicRun& run);

/// Lists the entries of every folder in `FolderList` (folders that end in the
/// separator, each followed by a NUL). `Collect` 0 counts them into
/// `FileCount`; any other value stores them in `FileNames` from slot
/// `FileIndex` on. Consumes `FolderList`. Has no failure handler: the first
/// failure ends the scan and reaches the caller.
void ScanMusicFolder(Platform& platform, MusicRun& run, int16_t Collect,
                     Text& FolderList);

/// Brings back into the music folder the files that a stopped run left in the
/// "temp" folder it had marked as its own; a file whose name is taken stays
/// there and is reported. A "temp" folder without the mark is left alone.
/// Sets `TempFolderName`.
void RecoverStrandedFiles(Platform& platform, MusicRun& run);

/// Visits every listed entry once in random order: renames it to a new number
/// prefix and its bare name (or only the bare name in de-number mode) and
/// moves it out into the "temp" folder and straight back. With `UniqueMode`,
/// the k-th entry gets the number k, and every renamed entry is moved out
/// before the first comes back, in the same order. A folder that refuses every
/// change, or a full disk, is said once and the entries are left as they are;
/// with `UniqueMode` every entry moved out comes back, however the shuffle
/// ends short of the process being killed.
/// Needs `FileCount` >= 1 and `FileNames` holding that many slots.
void ShuffleMusicFolder(Platform& platform, MusicRun& run);

/// "/KEEPNAMES": records in the names file, next to the log, the name of
/// every listed entry that has no record yet, before the shuffle renames
/// anything. False, after one box that names the file and says what to do,
/// when the file cannot be read or brought up to date: the shuffle must
/// then rename nothing.
bool KeepOwnNames(Platform& platform, MusicRun& run);

/// "/RESTORE": instead of the shuffle, every listed entry that has a record
/// in the names file gets its own name back, and the files are re-created
/// in the order of those names. A name that is taken is never replaced: the
/// entry keeps its name, and its renaming box says so. The names file is
/// left as it is.
/// Needs `FileCount` >= 1 and `FileNames` holding that many slots.
void RestoreMusicFolder(Platform& platform, MusicRun& run);

}  // namespace shuffler
