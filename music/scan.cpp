// Listing the music folder: a count pass and a collect pass over the same
// folders.
#include <utility>

#include "base/text.h"
#include "music/music_folder.h"

namespace shuffler {

namespace {

// Entries that are never shuffled: the folder's own links, a report file
// that belongs where it is, and the shuffle's own "temp" folder. Compared
// exactly, letter case included. `temp_name` is the name "temp" was found
// by: where names ignore letter case, a "Temp" is the shuffle's folder and
// must not be renamed away while the shuffle uses it.
bool IsSkipped(TextView name, TextView temp_name) {
  return name == u"." || name == u".." || name == u"MP3Report.txt" ||
         name == u"temp" || (!temp_name.empty() && name == temp_name);
}

}  // namespace

Text MusicFolderOf(const Platform& platform, const MusicRun& run) {
  return run.AppFolder + platform.Separator() + run.MusicFolderName +
         platform.Separator();
}

void ScanMusicFolder(Platform& platform, MusicRun& run, int16_t Collect,
                     Text& FolderList) {
  constexpr TextView kNul(u"\0", 1);
  FolderList += kNul;
  while (!FolderList.empty()) {
    // The separator's position and the one after it are 16-bit values, so a
    // folder path too long for them overflows.
    const Counter16 separator = Counter16::From(InStr(1, FolderList, kNul));
    const Counter16 rest = Counter16::From(int64_t{separator} + 1);
    const Text folder = FolderList.substr(0, separator - 1);
    FolderList.erase(0, rest - 1);

    for (Text name =
             platform.ListFirst(folder + u"*.*", ListMask::kWithFolders);
         !name.empty(); name = platform.ListNext()) {
      if (IsSkipped(name, run.TempFolderName)) continue;
      if (Collect == 0) {
        run.FileCount.Add(1);
      } else {
        run.FileNames[run.FileIndex] = std::move(name);  // the next replaces it
        run.FileIndex.Add(1);
      }
    }
    platform.ProcessMessages();
  }
}

}  // namespace shuffler
