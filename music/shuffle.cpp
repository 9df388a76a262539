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

#include "base/guard.h"
#include "base/text.h"
#include "music/music_folder.h"
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

// Which part of an entry's processing is running, for the failure report.
enum class EntryStage { kRenaming, kMoving, kAfterMoves };

// The paths the shuffle and the recovery work with.
struct Places {
  Places(const Platform& platform, const MusicRun& run)
      : music(MusicFolderOf(platform, run)),
        temp_folder(music + u"temp"),
        into_temp(temp_folder + platform.Separator()),
        own_mark(into_temp + Text(kOwnMark)) {}

  const Text music;        // the music folder, with its separator
  const Text temp_folder;  // "temp", as it is tested, made and removed
  const Text into_temp;    // "temp" with its separator, as moves name it
  const Text own_mark;     // the mark inside "temp"
};

// A whole number from 0 to count - 1. The product is floored in double
// precision, so it stays below `count` for every value below 1.
int64_t Draw(int64_t count, float random) {
  return static_cast<int64_t>(std::floor(static_cast<double>(count) * random));
}

// The shuffle's report of `failure` in `stage` about the entry at
// `old_path`: a log line when `log` is set, then a box.
void Report(Platform& platform, bool log, EntryStage stage,
            const Text& old_path, const Failure& failure) {
  Text log_line, prompt;
  if (stage == EntryStage::kRenaming) {
    log_line = u"*** An error occurred renaming file: " + old_path;
    prompt = u"An error occurred renaming file: \r\n" + old_path;
  } else if (stage == EntryStage::kMoving) {
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

// The mover, or the failure of a mover that could not be made.
FileMover& MoverOf(const std::unique_ptr<FileMover>& Mover) {
  if (!Mover) Raise(kObjectNotSet);
  return *Mover;
}

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

bool IsDotOrDotDot(const Text& name) {
  return name == u"." || name == u"..";
}

// What the recovery and the shuffle share: the paths, the failure handler
// with the stage and the entry it reports about, the mover, and the first
// change that the music folder refused as a whole.
struct FolderWork {
  FolderWork(Platform& platform_in, MusicRun& run_in, bool log)
      : platform(platform_in),
        run(run_in),
        places(platform, run),
        g([this, log](const Failure& failure) {
          Report(platform, log, Stage, OldPath, failure);
        }) {}

  // A change that the music folder may refuse as a whole: runs `change` as
  // one step and returns whether it was made. A "Permission denied" while
  // `whole_folder` says that it is the folder's answer to every change is
  // not reported here: it is kept as `refusal`, and the caller says it.
  // Any other failure is reported as usual.
  template <typename Change>
  bool TryChange(bool whole_folder, Change&& change) {
    bool made = false;
    g.Do([&] {
      try {
        change();
        made = true;
      } catch (const Failure& failure) {
        if (!whole_folder || failure.Number != kPermissionDenied) throw;
        refused = true;
        refusal = failure;
      }
    });
    return made;
  }

  Platform& platform;
  MusicRun& run;
  const Places places;

  EntryStage Stage = EntryStage::kAfterMoves;
  Text OldPath;
  std::unique_ptr<FileMover> Mover;
  Guard g;

  bool refused = false;
  Failure refusal;
};

// One shuffle, in phases that share the design's variables (PascalCase) and
// our own (snake_case).
struct Shuffle : FolderWork {
  Shuffle(Platform& platform_in, MusicRun& run_in)
      : FolderWork(platform_in, run_in, run_in.DebugLog),
        FileCount(run.FileCount),
        FileNames(run.FileNames),
        processed(static_cast<size_t>(FileCount), false) {
    Stage = EntryStage::kRenaming;
  }

  void PrepareTemp();
  void Start();
  void EveryEntry();
  bool OneEntry();
  void NameEntry();
  bool RenameEntry();
  void MoveOutAndBack(bool renamed);
  void BringBack();
  void Finish();
  void SayRefusal();

  const Counter16 FileCount;
  NameList& FileNames;
  Counter16 Done;
  int Digits = 0;
  int64_t Pick = 0;
  // Rebuilt in place for every entry, reusing their storage.
  Text NumberText, BareName, NewPath, TempName;

  Text temp_path;  // `TempName` in "temp"
  // "temp" carries the mark: what this run leaves in it comes back.
  bool marked = false;
  // "/UNIQUE" in a marked "temp": every entry is moved out before the first
  // comes back.
  bool all_out = false;
  // Whether a change to the music folder has been made yet ("temp" made,
  // an entry renamed or moved out). Until one has, a refusal is the
  // folder's answer to every change (a read-only medium, no right to
  // write): it is said once, and nothing more is tried. After one, a
  // refusal is the one entry's, and is reported as its failure.
  bool changed = false;
  // Which slots are processed. The marker alone cannot tell: an entry may
  // really be named like it, and would then never be processed.
  std::vector<bool> processed;
  // "/UNIQUE": the entries moved out, as their old path and their name in
  // "temp", in order.
  struct MovedOut {
    Text old_path, temp_name;
  };
  std::vector<MovedOut> moved_out;
};

// Makes "temp" and marks it, or marks an empty one that is there already.
void Shuffle::PrepareTemp() {
  if (g.Test([&] {
        return platform.FindEntry(places.temp_folder, ListMask::kWithFolders)
            .empty();
      })) {
    // Made by this run: a refusal is the folder's answer to every change.
    if (TryChange(true, [&] { platform.MakeFolder(places.temp_folder); })) {
      changed = true;
      marked = g.Do([&] { platform.MakeFolder(places.own_mark); });
    }
    return;
  }
  // A "temp" left by a stopped run still carries the mark; the recovery
  // has brought back what it held.
  g.Do([&] {
    marked =
        !platform.FindEntry(places.own_mark, ListMask::kWithFolders).empty();
  });
  if (marked) return;
  // An empty "temp" holds nothing of anyone's (a run stopped right after
  // making it leaves one): it is marked, so that what this run leaves in it
  // is brought back too. A mark that cannot be made for want of the right
  // to is the first refused change. A mark in the player's "temp" changes
  // nothing in the music folder itself, which may still refuse its first
  // change.
  bool folder = false, empty = true;
  const bool listed = g.Do([&] {
    ListTemp(platform, places, true, [&](const Text& name) {
      empty = IsDotOrDotDot(name);
      folder = folder || empty;
      return empty;
    });
  });
  if (listed && folder && empty) {
    marked = TryChange(true, [&] { platform.MakeFolder(places.own_mark); });
  }
}

// The mover, the count of entries done, the prefix width and the log.
void Shuffle::Start() {
  if (!refused) g.Do([&] { Mover = platform.CreateFileMover(); });
  Done = 0;
  // Only what a marked "temp" holds comes back after a stopped run.
  all_out = run.UniqueMode && marked;
  Digits = DecimalDigits(FileCount);
  if (run.DebugLog) {
    g.Do([&] {
      platform.OpenLog(run.AppFolder + platform.Separator() + u"Shuffler.log");
    });
  }
}

// Every entry once, in random order; or, when the folder refused its first
// change, that refusal said once, and no entry touched.
void Shuffle::EveryEntry() {
  if (refused) return SayRefusal();
  while (g.Test([&] { return Done < FileCount; })) {
    if (!OneEntry()) return;
  }
}

// Draws an entry and, when it is not done yet, processes it. False when the
// music folder refused its first change: nothing more is tried.
bool Shuffle::OneEntry() {
  g.Do([&] { Pick = Draw(FileCount, platform.NextRandom()); });
  if (!g.Test([&] { return !processed.at(static_cast<size_t>(Pick)); })) {
    return true;  // drawn before: draw again
  }
  Stage = EntryStage::kRenaming;
  NameEntry();
  const bool renamed = RenameEntry();
  Stage = EntryStage::kMoving;
  MoveOutAndBack(renamed);
  if (refused) {
    SayRefusal();  // nothing was moved out, and nothing more is tried
    return false;
  }
  Stage = EntryStage::kAfterMoves;
  g.Do([&] { Done.Add(1); });
  g.Do([&] {
    processed.at(static_cast<size_t>(Pick)) = true;
    FileNames[Pick] = kMarker;
  });
  return true;
}

// The picked entry's number, bare name, old and new paths, and its line in
// the log.
void Shuffle::NameEntry() {
  // Drawn independently for every entry: two entries may get the same
  // number. With "/UNIQUE", the entry's place in the order instead.
  g.Do([&] {
    const int64_t number = run.UniqueMode
                               ? int64_t{Done} + 1
                               : Draw(FileCount, platform.NextRandom()) + 1;
    NumberText = ZeroPadded(number, Digits);
  });
  g.Do([&] { BareName = shuffler::BareName(FileNames[Pick]); });
  // Each path is reserved before it is rebuilt: running out of memory then
  // leaves it as it was, for the failure report.
  g.Do([&] {
    const Text& name = FileNames[Pick];
    OldPath.reserve(places.music.size() + name.size());
    OldPath.assign(places.music).append(name);
  });
  g.Do([&] {
    if (run.DenumMode) {
      TempName = BareName;
    } else {
      TempName.reserve(NumberText.size() + 1 + BareName.size());
      TempName.assign(NumberText).append(u"-").append(BareName);
    }
    NewPath.reserve(places.music.size() + TempName.size());
    NewPath.assign(places.music).append(TempName);
  });
  if (run.DebugLog) {
    g.Do([&] {
      platform.WriteLogLine(u"Renamed \"" + OldPath + u"\" to \"" + NewPath +
                            u"\"");
    });
  }
}

// Renames the picked entry; returns whether it was renamed.
bool Shuffle::RenameEntry() {
  // With "/UNIQUE" and "/DENUM", an entry moved out earlier may hold the
  // bare name in "temp": the rename fails as if the name were taken in the
  // music folder, where that entry would be otherwise, and the entry keeps
  // its name. (Numbered names never meet there.)
  const bool name_free = g.Do([&] {
    if (all_out && run.DenumMode &&
        !platform
             .FindEntry(places.into_temp + TempName,
                        ListMask::kWithFoldersAndDotNames)
             .empty()) {
      Raise(kFileAlreadyExists);
    }
  });
  if (!name_free) return false;
  if (!TryChange(!changed, [&] { platform.RenameEntry(OldPath, NewPath); })) {
    return false;
  }
  // A new name equal to the old one changes nothing.
  changed = changed || OldPath != NewPath;
  return true;
}

// Out and straight back: the entry is re-created in the music folder now,
// after every entry processed before it. With "/UNIQUE" in a marked "temp"
// only out, and only an entry that was renamed: a failure touches no other.
void Shuffle::MoveOutAndBack(bool renamed) {
  if (refused || (all_out && !renamed)) return;
  if (!TryChange(!changed,
                 [&] { MoverOf(Mover).Move(NewPath, places.into_temp); })) {
    if (refused || all_out) return;
  } else {
    changed = true;
    if (all_out) {
      g.Do([&] { moved_out.push_back({OldPath, TempName}); });
      return;
    }
  }
  g.Do([&] {
    FileMover& back = MoverOf(Mover);
    temp_path.assign(places.into_temp).append(TempName);
    back.Move(temp_path, places.music);
  });
}

// "/UNIQUE": every entry moved out comes back, in the same order.
void Shuffle::BringBack() {
  Stage = EntryStage::kMoving;
  for (const MovedOut& entry : moved_out) {
    g.Do([&] {
      OldPath = entry.old_path;
      temp_path.assign(places.into_temp).append(entry.temp_name);
    });
    g.Do([&] { MoverOf(Mover).Move(temp_path, places.music); });
  }
  Stage = EntryStage::kAfterMoves;
}

// Closes the log and releases the mover; removes the mark and "temp".
void Shuffle::Finish() {
  if (run.DebugLog) g.Do([&] { platform.CloseLog(); });
  Mover.reset();
  // The mark goes only when nothing else is left in "temp": what could not
  // come back stays in a marked folder, and a later run tries again.
  bool only_mark_left = true;
  if (marked && g.Do([&] {
        ListTemp(platform, places, true, [&](const Text& name) {
          only_mark_left = IsDotOrDotDot(name) || name == kOwnMark;
          return only_mark_left;
        });
      }) &&
      only_mark_left) {
    g.Do([&] { platform.RemoveFolder(places.own_mark); });
  }
  if (!refused) g.Do([&] { platform.RemoveFolder(places.temp_folder); });
}

// The music folder refused its first change: said once, as a failure of
// the whole shuffle.
void Shuffle::SayRefusal() {
  Stage = EntryStage::kAfterMoves;
  g.Report(refusal);
}

// The recovery: what a stopped run left in its marked "temp" comes back.
struct Recovery : FolderWork {
  Recovery(Platform& platform_in, MusicRun& run_in)
      : FolderWork(platform_in, run_in, false) {}

  void Run();
};

void Recovery::Run() {
  g.Do([&] {
    run.TempFolderName =
        platform.FindEntry(places.temp_folder, ListMask::kWithFolders);
  });
  if (run.TempFolderName.empty()) return;
  bool own = false;
  g.Do([&] {
    own = !platform.FindEntry(places.own_mark, ListMask::kWithFolders).empty();
  });
  if (!own) return;
  std::vector<Text> stranded;
  g.Do([&] {
    ListTemp(platform, places, false, [&](const Text& name) {
      stranded.push_back(name);
      return true;
    });
  });
  if (stranded.empty()) return;
  g.Do([&] { Mover = platform.CreateFileMover(); });
  // Never onto an entry of the music folder: a file whose name is taken
  // there stays in "temp", and is reported. Every file in a marked "temp"
  // was moved there by a run from this music folder, so a refusal to move
  // one back is the medium's or the folder's, and every other would be
  // refused alike: it is reported as the file that stays, and no other is
  // tried.
  Stage = EntryStage::kMoving;
  for (const Text& name : stranded) {
    g.Do([&] { OldPath = places.into_temp + name; });
    if (!TryChange(true, [&] { MoverOf(Mover).Move(OldPath, places.music); }) &&
        refused) {
      g.Report(refusal);
      break;
    }
  }
  Stage = EntryStage::kAfterMoves;
  Mover.reset();
}

}  // namespace

void RecoverStrandedFiles(Platform& platform, MusicRun& run) {
  Recovery(platform, run).Run();
}

void ShuffleMusicFolder(Platform& platform, MusicRun& run) {
  Shuffle shuffle(platform, run);
  shuffle.PrepareTemp();
  shuffle.Start();
  shuffle.EveryEntry();
  shuffle.BringBack();
  shuffle.Finish();
}

}  // namespace shuffler
