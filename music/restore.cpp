// The way back to the player's own names: "/KEEPNAMES" records each entry's
// name before the shuffle first changes it, and "/RESTORE" gives it back.
//
// A restore moves every file out into "temp" in the order of the names they
// get back, and then back in that order, each under its own name: a file
// system that reuses the slots freed in a folder (FAT32) then lists the
// folder in that order, and two entries that took each other's names get
// them back, since the music folder holds neither while they are out.
// Sub-folders, which the mover does not move, are renamed in place last.
// Only a marked "temp" takes every file at once; in the player's own
// "temp" each goes out and straight back.
#include <vector>

#include "music/folder_work.h"
#include "music/own_names.h"

namespace shuffler {

namespace {

Text NamesFileOf(Platform& platform, const MusicRun& run) {
  return run.AppFolder + platform.Separator() + Text(kOwnNamesFileName);
}

// The box about the names file `path` that tells what kept the run from
// renaming anything, and what the player can do.
void SayNamesFile(Platform& platform, TextView what, const Text& path,
                  const Failure& failure, TextView advice) {
  platform.ShowStopBox(Text(what) + u"\r\n" + path + u"\r\n\r\nNumber: " +
                           DecimalText(failure.Number) + u"\r\nDescription: " +
                           failure.Description + u"\r\n\r\n" + Text(advice),
                       u"Error");
}

// The records of the names file, which is at `path`; false, after the box
// that says so, when they cannot be read.
bool ReadKeptNames(Platform& platform, const MusicRun& run, Text& path,
                   OwnNames& names) {
  Failure failure;
  Guard g([&](const Failure& f) { failure = f; });
  if (g.Do([&] {
        path = NamesFileOf(platform, run);
        names = ReadOwnNames(platform, path);
      })) {
    return true;
  }
  SayNamesFile(platform, u"The names file cannot be read:", path, failure,
               u"Nothing was renamed. Put back a good copy of the file, or "
               u"move it away to start a new one, and start Shuffler again.");
  return false;
}

// The entries of the music folder as they are now.
std::vector<PresentEntry> LookAtListed(Platform& platform, MusicRun& run) {
  std::vector<Text> names;
  names.reserve(static_cast<size_t>(int64_t{run.FileCount}));
  for (int64_t slot = 0; slot < run.FileCount; ++slot) {
    names.push_back(run.FileNames[slot]);
  }
  return LookAtEntries(platform, MusicFolderOf(platform, run), names);
}

// One restore: the files out in the order of their own names, back in that
// order under them, then the sub-folders renamed.
struct Restore : ThroughTemp {
  Restore(Platform& platform_in, MusicRun& run_in,
          std::vector<RestoreStep> plan)
      : ThroughTemp(platform_in, run_in, run_in.DebugLog),
        steps(std::move(plan)) {}

  void FilesOut();
  void RenameFolders();
  // The entry at `OldPath` keeps its name: its own is another's.
  void SayTaken() {
    const EntryStage stage = Stage;
    Stage = EntryStage::kRenaming;
    g.Report(MakeFailure(kFileAlreadyExists));
    Stage = stage;
  }

  std::vector<RestoreStep> steps;
};

void Restore::FilesOut() {
  if (temp_refused) return SayRefusal();
  Stage = EntryStage::kMoving;
  for (const RestoreStep& step : steps) {
    if (step.folder) continue;
    g.Do([&] { OldPath = places.music + step.name; });
    if (step.taken) SayTaken();
    const Text& back = step.own_name == step.name ? Text() : step.own_name;
    if (MoveOut(!changed, OldPath, step.name, back, true) == Change::kRefused) {
      return SayRefusal();
    }
  }
  Stage = EntryStage::kAfterMoves;
}

void Restore::RenameFolders() {
  if (refusal_said) return;
  for (const RestoreStep& step : steps) {
    if (!step.folder || (step.own_name == step.name && !step.taken)) continue;
    Stage = EntryStage::kRenaming;
    Text new_path;
    g.Do([&] {
      OldPath = places.music + step.name;
      new_path = places.music + step.own_name;
    });
    if (step.taken) {
      SayTaken();
      continue;
    }
    LogRename(new_path);
    g.Do([&] { platform.RenameEntry(OldPath, new_path); });
  }
  Stage = EntryStage::kAfterMoves;
}

}  // namespace

bool KeepOwnNames(Platform& platform, MusicRun& run) {
  Text path;
  OwnNames names;
  if (!ReadKeptNames(platform, run, path, names)) return false;
  Failure failure;
  Guard g([&](const Failure& f) { failure = f; });
  // Nothing is renamed before every name is on the medium.
  std::vector<PresentEntry> entries;
  if (!g.Do([&] {
        entries = LookAtListed(platform, run);
        if (names.RecordNew(entries) != 0) WriteOwnNames(platform, path, names);
      })) {
    SayNamesFile(platform, u"The names file cannot be brought up to date:",
                 path, failure,
                 u"Nothing was renamed. Make room on the disk, or let "
                 u"Shuffler change its own folder, and start it again.");
    return false;
  }
  // The shuffle's moves need not look at these again.
  if (run.known_files != nullptr) {
    g.Do([&] {
      run.known_files->assign(entries.size(), false);
      for (size_t e = 0; e < entries.size(); ++e) {
        (*run.known_files)[e] = !entries[e].facts.folder;
      }
    });
  }
  return true;
}

void RestoreMusicFolder(Platform& platform, MusicRun& run) {
  Text path;
  OwnNames names;
  if (!ReadKeptNames(platform, run, path, names)) return;
  if (names.size() == 0) {
    return platform.ShowStopBox(
        u"No names are kept in the names file:\r\n" + path +
            u"\r\n\r\nNothing was renamed. Only a run with /KEEPNAMES keeps "
            u"the names that a restore gives back.",
        u"Error");
  }
  Failure failure;
  Guard g([&](const Failure& f) { failure = f; });
  std::vector<RestoreStep> steps;
  // An entry that cannot be looked at may be any record's: nothing is
  // renamed.
  if (!g.Do([&] { steps = names.PlanRestore(LookAtListed(platform, run)); })) {
    throw failure;
  }
  Restore restore(platform, run, std::move(steps));
  restore.RunPhases([&] {
    restore.PrepareTemp();
    restore.Open(true, restore.steps.size());
    restore.FilesOut();
    restore.BringBack();
    restore.RenameFolders();
    restore.Finish();
  });
}

}  // namespace shuffler
