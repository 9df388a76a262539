#include "music/folder_work.h"

namespace shuffler {

namespace {

// The sub-folder that marks "temp" as Shuffler's own. It is made right
// after "temp" and removed right before it, and only when nothing else is
// left in "temp": a run stopped at any moment leaves either no "temp", an
// empty one, or a marked one holding only what Shuffler put there.
constexpr TextView kOwnMark = u"Shuffler is moving files";

// The report of `failure` in `stage` about the entry at `old_path`: a log
// line when `log` is set, then a box.
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

}  // namespace

Places::Places(const Platform& platform, const MusicRun& run)
    : music(MusicFolderOf(platform, run)),
      temp_folder(music + u"temp"),
      into_temp(temp_folder + platform.Separator()),
      own_mark(into_temp + Text(kOwnMark)) {}

FileMover& MoverOf(const std::unique_ptr<FileMover>& Mover) {
  if (!Mover) Raise(kObjectNotSet);
  return *Mover;
}

bool IsDotOrDotDot(const Text& name) {
  return name == u"." || name == u"..";
}

FolderWork::FolderWork(Platform& platform_in, MusicRun& run_in, bool log)
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

// "temp", or its mark, refused is the folder's answer to every change.
void ThroughTemp::PrepareTemp() {
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

void ThroughTemp::Open(bool out_first, size_t count) {
  if (!temp_refused) g.Do([&] { Mover = platform.CreateFileMover(); });
  // Only what a marked "temp" holds comes back after a stopped run.
  all_out = out_first && marked;
  // Reserved now, so that an entry moved out is always noted.
  g.Do([&] { moved_out.reserve(all_out ? count : 1); });
  if (run.DebugLog) {
    g.Do([&] {
      platform.OpenLog(run.AppFolder + platform.Separator() + u"Shuffler.log");
    });
  }
}

Change ThroughTemp::MoveOut(bool whole_folder, const Text& source,
                            const Text& name, const Text& back_name,
                            bool known) {
  const Change out = TryChange(
      whole_folder, [&] { MoveEntry(source, places.into_temp, known); });
  if (out == Change::kMade) EntryChanged();
  if (out == Change::kRefused || (all_out && out != Change::kMade)) {
    return out;
  }
  g.Do([&] { moved_out.push_back({OldPath, name, back_name, known}); });
  if (!all_out) BringBack();
  return out;
}

void FolderWork::LogRename(const Text& new_path) {
  if (!run.DebugLog) return;
  g.Do([&] {
    platform.WriteLogLine(u"Renamed \"" + OldPath + u"\" to \"" + new_path +
                          u"\"");
  });
}

void ThroughTemp::BringBack() {
  Stage = EntryStage::kMoving;
  while (next_back < moved_out.size()) {
    const MovedOut& entry = moved_out[next_back++];
    g.Do([&] {
      OldPath = entry.old_path;
      temp_path.assign(places.into_temp).append(entry.temp_name);
    });
    // After a failing report the entry comes back as it went out: a
    // renaming would go unlogged.
    if (!entry.back_name.empty() && !quiet &&
        BackAs(entry.back_name, entry.known)) {
      continue;
    }
    g.Do([&] { MoveEntry(temp_path, places.music, entry.known); });
  }
  if (!all_out) {
    moved_out.clear();
    next_back = 0;
  }
  Stage = EntryStage::kAfterMoves;
}

bool ThroughTemp::BackAs(const Text& name, bool known) {
  Stage = EntryStage::kRenaming;
  Text new_path;
  g.Do([&] { new_path = places.music + name; });
  LogRename(new_path);
  const bool moved = g.Do([&] { MoveEntry(temp_path, new_path, known); });
  Stage = EntryStage::kMoving;
  return moved;
}

void ThroughTemp::Finish() {
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

void ThroughTemp::SayRefusal() {
  Stage = EntryStage::kAfterMoves;
  refusal_said = true;
  g.Report(refusal);
}

}  // namespace shuffler
