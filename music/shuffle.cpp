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
enum class Stage { kRenaming, kMoving, kAfterMoves };

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
void Report(Platform& platform, bool log, Stage stage, const Text& old_path,
            const Failure& failure) {
  Text log_line, prompt;
  if (stage == Stage::kRenaming) {
    log_line = u"*** An error occurred renaming file: " + old_path;
    prompt = u"An error occurred renaming file: \r\n" + old_path;
  } else if (stage == Stage::kMoving) {
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

}  // namespace

void RecoverStrandedFiles(Platform& platform, MusicRun& run) {
  const Places places(platform, run);
  Stage stage = Stage::kAfterMoves;
  Text OldPath;
  std::unique_ptr<FileMover> Mover;
  bool own = false;
  std::vector<Text> stranded;
  // A medium that refuses one change refuses them all: one box says so.
  bool refused = false;
  // The log is not open yet: the boxes alone report these failures.
  Guard g([&](const Failure& failure) {
    Report(platform, false, stage, OldPath, failure);
  });

  g.Do([&] {
    run.TempFolderName =
        platform.FindEntry(places.temp_folder, ListMask::kWithFolders);
  });
  g.Do([&] {
    if (run.TempFolderName.empty()) return;
    own = !platform.FindEntry(places.own_mark, ListMask::kWithFolders).empty();
  });
  g.Do([&] {
    if (!own) return;
    for (Text name = platform.ListFirst(places.into_temp + u"*.*",
                                        ListMask::kNormalFilesAndDotNames);
         !name.empty(); name = platform.ListNext()) {
      stranded.push_back(name);
    }
  });
  g.Do([&] {
    if (!stranded.empty()) Mover = platform.CreateFileMover();
  });
  size_t next_stranded = 0;
  while (g.Test([&] { return !refused && next_stranded < stranded.size(); })) {
    g.Do([&] {
      stage = Stage::kMoving;
      OldPath = places.into_temp + stranded[next_stranded++];
    });
    // Never onto an entry of the music folder: a file whose name is taken
    // there stays in "temp", and is reported.
    g.Do([&] {
      if (!Mover) Raise(kObjectNotSet);
      try {
        Mover->Move(OldPath, places.music);
      } catch (const Failure& failure) {
        refused = failure.Number == kPermissionDenied;
        throw;
      }
    });
  }
  g.Do([&] {
    stage = Stage::kAfterMoves;
    Mover.reset();
  });
}

void ShuffleMusicFolder(Platform& platform, MusicRun& run) {
  const Places places(platform, run);
  const Counter16 FileCount = run.FileCount;
  NameList& FileNames = run.FileNames;

  Stage stage = Stage::kRenaming;
  Counter16 Done;
  int Digits = 0;
  int64_t Pick = 0;
  // The paths are rebuilt in place for every entry, reusing their storage.
  Text NumberText, Bare, OldPath, NewPath, TempName, TempPath;
  std::unique_ptr<FileMover> Mover;
  // "temp" made by this run, and whether it carries the mark.
  bool made_temp = false, marked = false;
  // "temp" could not be made for want of the right to change the music
  // folder, or the music folder refused its first change: every entry would
  // fail alike, so it is said once and the entries are left as they are.
  bool denied = false;
  Failure denial;
  // "/UNIQUE" in a marked "temp": every entry is moved out before the first
  // comes back.
  bool all_out = false;
  // Whether a change to the music folder has succeeded yet: until one has, a
  // refused change means that the folder refuses every change.
  bool changed = false;
  const auto deny = [&](const Failure& failure) {
    if (changed || failure.Number != kPermissionDenied) return false;
    denied = true;
    denial = failure;
    return true;
  };
  const auto report_denial = [&] {
    stage = Stage::kAfterMoves;
    throw denial;
  };
  // Which slots are processed. The marker alone cannot tell: an entry may
  // really be named like it, and would then never be processed.
  std::vector<bool> processed(static_cast<size_t>(FileCount), false);
  auto mover = [&Mover]() -> FileMover& {
    if (!Mover) Raise(kObjectNotSet);
    return *Mover;
  };

  // The report depends on the stage. What fails in here (a log that cannot
  // be written) leaves the shuffle for the startup sequence to report.
  Guard g([&](const Failure& failure) {
    Report(platform, run.DebugLog, stage, OldPath, failure);
  });

  if (g.Test([&] {
        return platform.FindEntry(places.temp_folder, ListMask::kWithFolders)
            .empty();
      })) {
    g.Do([&] {
      try {
        platform.MakeFolder(places.temp_folder);
      } catch (const Failure& failure) {
        if (!deny(failure)) throw;
        return;
      }
      made_temp = changed = true;
    });
    g.Do([&] {
      if (!made_temp) return;
      platform.MakeFolder(places.own_mark);
      marked = true;
    });
  } else {
    // A "temp" left by a stopped run still carries the mark; the recovery
    // has brought back what it held.
    g.Do([&] {
      marked =
          !platform.FindEntry(places.own_mark, ListMask::kWithFolders).empty();
    });
    // An empty "temp" holds nothing of anyone's (a run stopped right after
    // making it leaves one): it is marked, so that what this run leaves in
    // it is brought back too. A folder lists "." and ".." at least; a file
    // named "temp" lists nothing and is left alone. A mark that cannot be
    // made for want of the right to is the first refused change.
    g.Do([&] {
      if (marked) return;
      bool folder = false;
      for (Text name = platform.ListFirst(places.into_temp + u"*.*",
                                          ListMask::kWithFoldersAndDotNames);
           !name.empty(); name = platform.ListNext()) {
        if (name != u"." && name != u"..") return;
        folder = true;
      }
      if (!folder) return;
      try {
        platform.MakeFolder(places.own_mark);
      } catch (const Failure& failure) {
        if (!deny(failure)) throw;
        return;
      }
      // A mark in the player's "temp" changes nothing in the music folder
      // itself, which may still refuse its first change.
      marked = true;
    });
  }
  g.Do([&] {
    if (!denied) Mover = platform.CreateFileMover();
  });
  // Only what a marked "temp" holds comes back after a stopped run.
  g.Do([&] {
    Done = 0;
    all_out = run.UniqueMode && marked;
  });
  g.Do([&] { Digits = DecimalDigits(FileCount); });
  g.Do([&] {
    if (run.DebugLog) {
      platform.OpenLog(run.AppFolder + platform.Separator() + u"Shuffler.log");
    }
  });

  if (g.Test([&] { return denied; })) {
    g.Do(report_denial);
  } else {
    // "/UNIQUE": the entries moved out, as their old path and their name in
    // "temp", in order.
    struct MovedOut {
      Text old_path, temp_name;
    };
    std::vector<MovedOut> moved_out;
    while (g.Test([&] { return Done < FileCount; })) {
      g.Do([&] { Pick = Draw(FileCount, platform.NextRandom()); });
      if (!g.Test([&] { return !processed.at(static_cast<size_t>(Pick)); })) {
        continue;  // drawn before: draw again
      }
      // Whether the entry's new name is free, also in "temp", and whether
      // it was renamed.
      bool name_free = false, renamed = false;
      g.Do([&] { stage = Stage::kRenaming; });
      // Drawn independently for every entry: two entries may get the same
      // number. With "/UNIQUE", the entry's place in the order instead.
      g.Do([&] {
        const int64_t number = run.UniqueMode
                                   ? int64_t{Done} + 1
                                   : Draw(FileCount, platform.NextRandom()) + 1;
        NumberText = ZeroPadded(number, Digits);
      });
      g.Do([&] { Bare = BareName(FileNames[Pick]); });
      // Each path is reserved before it is rebuilt: running out of memory
      // then leaves it as it was, for the failure report.
      g.Do([&] {
        const Text& name = FileNames[Pick];
        OldPath.reserve(places.music.size() + name.size());
        OldPath.assign(places.music).append(name);
      });
      g.Do([&] {
        if (run.DenumMode) {
          TempName = Bare;
        } else {
          TempName.reserve(NumberText.size() + 1 + Bare.size());
          TempName.assign(NumberText).append(u"-").append(Bare);
        }
        NewPath.reserve(places.music.size() + TempName.size());
        NewPath.assign(places.music).append(TempName);
      });
      g.Do([&] {
        if (run.DebugLog) {
          platform.WriteLogLine(u"Renamed \"" + OldPath + u"\" to \"" +
                                NewPath + u"\"");
        }
      });
      // With "/UNIQUE" and "/DENUM", an entry moved out earlier may hold the
      // bare name in "temp": the rename fails as if the name were taken in
      // the music folder, where that entry would be otherwise, and the entry
      // keeps its name. (Numbered names never meet there.)
      g.Do([&] {
        if (all_out && run.DenumMode &&
            !platform
                 .FindEntry(places.into_temp + TempName,
                            ListMask::kWithFoldersAndDotNames)
                 .empty()) {
          Raise(kFileAlreadyExists);
        }
        name_free = true;
      });
      g.Do([&] {
        if (!name_free) return;
        try {
          platform.RenameEntry(OldPath, NewPath);
        } catch (const Failure& failure) {
          if (!deny(failure)) throw;
          return;
        }
        renamed = true;
        // A new name equal to the old one changes nothing.
        changed = changed || OldPath != NewPath;
      });
      g.Do([&] { stage = Stage::kMoving; });
      // Out and straight back: the entry is re-created in the music folder
      // now, after every entry processed before it. With "/UNIQUE" in a
      // marked "temp" only out, and only an entry that was renamed: a
      // failure touches no other.
      g.Do([&] {
        if (denied || (all_out && !renamed)) return;
        try {
          mover().Move(NewPath, places.into_temp);
        } catch (const Failure& failure) {
          if (!deny(failure)) throw;
          return;
        }
        changed = true;
        if (all_out) moved_out.push_back({OldPath, TempName});
      });
      // Refused before anything changed: nothing was moved out, and nothing
      // more is tried.
      if (g.Test([&] { return denied; })) {
        g.Do(report_denial);
        break;
      }
      g.Do([&] {
        if (all_out) return;
        FileMover& back = mover();
        TempPath.assign(places.into_temp).append(TempName);
        back.Move(TempPath, places.music);
      });
      g.Do([&] { stage = Stage::kAfterMoves; });
      g.Do([&] { Done.Add(1); });
      g.Do([&] {
        processed.at(static_cast<size_t>(Pick)) = true;
        FileNames[Pick] = kMarker;
      });
    }
    // "/UNIQUE": every entry moved out comes back, in the same order.
    size_t next_back = 0;
    while (g.Test([&] { return next_back < moved_out.size(); })) {
      g.Do([&] {
        stage = Stage::kMoving;
        const MovedOut& entry = moved_out[next_back++];
        OldPath = entry.old_path;
        TempPath.assign(places.into_temp).append(entry.temp_name);
      });
      g.Do([&] { mover().Move(TempPath, places.music); });
    }
    g.Do([&] { stage = Stage::kAfterMoves; });
  }

  g.Do([&] {
    if (run.DebugLog) platform.CloseLog();
  });
  g.Do([&] { Mover.reset(); });
  // The mark goes only when nothing else is left in "temp": what could not
  // come back stays in a marked folder, and a later run tries again.
  bool only_mark_left = false;
  g.Do([&] {
    if (!marked) return;
    for (Text name = platform.ListFirst(places.into_temp + u"*.*",
                                        ListMask::kWithFoldersAndDotNames);
         !name.empty(); name = platform.ListNext()) {
      if (name != u"." && name != u".." && name != kOwnMark) return;
    }
    only_mark_left = true;
  });
  g.Do([&] {
    if (marked && only_mark_left) platform.RemoveFolder(places.own_mark);
  });
  g.Do([&] {
    if (!denied) platform.RemoveFolder(places.temp_folder);
  });
}

}  // namespace shuffler
