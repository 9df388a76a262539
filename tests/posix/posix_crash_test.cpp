// The real program stopped dead at any moment: a run killed with SIGKILL
// anywhere in its work never loses a file and leaves nothing of its own
// behind. Every file stays present exactly once, in the music folder or in
// its "temp" folder, keeping its content and its name (bar the number
// prefix). On the local file system and on NTFS, exFAT and FAT32 mounted
// through FUSE, whose drivers refuse the never-replacing rename Linux has.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "tests/folder_order.h"
#include "tests/posix/posix_testing.h"
#include "tests/posix/scratch_mount.h"

namespace shuffler::posix_testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using enum WindowsFileSystem;

// Where the trials run and how many: trials past the first `min_trials`
// stop once they have taken `budget`, so a slow machine (or a sanitizer
// build) keeps the suite bounded. The mounts get fewer files and kills:
// every call there is a round trip to a FUSE driver, and fusefat looks a
// name up by reading the whole folder, so a run there grows with the square
// of the folder (300 files take 26 s, 60 take about one).
struct Setting {
  const char* name = "";
  std::optional<WindowsFileSystem> mount = {};  // none: the temporary folder
  bool unique = false;  // with "/UNIQUE", which moves every entry out before
                        // any comes back: a kill between the two may leave
                        // them all in "temp"
  int files = 0;
  int player_files = 0;  // files of the player's own in "temp" from the start
  int trials = 0;
  int min_trials = 0;
  std::chrono::seconds budget = std::chrono::seconds(8);
};

void PrintTo(const Setting& setting, std::ostream* out) {
  *out << setting.name;
}

// One setting a line.
// clang-format off
const Setting kSettings[] = {
    {.name = "Local", .files = 3000, .trials = 30, .min_trials = 12},
    {.name = "LocalUnique", .unique = true, .files = 3000, .trials = 20, .min_trials = 12},
    // A "temp" of the player's own, holding files: nothing is ever taken
    // out of it, so a kill may leave one song there for good, never more.
    {.name = "LocalUniquePlayerTemp", .unique = true, .files = 1500, .player_files = 3, .trials = 6, .min_trials = 6},
    {.name = "Ntfs", .mount = kNtfs, .files = 300, .trials = 20, .min_trials = 10},
    {.name = "Exfat", .mount = kExfat, .files = 300, .trials = 20, .min_trials = 10},
    {.name = "Fat32", .mount = kFat32, .files = 60, .trials = 12, .min_trials = 8},
    {.name = "Fat32Unique", .mount = kFat32, .unique = true, .files = 60, .trials = 12, .min_trials = 8},
};
// clang-format on

std::string OriginalName(int i) {
  return "Track " + std::to_string(i) + ".mp3";
}
std::string ContentOf(int i) {
  return "content of track " + std::to_string(i) + "\n";
}
std::string PlayerFile(int i) {
  return "Mine " + std::to_string(i) + ".mp3";
}

// True when `name` is `original`, or digits, a hyphen and `original`.
bool KeepsItsName(const std::string& name, const std::string& original) {
  if (name == original) return true;
  if (name.size() <= original.size() + 1) return false;
  const size_t dash = name.size() - original.size() - 1;
  if (name[dash] != '-' ||
      name.compare(dash + 1, std::string::npos, original) != 0) {
    return false;
  }
  return std::all_of(name.begin(), name.begin() + static_cast<long>(dash),
                     [](char c) { return c >= '0' && c <= '9'; });
}

struct Census {
  int in_music = 0;
  int in_temp = 0;                  // not counting the player's own files
  std::vector<std::string> faults;  // empty when every file is accounted for
};

// Finds every file of the music folder and of "temp" and checks that each
// original file is there exactly once, with its content and its name, and
// that the `player_files` first in "temp" are there still, as they were.
Census TakeCensus(const GameFolder& game,
                  const std::map<std::string, int>& by_content,
                  int player_files = 0) {
  Census census;
  for (int i = 0; i < player_files; ++i) {
    if (ReadContent(game.Temp() / PlayerFile(i)) != PlayerFile(i)) {
      census.faults.push_back("the player's " + PlayerFile(i) + " moved");
    }
  }
  std::vector<int> seen(by_content.size(), 0);
  auto visit = [&](const fs::path& folder, int& counter) {
    if (!fs::is_directory(folder)) return;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().native();
      if (entry.is_directory()) {
        // "temp", and in it the mark of a run that was at work there.
        if (!(folder == game.Music() && name == "temp") &&
            !(folder == game.Temp() && name == "Shuffler is moving files")) {
          census.faults.push_back("unexpected folder " + name);
        }
        continue;
      }
      const std::string content = ReadContent(entry.path());
      if (folder == game.Temp() && content == name &&
          name.starts_with("Mine ")) {
        continue;  // the player's own, checked above
      }
      const auto found = by_content.find(content);
      if (found == by_content.end()) {
        census.faults.push_back("unknown file " + name);
        continue;
      }
      ++seen[static_cast<size_t>(found->second)];
      ++counter;
      if (!KeepsItsName(name, OriginalName(found->second))) {
        census.faults.push_back(name + " holds the content of " +
                                OriginalName(found->second));
      }
    }
  };
  visit(game.Music(), census.in_music);
  visit(game.Temp(), census.in_temp);
  for (int i = 0; i < static_cast<int>(seen.size()); ++i) {
    if (seen[static_cast<size_t>(i)] != 1) {
      census.faults.push_back(OriginalName(i) + " is present " +
                              std::to_string(seen[static_cast<size_t>(i)]) +
                              " times");
    }
  }
  return census;
}

std::string Describe(const Census& census) {
  std::string text;
  for (size_t i = 0; i < census.faults.size() && i < 10; ++i) {
    text += census.faults[i] + "\n";
  }
  return text;
}

class PosixCrash : public ::testing::TestWithParam<Setting> {
 protected:
  void SetUp() override {
    if (const auto kind = GetParam().mount) {
      const std::string why = ScratchMount::WhyNot(*kind);
      if (!why.empty()) {
        GTEST_SKIP() << "SKIPPED: no " << NameOf(*kind) << " mount: " << why;
      }
      mount_ = std::make_unique<ScratchMount>(*kind);
    }
  }

  fs::path Base() const { return mount_ ? mount_->Folder() : fs::path(); }

  std::unique_ptr<ScratchMount> mount_;
};

TEST_P(PosixCrash, AKilledRunNeverLosesAFileAndALaterRunFinishesTheWork) {
  const Setting& setting = GetParam();
  const int files = setting.files;
  const int planned = setting.trials;
  const std::vector<std::string> options =
      setting.unique ? std::vector<std::string>{"/NOLAUNCH", "/UNIQUE"}
                     : std::vector<std::string>{"/NOLAUNCH"};
  if (!CanKillAtRename()) GTEST_SKIP() << "SKIPPED: no rename tracing here";
  GameFolder game(SHUFFLER_PROGRAM_PATH, Base());
  std::map<std::string, int> by_content;
  for (int i = 0; i < files; ++i) {
    game.Write("mp3/" + OriginalName(i), ContentOf(i));
    by_content[ContentOf(i)] = i;
  }
  const bool player_temp = setting.player_files > 0;
  if (player_temp) fs::create_directory(game.Temp());
  for (int i = 0; i < setting.player_files; ++i) {
    game.Write("mp3/temp/" + PlayerFile(i), PlayerFile(i));
  }

  // One whole run first, to learn how many renames a run asks for here.
  const auto started = Clock::now();
  const RenameKill whole =
      RunKilledAtRename(game.Program(), options, 0, std::chrono::seconds(60));
  const auto run_time = Clock::now() - started;
  ASSERT_EQ(whole.run.exit_code, 0);
  // A "temp" of the player's that holds files is never removed: one box.
  const std::string temp_kept =
      "Error: An error occurred!\n\nNumber: 75\nDescription: Path/File "
      "access error\n";
  ASSERT_EQ(whole.run.error_output, player_temp ? temp_kept : "");
  ASSERT_GT(whole.renames, 3 * files - 1);
  Census census = TakeCensus(game, by_content, setting.player_files);
  ASSERT_TRUE(census.faults.empty()) << Describe(census);
  ASSERT_EQ(census.in_music, files);
  ASSERT_EQ(fs::exists(game.Temp()), player_temp);

  // Kill runs as they ask for renames spread from the first to the last of
  // a whole run's, visited in an order that covers the whole span early (37
  // and the trial count share no factor). Each run starts from what the
  // killed one before left, and asks for at least as many renames as the
  // whole run did: the same files, each renamed and moved out and back,
  // and what it brings back besides. So every kill lands inside a run.
  int trials = 0, killed = 0, stranded = 0, most_stranded_at_once = 0;
  const auto trials_started = Clock::now();
  for (int trial = 0; trial < planned; ++trial) {
    if (trial >= setting.min_trials &&
        Clock::now() - trials_started > setting.budget) {
      break;
    }
    const int nth = 1 + (trial * 37 % planned) * (whole.renames - 1) / planned;
    const RenameKill run = RunKilledAtRename(game.Program(), options, nth,
                                             std::chrono::seconds(60));
    EXPECT_TRUE(run.killed) << "rename " << nth << " of " << whole.renames;
    killed += run.killed ? 1 : 0;
    ++trials;

    census = TakeCensus(game, by_content, setting.player_files);
    ASSERT_TRUE(census.faults.empty())
        << "after the kill at rename " << nth << ":\n"
        << Describe(census);
    // Without "/UNIQUE" entries are moved out one at a time, and each run
    // first brings back what the run before left: a kill strands one file
    // at most. In the player's own "temp" nothing is brought back, so each
    // kill may add one there, with "/UNIQUE" too.
    if (player_temp) {
      EXPECT_LE(census.in_temp, trials) << "trial " << trial;
    } else if (!setting.unique) {
      EXPECT_LE(census.in_temp, 1) << "trial " << trial;
    }
    stranded = census.in_temp;
    most_stranded_at_once = std::max(most_stranded_at_once, census.in_temp);
  }

  // A run that is let finish brings back what the last kill left in
  // "temp" and leaves every file in the music folder.
  const ProgramRun last = game.Run(options);
  EXPECT_EQ(last.exit_code, 0);
  EXPECT_EQ(last.error_output, player_temp ? temp_kept : "");
  census = TakeCensus(game, by_content, setting.player_files);
  ASSERT_TRUE(census.faults.empty()) << Describe(census);
  const int left_in_player_temp = census.in_temp;
  if (player_temp) {
    EXPECT_LE(census.in_temp, trials);
    EXPECT_EQ(census.in_music + census.in_temp, files);
  } else {
    EXPECT_EQ(census.in_music, files);
  }
  EXPECT_EQ(fs::exists(game.Temp()), player_temp);
  // Every file the last run saw carries a number as wide as the count now.
  const size_t digits = std::to_string(files).size();
  for (const fs::directory_entry& entry :
       fs::directory_iterator(game.Music())) {
    if (entry.is_directory()) continue;
    const std::string name = entry.path().filename().native();
    EXPECT_TRUE(name.size() > digits + 1 && name[digits] == '-') << name;
  }
  if (setting.unique) {
    // Every number from 1 to the count, once each.
    const std::vector<std::string> after = testing::FolderOrder(game.Music());
    std::vector<long> numbers;
    for (const std::string& name : after) {
      if (name != "temp") numbers.push_back(testing::NumberPrefix(name));
    }
    std::sort(numbers.begin(), numbers.end());
    ASSERT_EQ(numbers.size(), static_cast<size_t>(census.in_music));
    for (int i = 0; i < census.in_music; ++i) {
      EXPECT_EQ(numbers[static_cast<size_t>(i)], i + 1);
    }
    // FAT32 lists a folder in the order its entries were made, so there
    // one more run leaves the folder's own order following the numbers,
    // and having nothing to do with the order before that run.
    if (setting.mount == kFat32) {
      ASSERT_EQ(game.Run(options).error_output, "");
      const std::vector<std::string> again = testing::FolderOrder(game.Music());
      ASSERT_EQ(again.size(), static_cast<size_t>(files));
      const auto bare = [](const std::string& name) {
        return name.substr(name.find('-') + 1);
      };
      const double by_number = testing::TauAgainstNumbers(again);
      const double by_before = testing::TauAgainstBefore(again, after, bare);
      EXPECT_GT(by_number, 0.9);
      EXPECT_LT(std::abs(by_before), 0.35);
      std::printf(
          "[ crash    ] %s: folder order against the numbers: tau "
          "%.3f; against the order before: tau %.3f\n",
          setting.name, by_number, by_before);
    }
  }

  const std::string summary =
      std::string(setting.name) + ": " + std::to_string(trials) +
      " runs killed at spread-out moments (" + std::to_string(killed) +
      " of them mid-run), " + std::to_string(files) +
      " files, a whole run took " +
      std::to_string(
          std::chrono::duration_cast<milliseconds>(run_time).count()) +
      " ms; " + std::to_string(stranded) +
      " file(s) in temp after the last kill (at most " +
      std::to_string(most_stranded_at_once) + "), " +
      (player_temp ? std::to_string(left_in_player_temp) +
                         " left in the player's own temp after one more run"
                   : std::string("all brought back by the next run")) +
      ", none lost";
  RecordProperty("crash_trials", trials);
  RecordProperty("crash_kills", killed);
  RecordProperty("stranded_in_temp", stranded);
  std::printf("[ crash    ] %s\n", summary.c_str());
}

INSTANTIATE_TEST_SUITE_P(FileSystems, PosixCrash,
                         ::testing::ValuesIn(kSettings),
                         [](const ::testing::TestParamInfo<Setting>& where) {
                           return std::string(where.param.name);
                         });

// ---- Generated starting folders, killed at every rename.

enum class PlayerTemp { kNone, kEmpty, kFiles, kFolders, kMarkedLeftovers };

// A music folder made from `seed`: songs with and without number prefixes,
// an album sub-folder holding a song, a "temp" of one kind, a bare name that
// becomes a dot-name, and names holding "?" and "*". Every file's content is
// unique: it is the file's path at the start, so the census can tell where each
// one began.
struct Generated {
  std::vector<std::string> songs;   // in "mp3", to be shuffled
  std::vector<std::string> kept;    // below "mp3", never to move
  std::vector<std::string> albums;  // sub-folders of "mp3" and their song
  PlayerTemp temp = PlayerTemp::kNone;
};

Generated Generate(unsigned seed) {
  std::mt19937 random(seed);
  Generated folder;
  folder.temp = static_cast<PlayerTemp>(seed % 5);
  const int count = 3 + static_cast<int>(random() % 5);
  for (int i = 0; i < count; ++i) {
    const std::string id = std::to_string(seed) + "_" + std::to_string(i);
    switch (random() % 4) {
      case 0:
        folder.songs.push_back("Song " + id + ".mp3");
        break;
      case 1:
        folder.songs.push_back("0" + id.substr(0, 1) + "-Song " + id + ".mp3");
        break;
      case 2:
        folder.songs.push_back("Live - " + id + ".ogg");
        break;
      default:
        folder.songs.push_back("1 - Spaced " + id + ".mp3");
        break;
    }
  }
  folder.songs.push_back("Album " + std::to_string(seed));
  folder.albums.push_back(folder.songs.back());
  folder.kept.push_back("MP3Report.txt");
  folder.songs.push_back("07-.Intro " + std::to_string(seed) + ".mp3");
  folder.songs.push_back("01-Song1.mp3");
  folder.songs.push_back("02-Song?.mp3");
  folder.songs.push_back("Star*.mp3");
  if (folder.temp == PlayerTemp::kFiles) folder.kept.push_back("temp/Mine.mp3");
  if (folder.temp == PlayerTemp::kFolders)
    folder.kept.push_back("temp/Old/Mine.mp3");
  return folder;
}

// Builds `folder` in `game`.
void Build(const GameFolder& game, const Generated& folder) {
  if (folder.temp != PlayerTemp::kNone) fs::create_directory(game.Temp());
  if (folder.temp == PlayerTemp::kFolders)
    fs::create_directory(game.Temp() / "Old");
  for (const std::string& album : folder.albums) {
    fs::create_directory(game.Music() / album);
    game.Write("mp3/" + album + "/inside.mp3", album + "/inside.mp3");
  }
  for (const std::string& name : folder.songs) {
    if (std::find(folder.albums.begin(), folder.albums.end(), name) ==
        folder.albums.end()) {
      // A marked "temp" with leftovers holds the first song.
      const bool left = folder.temp == PlayerTemp::kMarkedLeftovers &&
                        name == folder.songs.front();
      game.Write((left ? "mp3/temp/" : "mp3/") + name, name);
    }
  }
  if (folder.temp == PlayerTemp::kMarkedLeftovers) {
    fs::create_directory(game.Temp() / "Shuffler is moving files");
  }
  for (const std::string& kept : folder.kept)
    game.Write("mp3/" + kept, kept);
}

// Every file below "mp3" by its content, with where it is now.
std::map<std::string, std::vector<std::string>> FilesBelow(
    const GameFolder& game) {
  std::map<std::string, std::vector<std::string>> found;
  for (const fs::directory_entry& entry :
       fs::recursive_directory_iterator(game.Music())) {
    if (!entry.is_regular_file()) continue;
    found[ReadContent(entry.path())].push_back(
        fs::relative(entry.path(), game.Music()).native());
  }
  return found;
}

// What is wrong with the folder: a file lost, doubled or renamed beyond its
// number, or one of the player's moved. With `settled`, after a whole run,
// also a song not back in "mp3", beyond the one a kill may leave in a
// player's own "temp"; with `own`, a song in "mp3" without its own name.
std::vector<std::string> Check(const GameFolder& game, const Generated& folder,
                               bool settled, bool own = false) {
  std::vector<std::string> faults;
  auto found = FilesBelow(game);
  int away = 0;
  for (const std::string& kept : folder.kept) {
    if (found[kept] != std::vector<std::string>{kept})
      faults.push_back(kept + " moved or lost");
    found.erase(kept);
  }
  for (const std::string& name : folder.songs) {
    const bool album = std::find(folder.albums.begin(), folder.albums.end(),
                                 name) != folder.albums.end();
    const std::string content = album ? name + "/inside.mp3" : name;
    const std::vector<std::string> where = found[content];
    found.erase(content);
    if (where.size() != 1) {
      faults.push_back(name + " is present " + std::to_string(where.size()) +
                       " times");
      continue;
    }
    const fs::path path(where[0]);
    const std::string entry =
        album ? path.begin()->native() : path.filename().native();
    const std::string bare = name.substr(name.find_first_of('-') + 1);
    const bool numbered_bare =
        entry.size() > bare.size() && entry.ends_with("-" + bare) &&
        std::all_of(entry.begin(),
                    entry.end() - static_cast<long>(bare.size()) - 1,
                    [](char c) { return c >= '0' && c <= '9'; });
    if (!KeepsItsName(entry, name) && entry != bare && !numbered_bare) {
      faults.push_back(name + " became " + entry);
    }
    if (own && entry != name && *path.begin() != "temp") {
      faults.push_back(name + " is not restored: " + entry);
    }
    if (album && path.parent_path().filename() == "temp")
      faults.push_back(name + " in temp");
    if (!album && path.parent_path() != "") ++away;
  }
  for (const auto& [content, where] : found) {
    faults.push_back("unknown file " + where.front());
  }
  if (settled && away > (folder.temp == PlayerTemp::kFiles ||
                                 folder.temp == PlayerTemp::kFolders
                             ? 1
                             : 0)) {
    faults.push_back(std::to_string(away) + " songs not back in mp3");
  }
  return faults;
}

int Lines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// Runs the system's `command` with `arguments`; true when it exited with 0.
bool Ran(const std::string& command,
         const std::vector<std::string>& arguments) {
  try {
    return RunProgram("/usr/bin/" + command, arguments,
                      std::chrono::seconds(30))
               .exit_code == 0;
  } catch (const std::exception&) {
    return false;  // not installed here
  }
}

// Runs Shuffler in `game`, as the superuser or, with `as_player`, as a
// player without its rights (the user "nobody").
ProgramRun RunAs(const GameFolder& game, bool as_player,
                 const std::vector<std::string>& options) {
  if (!as_player) return game.Run(options);
  std::vector<std::string> arguments = {"--reuid=65534", "--regid=65534",
                                        "--clear-groups", game.Program()};
  arguments.insert(arguments.end(), options.begin(), options.end());
  return RunProgram("/usr/bin/setpriv", arguments, std::chrono::seconds(30));
}

TEST(PosixCrashGenerated, KilledAtEveryRenameThenRunAgainLosesNothing) {
  if (!CanKillAtRename()) GTEST_SKIP() << "SKIPPED: no rename tracing here";
  const std::vector<std::vector<std::string>> option_sets = {
      {"/NOLAUNCH"},
      {"/NOLAUNCH", "/UNIQUE"},
      {"/NOLAUNCH", "/DENUM"},
      {"/NOLAUNCH", "/DENUM", "/UNIQUE"},
      {"/NOLAUNCH", "/UNIQUE", "/KEEPNAMES"},
  };
  int runs = 0, kills = 0;
  // After "/KEEPNAMES", a restore gives every song its own name back.
  const auto restored = [&](const GameFolder& game, const Generated& folder,
                            const std::vector<std::string>& options) {
    if (options.back() != "/KEEPNAMES") return std::vector<std::string>();
    const ProgramRun run = game.Run({"/NOLAUNCH", "/RESTORE"});
    ++runs;
    EXPECT_LE(Lines(run.error_output), 4) << run.error_output;
    return Check(game, folder, true, true);
  };
  for (unsigned seed = 1; seed <= 5; ++seed) {
    const Generated folder = Generate(seed);
    const int entries = static_cast<int>(folder.songs.size());
    // Each entry gives a renaming box and two moving boxes at most; the
    // rest is a few boxes for the whole run ("temp", its mark).
    const int most_lines = 4 * (3 + 3 * entries);
    for (const std::vector<std::string>& options : option_sets) {
      SCOPED_TRACE("seed " + std::to_string(seed) + " " + options.back());
      int renames = 0;
      {
        GameFolder game(SHUFFLER_PROGRAM_PATH);
        Build(game, folder);
        const RenameKill whole = RunKilledAtRename(game.Program(), options, 0,
                                                   std::chrono::seconds(30));
        ++runs;
        ASSERT_EQ(whole.run.exit_code, 0);
        EXPECT_LE(Lines(whole.run.error_output), most_lines)
            << whole.run.error_output;
        std::vector<std::string> faults = Check(game, folder, true);
        ASSERT_TRUE(faults.empty()) << faults.front();
        renames = whole.renames;
        faults = restored(game, folder, options);
        ASSERT_TRUE(faults.empty()) << "restored: " << faults.front();
      }
      // A kill as the program asks for each of its renames, from a fresh
      // folder, then one more run. An entry whose new name is its own name
      // is not renamed, so a run may ask for one rename fewer for each
      // numbered entry: the kills stay below the count less those.
      int numbered = 0;
      for (const std::string& song : folder.songs) {
        const size_t dash = song.find('-');
        numbered += dash != std::string::npos && dash > 0 &&
                    song.find_first_not_of("0123456789") == dash;
      }
      for (int nth = 1; nth <= renames - numbered; ++nth) {
        GameFolder game(SHUFFLER_PROGRAM_PATH);
        Build(game, folder);
        const RenameKill killed = RunKilledAtRename(
            game.Program(), options, nth, std::chrono::seconds(30));
        EXPECT_TRUE(killed.killed) << "rename " << nth;
        kills += killed.killed ? 1 : 0;
        std::vector<std::string> faults = Check(game, folder, false);
        ASSERT_TRUE(faults.empty())
            << "killed at rename " << nth << ": " << faults.front();
        const ProgramRun again = game.Run(options);
        runs += 2;
        EXPECT_EQ(again.exit_code, 0);
        EXPECT_LE(Lines(again.error_output), most_lines) << again.error_output;
        faults = Check(game, folder, true);
        ASSERT_TRUE(faults.empty())
            << "after the kill at rename " << nth << ": " << faults.front();
        faults = restored(game, folder, options);
        ASSERT_TRUE(faults.empty()) << "restored after the kill at rename "
                                    << nth << ": " << faults.front();
      }
    }
  }
  // A folder the run cannot change: nothing moves, and one box says so,
  // with "temp" there (seed 1) or not (seed 5).
  for (unsigned seed : {5u, 1u}) {
    GameFolder game(SHUFFLER_PROGRAM_PATH);
    const Generated folder = Generate(seed);
    Build(game, folder);
    if (!SetFolderUnchangeable(game.Music().native(), true)) break;
    const ProgramRun run = game.Run({"/NOLAUNCH"});
    ++runs;
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(Lines(run.error_output), 4) << run.error_output;
    SetFolderUnchangeable(game.Music().native(), false);
    const std::vector<std::string> faults = Check(game, folder, true);
    EXPECT_TRUE(faults.empty()) << faults.front();
    EXPECT_TRUE(fs::exists(game.Music() / folder.songs.back()));
  }
  // A names file that cannot be read (damaged) or written (the game folder
  // cannot change): one box, nothing renamed, the file untouched.
  for (const bool damaged : {true, false}) {
    GameFolder game(SHUFFLER_PROGRAM_PATH);
    const Generated folder = Generate(2);
    Build(game, folder);
    const std::string bytes = "Shuffler names 1\r\nnonsense\r\n";
    if (damaged) game.Write("Shuffler.names", bytes);
    if (!damaged && !SetFolderUnchangeable(game.Root().native(), true)) break;
    const ProgramRun run = game.Run({"/NOLAUNCH", "/UNIQUE", "/KEEPNAMES"});
    if (!damaged) SetFolderUnchangeable(game.Root().native(), false);
    ++runs;
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(Lines(run.error_output), 7) << run.error_output;
    EXPECT_NE(run.error_output.find(damaged ? "cannot be read:\n"
                                            : "brought up to date:\n"),
              std::string::npos);
    EXPECT_EQ(fs::exists(game.Root() / "Shuffler.names"), damaged);
    if (damaged) {
      EXPECT_EQ(ReadContent(game.Root() / "Shuffler.names"), bytes);
    }
    const std::vector<std::string> faults = Check(game, folder, true, true);
    EXPECT_TRUE(faults.empty()) << faults.front();
  }
  // One song that refuses while the others do not, with every set of
  // options: immutable for the superuser, and for a player another's file
  // in a shared (sticky) folder. A player without the right to change the
  // folder at all gets one box. The refusing song keeps its name and gets
  // three boxes at most, the others are shuffled, and nothing is left in
  // "temp" (the generated "temp" is an empty one already there, where the
  // song refused first used to stop the whole shuffle).
  for (const bool as_player : {false, true}) {
    for (const std::vector<std::string>& options :
         std::vector(option_sets.begin(), option_sets.end() - 1)) {
      // Four folders, each with an empty "temp" already there, and four
      // chances that the song refusing is drawn first.
      for (const unsigned seed : {1u, 6u, 11u, 16u}) {
        const bool whole_folder =
            seed == 16 && as_player && options.size() == 1;
        SCOPED_TRACE(std::string(as_player ? "player " : "superuser ") +
                     (whole_folder ? "folder refuses" : "one song refuses ") +
                     options.back());
        GameFolder game(SHUFFLER_PROGRAM_PATH);
        const Generated folder = Generate(seed);
        Build(game, folder);
        const fs::path locked = game.Music() / folder.songs.front();
        const std::string music = game.Music().native();
        const bool set =
            as_player
                ? Ran("chown", {"-R", "65534:65534", music}) &&
                      Ran("chown", {"0:0", music, locked.native()}) &&
                      Ran("chmod", {whole_folder ? "0755" : "1777", music})
            : whole_folder ? SetFolderUnchangeable(music, true)
                           : Ran("chattr", {"+i", locked.native()});
        if (!set) {
          std::printf("[ crash    ] SKIPPED: cannot lock here\n");
          break;
        }
        const ProgramRun run = RunAs(game, as_player, options);
        ++runs;
        if (!as_player) {
          if (whole_folder) SetFolderUnchangeable(music, false);
          Ran("chattr", {"-i", locked.native()});
        }
        EXPECT_EQ(run.exit_code, 0);
        // Besides the song's, the album's two moving boxes.
        EXPECT_LE(Lines(run.error_output), whole_folder ? 4 : 10)
            << run.error_output;
        EXPECT_GE(Lines(run.error_output), whole_folder ? 4 : 2);
        EXPECT_TRUE(fs::exists(locked));
        // Every other song renamed ("/DENUM" leaves a bare name as it is).
        int renamed = 0;
        for (const auto& entry : fs::directory_iterator(game.Music())) {
          const std::string name = entry.path().filename().native();
          renamed +=
              !std::count(folder.songs.begin(), folder.songs.end(), name) &&
              name != "temp" && name != "MP3Report.txt";
        }
        if (options.size() == 1 || options[1] != "/DENUM") {
          EXPECT_EQ(renamed, whole_folder ? 0 : int(folder.songs.size()) - 1);
        }
        const std::vector<std::string> faults = Check(game, folder, true);
        EXPECT_TRUE(faults.empty()) << faults.front();
      }
    }
  }
  // No room on the disk: a small file system of the test's own, where
  // "temp" cannot be made (no inode left), or where the log runs out of
  // room part way with "/UNIQUE": one box, and every song in "mp3". With
  // "/KEEPNAMES", the names file has no room: one box, nothing renamed.
  for (const int full : {0, 1, 2}) {
    const bool log_full = full == 1, names = full == 2;
    const fs::path mount = fs::temp_directory_path() /
                           ("shuffler-full-" + std::to_string(getpid()));
    fs::create_directory(mount);
    if (!Ran("mount", {"-t", "tmpfs", "-o", "size=24m,nr_inodes=400", "tmpfs",
                       mount.native()})) {
      fs::remove(mount);
      std::printf("[ crash    ] SKIPPED: no tmpfs mount for a full disk\n");
      break;
    }
    {
      GameFolder game(SHUFFLER_PROGRAM_PATH, mount);
      Generated folder = Generate(5);
      for (int i = 0; i < 30 && log_full; ++i) {
        folder.songs.push_back(std::string(180, 'x') + std::to_string(i));
      }
      Build(game, folder);
      for (int i = 0; !log_full && i < 400; ++i) {
        if (!std::ofstream(mount / ("filler" + std::to_string(i)))) break;
      }
      if (log_full) {
        const auto room = fs::space(mount).available;
        std::ofstream(mount / "filler") << std::string(room - 4096, 'f');
      }
      const ProgramRun run = game.Run(
          log_full ? std::vector<std::string>{"/NOLAUNCH", "/UNIQUE", "/DEBUG"}
          : names  ? std::vector<std::string>{"/NOLAUNCH", "/KEEPNAMES"}
                   : std::vector<std::string>{"/NOLAUNCH"});
      ++runs;
      EXPECT_EQ(run.exit_code, 0);
      // The album's moving box may come first, while the log has room.
      EXPECT_LE(Lines(run.error_output), log_full ? 6
                                         : names  ? 7
                                                  : 4)
          << run.error_output;
      EXPECT_NE(run.error_output.find("Number: 61\nDescription: Disk full"),
                std::string::npos)
          << run.error_output;
      EXPECT_FALSE(fs::exists(game.Root() / "Shuffler.names.new"));
      const std::vector<std::string> faults = Check(game, folder, true, names);
      EXPECT_TRUE(faults.empty()) << faults.front();
      // A report that failed leaves "temp", holding only the mark.
      EXPECT_EQ(fs::exists(game.Temp()), log_full);
    }
    Ran("umount", {mount.native()});
    fs::remove(mount);
  }
  // A "temp" and a log that link out to a folder with a mark holding a song:
  // nothing goes there or comes back. Each move fails as for a file named
  // "temp" (two boxes of two lines an entry, four lines for "temp"); a linked
  // log is one that cannot be opened (one box, nothing renamed).
  for (const bool debug : {false, true}) {
    GameFolder game(SHUFFLER_PROGRAM_PATH), outside(SHUFFLER_PROGRAM_PATH);
    const Generated folder = Generate(5);
    Build(game, folder);
    fs::create_directory(outside.Music() / "Shuffler is moving files");
    outside.Write("mp3/Shuffler is moving files/Theirs.mp3", "theirs");
    outside.Write("log.txt", "their text");
    fs::create_directory_symlink(outside.Music(), game.Temp());
    fs::create_symlink(outside.Root() / "log.txt",
                       game.Root() / "Shuffler.log");
    const ProgramRun run =
        game.Run(debug ? std::vector<std::string>{"/NOLAUNCH", "/DEBUG"}
                       : std::vector<std::string>{"/NOLAUNCH"});
    ++runs;
    EXPECT_EQ(run.exit_code, 0);
    const size_t lines = debug ? 4 : 4 * folder.songs.size() + 4;
    EXPECT_EQ(Lines(run.error_output), static_cast<int>(lines))
        << run.error_output;
    const std::vector<std::string> faults = Check(game, folder, true);
    EXPECT_TRUE(faults.empty()) << faults.front();
    EXPECT_TRUE(fs::is_symlink(game.Temp()));
    EXPECT_EQ(ReadContent(outside.Root() / "log.txt"), "their text");
    EXPECT_EQ(
        ReadContent(outside.Music() / "Shuffler is moving files/Theirs.mp3"),
        "theirs");
  }
  std::printf(
      "[ crash    ] generated folders: %d runs, %d killed at a rename\n", runs,
      kills);
}

// A player who may pass through the game folder and write there, but not
// read it, still gets the run: a folder the claim cannot open counts as
// claimed. Run as an unprivileged user, whom permissions bind.
TEST(PosixCrashGenerated, AGameFolderThePlayerCannotReadIsShuffled) {
  GameFolder game(SHUFFLER_PROGRAM_PATH);
  const Generated folder = Generate(5);
  Build(game, folder);
  const std::string root = "'" + game.Root().native() + "'";
  const std::string as_nobody = "setpriv --reuid=65534 true 2>/dev/null";
  if (std::system((as_nobody + " && chown -R 65534 " + root + "/mp3 && chown " +
                   "65534 " + root + " && chmod 300 " + root)
                      .c_str()) != 0) {
    GTEST_SKIP() << "SKIPPED: cannot run as another user here";
  }
  const ProgramRun run =
      RunProgram("/usr/bin/setpriv",
                 {"--reuid=65534", "--regid=65534", "--clear-groups",
                  game.Program(), "/NOLAUNCH"},
                 std::chrono::seconds(30));
  EXPECT_EQ(run.exit_code, 0);
  // Only the album's two moving boxes: a folder is never moved.
  EXPECT_EQ(Lines(run.error_output), 4) << run.error_output;
  EXPECT_FALSE(fs::exists(game.Music() / "01-Song1.mp3"));  // shuffled
  const std::vector<std::string> faults = Check(game, folder, true);
  EXPECT_TRUE(faults.empty()) << faults.front();
}

}  // namespace
}  // namespace shuffler::posix_testing
