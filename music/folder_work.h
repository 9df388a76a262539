// What the music folder's routines that change it share: the shuffle, the
// restore of the player's own names, and the recovery of what a stopped run
// left in "temp". For their own files only.
//
// While a shuffle or a restore works, a "temp" folder it made itself holds a
// mark, a sub-folder of its own: a run that is stopped between an entry's
// two moves leaves the entry in a marked "temp", and the next run brings it
// back before it lists the music folder. A "temp" folder without the mark is
// the player's own: it is used as it is, and nothing is ever taken out of
// it; only an empty one is marked while the work uses it. Everything in a
// "temp" is looked at, names that begin with "." included: "/DENUM" may
// give an entry such a name, which Linux listings hide.
#pragma once

#include <memory>
#include <new>
#include <vector>

#include "base/guard.h"
#include "base/text.h"
#include "music/music_folder.h"

namespace shuffler {

// Which part of an entry's processing is running, for the failure report.
enum class EntryStage { kRenaming, kMoving, kAfterMoves };

// The paths the music folder's routines work with.
struct Places {
  Places(const Platform& platform, const MusicRun& run);

  const Text music;        // the music folder, with its separator
  const Text temp_folder;  // "temp", as it is tested, made and removed
  const Text into_temp;    // "temp" with its separator, as moves name it
  const Text own_mark;     // the mark inside "temp"
};

// The mover, or the failure of a mover that could not be made.
FileMover& MoverOf(const std::unique_ptr<FileMover>& Mover);

bool IsDotOrDotDot(const Text& name);

// What "temp" holds: lists it, names that begin with "." included, and
// hands each name to `visit` until `visit` returns false. With `folders`,
// sub-folders and the "." and ".." of a folder are listed too; a file
// named "temp" lists nothing.
template <typename Visit>
void ListTemp(Platform& platform, const Places& places, bool folders,
              Visit&& visit) {
  const ListMask mask = folders ? ListMask::kWithFoldersAndDotNames
                                : ListMask::kNormalFilesAndDotNames;
  for (Text name = platform.ListFirst(places.into_temp + u"*.*", mask);
       !name.empty(); name = platform.ListNext()) {
    if (!visit(name)) return;
  }
}

// What a change to the music folder came to.
enum class Change { kMade, kFailed, kRefused };

// What the recovery, the shuffle and the restore share: the paths, the
// failure handler with the stage and the entry it reports about, the mover,
// and the last change that the music folder refused as a whole.
struct FolderWork {
  FolderWork(Platform& platform_in, MusicRun& run_in, bool log);

  // A change that the music folder may refuse as a whole, run as one step.
  // A full disk refuses every change that needs room, and "Permission
  // denied" is the folder's answer to every change while `whole_folder`
  // says so: such a refusal is not reported here but kept as `refusal`,
  // for the caller to say once. Any other failure is reported as usual.
  template <typename Action>
  Change TryChange(bool whole_folder, Action&& change) {
    Change outcome = Change::kFailed;
    g.Do([&] {
      try {
        change();
        outcome = Change::kMade;
      } catch (const Failure& failure) {
        if (failure.Number != kDiskFull &&
            (!whole_folder || failure.Number != kPermissionDenied)) {
          throw;
        }
        refusal = failure;
        outcome = Change::kRefused;
      }
    });
    return outcome;
  }

  // With "/DEBUG", the log line of the entry at `OldPath` renamed to
  // `new_path`, written before the rename.
  void LogRename(const Text& new_path);

  Platform& platform;
  MusicRun& run;
  const Places places;

  EntryStage Stage = EntryStage::kAfterMoves;
  Text OldPath;
  std::unique_ptr<FileMover> Mover;
  Guard g;

  Failure refusal;
  // Failures are shown without the log, and a box that cannot be shown is
  // passed over: for the work that must be done after the report of a
  // failure has failed.
  bool quiet = false;
};

// Work that moves the music folder's entries out into "temp" and back:
// the shuffle and the restore. In a marked "temp" every entry may be moved
// out before the first comes back; whatever ends the work short of the
// process being killed, every entry moved out comes back.
struct ThroughTemp : FolderWork {
  using FolderWork::FolderWork;

  // Makes "temp" and marks it, or marks an empty one that is there already.
  void PrepareTemp();
  // The mover and the log; `out_first` asks for every entry to be moved out
  // before the first comes back, which only a marked "temp" allows.
  void Open(bool out_first, size_t count);
  // Moves the file `source`, named `name`, out into "temp", as the entry
  // at `OldPath`: it comes back as `back_name` (empty: as `name`) with the
  // next `BringBack`, which follows at once unless every entry goes out
  // first. Then it is tried even when the move out failed, and reports its
  // own failure. A refused move leaves the entry where it is.
  // A `known` file was found a file by `FactsOf`: its moves look no more.
  Change MoveOut(bool whole_folder, const Text& source, const Text& name,
                 const Text& back_name, bool known = false);
  // Every entry moved out and not yet back comes back, in the same order.
  void BringBack();
  // Moves the entry at `temp_path` back as `name`, a renaming that is
  // reported as one. False when it failed.
  bool BackAs(const Text& name, bool known);
  // Moves `source` to `destination`, without a look when it is `known`.
  void MoveEntry(const Text& source, const Text& destination, bool known) {
    FileMover& mover = MoverOf(Mover);
    known ? mover.MoveKnownFile(source, destination)
          : mover.Move(source, destination);
  }
  // Closes the log and releases the mover; removes the mark and "temp".
  void Finish();
  // The music folder's refusal, said once, as a failure of the whole work.
  void SayRefusal();
  // The first entry that changes shows that the folder takes changes.
  virtual void EntryChanged() { changed = true; }
  virtual ~ThroughTemp() = default;

  // The work's phases, run so that a failing report (a log that cannot be
  // written) still brings back what was moved out before it leaves.
  template <typename Phases>
  void RunPhases(Phases&& phases) {
    const auto bring_back_and_leave = [&] {
      quiet = true;
      BringBack();
      throw;
    };
    try {
      phases();
    } catch (const Failure&) {
      bring_back_and_leave();
    } catch (const std::bad_alloc&) {
      bring_back_and_leave();
    }
  }

  Text temp_path;  // an entry's path in "temp"
  // "temp" was made by this run, and carries the mark: what this run leaves
  // in it comes back.
  bool made_temp = false, marked = false;
  // Every entry is moved out before the first comes back.
  bool all_out = false;
  // "temp" or its mark was refused: no entry is tried.
  bool temp_refused = false;
  // The folder's refusal has been said.
  bool refusal_said = false;
  // Whether an entry of the music folder has changed yet (renamed, or
  // moved out).
  bool changed = false;
  // The entries moved out, as their old path, their name in "temp" and the
  // name they come back as, in order, and the next to come back.
  struct MovedOut {
    Text old_path, temp_name, back_name;
    bool known = false;
  };
  std::vector<MovedOut> moved_out;
  size_t next_back = 0;
};

}  // namespace shuffler
