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
// A music folder that refuses every change (a read-only medium, no right to
// change it, a folder that only takes new entries) says "Permission
// denied" to each: that is said once, and the entries are left as they
// are, instead of three boxes for every entry. One song that refuses (a
// file another program holds) holds up no other: it gets its own boxes. A
// full disk ("Disk full") takes no change that needs room: said once, and
// what is left is left as it is. With "/UNIQUE", whatever ends the shuffle,
// every entry it moved out is back before the game starts.
#include <cmath>
#include <new>
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

// What a change to the music folder came to.
enum class Change { kMade, kFailed, kRefused };

// What the recovery and the shuffle share: the paths, the failure handler
// with the stage and the entry it reports about, the mover, and the last
// change that the music folder refused as a whole.
struct FolderWork {
  FolderWork(Platform& platform_in, MusicRun& run_in, bool log)
      : platform(platform_in),
        run(run_in),
        places(platform, run),
        g([this, log](const Failure& failure) {
          if (!quiet) return Report(platform, log, Stage, OldPath, failure);
          try {
            Report(platform, false, Stage, OldPath, failure);
          } catch (const Failure&) {
            // Nothing is left to show it with: the work goes on.
          }
        }) {}

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
  Change RenameEntry();
  Change MoveOutAndBack(bool renamed);
  bool SetAside();
  void EntryChanged();
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
  // "temp" was made by this run, and carries the mark: what this run leaves
  // in it comes back.
  bool made_temp = false, marked = false;
  // "/UNIQUE" in a marked "temp": every entry is moved out before the first
  // comes back.
  bool all_out = false;
  // "temp" or its mark was refused: no entry is tried.
  bool temp_refused = false;
  // The folder's refusal has been said.
  bool refusal_said = false;
  // Whether an entry of the music folder has changed yet (renamed, or
  // moved out). Until one has, a refused change may be the folder's answer
  // to every change (a read-only medium, no right to write, a folder that
  // only takes new entries) or one entry's (a file that may not be
  // renamed, or that another program holds): the entry is set aside, and
  // the next one tried. Once one has changed, the entries set aside are
  // tried again, and each refusal is that one entry's, reported as its
  // failure. When none changes, the refusal is said once.
  bool changed = false;
  std::vector<int64_t> set_aside;
  // Which slots are processed or set aside. The marker alone cannot tell:
  // an entry may really be named like it, and would then never be
  // processed.
  std::vector<bool> processed;
  // "/UNIQUE": the entries moved out, as their old path and their name in
  // "temp", in order, and the next to come back.
  struct MovedOut {
    Text old_path, temp_name;
  };
  std::vector<MovedOut> moved_out;
  size_t next_back = 0;
};

// Makes "temp" and marks it, or marks an empty one that is there already.
// "temp", or its mark, refused is the folder's answer to every change.
void Shuffle::PrepareTemp() {
  if (g.Test([&] {
        return platform.FindEntry(places.temp_folder, ListMask::kWithFolders)
            .empty();
      })) {
    Change made =
        TryChange(true, [&] { platform.MakeFolder(places.temp_folder); });
    made_temp = made == Change::kMade;
    if (made_temp) {
      made = TryChange(true, [&] { platform.MakeFolder(places.own_mark); });
      marked = made == Change::kMade;
    }
    temp_refused = made == Change::kRefused;
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
  // is brought back too. Names that begin with "." are the player's too.
  bool folder = false, empty = true;
  const bool listed = g.Do([&] {
    ListTemp(platform, places, true, [&](const Text& name) {
      empty = IsDotOrDotDot(name);
      folder = folder || empty;
      return empty;
    });
  });
  if (listed && folder && empty) {
    const Change made =
        TryChange(true, [&] { platform.MakeFolder(places.own_mark); });
    marked = made == Change::kMade;
    temp_refused = made == Change::kRefused;
  }
}

// The mover, the count of entries done, the prefix width and the log.
void Shuffle::Start() {
  if (!temp_refused) g.Do([&] { Mover = platform.CreateFileMover(); });
  Done = 0;
  // Only what a marked "temp" holds comes back after a stopped run.
  all_out = run.UniqueMode && marked;
  // Reserved now, so that an entry moved out is always noted.
  if (all_out) g.Do([&] { moved_out.reserve(static_cast<size_t>(FileCount)); });
  Digits = DecimalDigits(FileCount);
  if (run.DebugLog) {
    g.Do([&] {
      platform.OpenLog(run.AppFolder + platform.Separator() + u"Shuffler.log");
    });
  }
}

// Every entry once, in random order, each set aside counted with those done;
// or, when "temp" was refused, that refusal said once, and no entry tried.
void Shuffle::EveryEntry() {
  if (temp_refused) return SayRefusal();
  while (g.Test([&] {
    return Done + static_cast<int64_t>(set_aside.size()) < FileCount;
  })) {
    if (!OneEntry()) return;
  }
  // Every entry tried was refused, and none changed.
  if (!set_aside.empty()) SayRefusal();
}

// Draws an entry and, when it is not done yet, processes it. False when
// nothing more is tried.
bool Shuffle::OneEntry() {
  g.Do([&] { Pick = Draw(FileCount, platform.NextRandom()); });
  if (!g.Test([&] { return !processed.at(static_cast<size_t>(Pick)); })) {
    return true;  // drawn before: draw again
  }
  Stage = EntryStage::kRenaming;
  NameEntry();
  const Change renamed = RenameEntry();
  if (renamed == Change::kRefused) return SetAside();
  Stage = EntryStage::kMoving;
  if (MoveOutAndBack(renamed == Change::kMade) == Change::kRefused) {
    return SetAside();
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

// Renames the picked entry.
Change Shuffle::RenameEntry() {
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
  if (!name_free) return Change::kFailed;
  const Change renamed =
      TryChange(!changed, [&] { platform.RenameEntry(OldPath, NewPath); });
  // A new name equal to the old one changes nothing.
  if (renamed == Change::kMade && OldPath != NewPath) EntryChanged();
  return renamed;
}

// Out and straight back: the entry is re-created in the music folder now,
// after every entry processed before it. With "/UNIQUE" in a marked "temp"
// only out, and only an entry that was renamed: a failure touches no other.
Change Shuffle::MoveOutAndBack(bool renamed) {
  if (all_out && !renamed) return Change::kFailed;
  const Change out = TryChange(
      !changed, [&] { MoverOf(Mover).Move(NewPath, places.into_temp); });
  if (out == Change::kMade) {
    EntryChanged();
    if (all_out) g.Do([&] { moved_out.push_back({OldPath, TempName}); });
  }
  if (out == Change::kRefused || all_out) return out;
  g.Do([&] {
    FileMover& back = MoverOf(Mover);
    temp_path.assign(places.into_temp).append(TempName);
    back.Move(temp_path, places.music);
  });
  return out;
}

// The picked entry was refused. A full disk takes no more changes: that is
// said once, and the entries left are left as they are. Otherwise the entry
// waits until another changes. False when nothing more is tried.
bool Shuffle::SetAside() {
  if (refusal.Number == kDiskFull) {
    SayRefusal();
    return false;
  }
  processed.at(static_cast<size_t>(Pick)) = true;
  set_aside.push_back(Pick);
  return true;
}

// The first entry that changes shows that the folder takes changes: the
// entries set aside until then are tried again.
void Shuffle::EntryChanged() {
  if (changed) return;
  changed = true;
  for (const int64_t slot : set_aside) {
    processed.at(static_cast<size_t>(slot)) = false;
  }
  set_aside.clear();
}

// "/UNIQUE": every entry moved out comes back, in the same order.
void Shuffle::BringBack() {
  Stage = EntryStage::kMoving;
  while (next_back < moved_out.size()) {
    const MovedOut& entry = moved_out[next_back++];
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
  // The mark goes only when nothing else is left in "temp", names that
  // begin with "." included: what could not come back stays in a marked
  // folder, and a later run tries again.
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
  // Where the folder refused every change, a "temp" that was there before
  // is left as it is, and its refusal to remove one that this run made is
  // the refusal said already.
  const auto remove = [&] { platform.RemoveFolder(places.temp_folder); };
  if (refusal_said && !changed) {
    if (made_temp) TryChange(true, remove);
    return;
  }
  g.Do(remove);
}

// The music folder's refusal, said once, as a failure of the whole shuffle.
void Shuffle::SayRefusal() {
  Stage = EntryStage::kAfterMoves;
  refusal_said = true;
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
  // was moved there by a run from this music folder, which took that change
  // then: a refusal to move one back now is the medium's or the folder's,
  // and every other would be refused alike. It is reported as the file
  // that stays, and no other is tried; a later run tries them all again.
  Stage = EntryStage::kMoving;
  for (const Text& name : stranded) {
    g.Do([&] { OldPath = places.into_temp + name; });
    if (TryChange(true, [&] { MoverOf(Mover).Move(OldPath, places.music); }) ==
        Change::kRefused) {
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
  // A report that failed (a log that cannot be written) leaves the shuffle.
  // With "/UNIQUE", what this run moved out comes back first, the log or no
  // log: the game never starts with songs in "temp". Without it, at most
  // the one entry between its two moves waits there for the next run.
  const auto bring_back_and_leave = [&] {
    shuffle.quiet = true;
    shuffle.BringBack();
    throw;
  };
  try {
    shuffle.PrepareTemp();
    shuffle.Start();
    shuffle.EveryEntry();
    shuffle.BringBack();
    shuffle.Finish();
  } catch (const Failure&) {
    bring_back_and_leave();
  } catch (const std::bad_alloc&) {
    bring_back_and_leave();
  }
}

}  // namespace shuffler
