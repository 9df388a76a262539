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
#include <vector>

#include "music/folder_work.h"
#include "music/names.h"

namespace shuffler {

namespace {

// Written over each processed slot of `FileNames`.
constexpr TextView kMarker = u"###FILEALREADYRENAMED###";
// A whole number from 0 to count - 1. The product is floored in double
// precision, so it stays below `count` for every value below 1.
int64_t Draw(int64_t count, float random) {
  return static_cast<int64_t>(std::floor(static_cast<double>(count) * random));
}

// One shuffle, in phases that share the design's variables (PascalCase) and
// our own (snake_case).
struct Shuffle : ThroughTemp {
  Shuffle(Platform& platform_in, MusicRun& run_in)
      : ThroughTemp(platform_in, run_in, run_in.DebugLog),
        FileCount(run.FileCount),
        FileNames(run.FileNames),
        processed(static_cast<size_t>(FileCount), false) {
    Stage = EntryStage::kRenaming;
  }

  void Start();
  void EveryEntry();
  bool OneEntry();
  void NameEntry();
  Change RenameEntry();
  Change MoveOutAndBack(bool renamed);
  bool SetAside();
  void EntryChanged() override;

  const Counter16 FileCount;
  NameList& FileNames;
  Counter16 Done;
  int Digits = 0;
  int64_t Pick = 0;
  // Rebuilt in place for every entry, reusing their storage.
  Text NumberText, BareName, NewPath, TempName;

  // Until an entry has changed, a refused change may be the folder's
  // answer to every change (a read-only medium, no right to write, a
  // folder that only takes new entries) or one entry's (a file that may
  // not be renamed, or that another program holds): the entry is set
  // aside, and the next one tried. Once one has changed, the entries set
  // aside are tried again, and each refusal is that one entry's, reported
  // as its failure. When none changes, the refusal is said once.
  std::vector<int64_t> set_aside;
  // Which slots are processed or set aside. The marker alone cannot tell:
  // an entry may really be named like it, and would then never be
  // processed.
  std::vector<bool> processed;
};

// The mover, the count of entries done, the prefix width and the log.
// "/UNIQUE" in a marked "temp" moves every entry out before the first
// comes back.
void Shuffle::Start() {
  Open(run.UniqueMode, static_cast<size_t>(FileCount));
  Done = 0;
  Digits = DecimalDigits(FileCount);
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
  LogRename(NewPath);
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
  const std::vector<bool>* known = run.known_files;
  return MoveOut(!changed, NewPath, TempName, Text(),
                 known != nullptr &&
                     known->size() > static_cast<size_t>(Pick) &&
                     (*known)[static_cast<size_t>(Pick)]);
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
  shuffle.RunPhases([&] {
    shuffle.PrepareTemp();
    shuffle.Start();
    shuffle.EveryEntry();
    shuffle.BringBack();
    shuffle.Finish();
  });
}

}  // namespace shuffler
