// The real program stopped dead at any moment: a run killed with SIGKILL
// anywhere in its work never loses a file and leaves nothing of its own
// behind. Every file stays present exactly once, in the music folder or in
// its "temp" folder, keeping its content and its name (bar the number
// prefix). On the local file system and on NTFS, exFAT and FAT32 mounted
// through FUSE, whose drivers refuse the never-replacing rename Linux has.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/testing/posix_testing.h"
#include "platform/posix/testing/scratch_mount.h"

namespace shuffler::posix_testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Where the trials run and how many: trials past the first `min_trials`
// stop once they have taken `budget`, so a slow machine (or a sanitizer
// build) keeps the suite bounded. The mounts get fewer files and kills:
// every call there is a round trip to a FUSE driver, and fusefat looks a
// name up by reading the whole folder, so a run there grows with the square
// of the folder (300 files take 26 s, 60 take about one).
struct Setting {
  const char* name;
  std::optional<WindowsFileSystem> mount;  // none: the temporary folder
  int files;
  int trials;
  int min_trials;
  std::chrono::seconds budget;
};

void PrintTo(const Setting& setting, std::ostream* out) {
  *out << setting.name;
}

const Setting kSettings[] = {
    {"Local", std::nullopt, 3000, 60, 12, std::chrono::seconds(10)},
    {"Ntfs", WindowsFileSystem::kNtfs, 300, 20, 10, std::chrono::seconds(8)},
    {"Exfat", WindowsFileSystem::kExfat, 300, 20, 10, std::chrono::seconds(8)},
    {"Fat32", WindowsFileSystem::kFat32, 60, 12, 8, std::chrono::seconds(8)},
};

std::string OriginalName(int i) {
  return "Track " + std::to_string(i) + ".mp3";
}
std::string ContentOf(int i) {
  return "content of track " + std::to_string(i) + "\n";
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
  int in_temp = 0;
  std::vector<std::string> faults;  // empty when every file is accounted for
};

// Finds every file of the music folder and of "temp" and checks that each
// original file is there exactly once, with its content and its name.
Census TakeCensus(const GameFolder& game,
                  const std::map<std::string, int>& by_content) {
  Census census;
  std::vector<int> seen(by_content.size(), 0);
  auto visit = [&](const fs::path& folder, int& counter) {
    if (!fs::is_directory(folder)) return;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().native();
      if (entry.is_directory()) {
        if (!(folder == game.Music() && name == "temp")) {
          census.faults.push_back("unexpected folder " + name);
        }
        continue;
      }
      const auto found = by_content.find(ReadContent(entry.path()));
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
  GameFolder game(SHUFFLER_PROGRAM_PATH, Base());
  std::map<std::string, int> by_content;
  for (int i = 0; i < files; ++i) {
    game.Write("mp3/" + OriginalName(i), ContentOf(i));
    by_content[ContentOf(i)] = i;
  }

  // One whole run first, to learn how long a run takes here.
  const auto started = Clock::now();
  const ProgramRun whole = game.Run({"/NOLAUNCH"});
  const auto run_time = Clock::now() - started;
  ASSERT_EQ(whole.exit_code, 0);
  ASSERT_EQ(whole.error_output, "");
  Census census = TakeCensus(game, by_content);
  ASSERT_TRUE(census.faults.empty()) << Describe(census);
  ASSERT_EQ(census.in_music, files);
  ASSERT_FALSE(fs::exists(game.Temp()));

  // Kill runs at moments spread from the very start to just past a whole
  // run's length, visited in an order that covers the whole span early
  // (37 and the trial count share no factor). Each run starts from what the
  // killed one before left.
  int trials = 0, killed = 0, stranded = 0, most_stranded_at_once = 0;
  const auto trials_started = Clock::now();
  for (int trial = 0; trial < planned; ++trial) {
    if (trial >= setting.min_trials &&
        Clock::now() - trials_started > setting.budget) {
      break;
    }
    const auto delay = std::chrono::duration_cast<std::chrono::microseconds>(
        run_time * (trial * 37 % planned + 0.5) * 1.1 / planned);
    StartedProgram run(game.Program(), {"/NOLAUNCH"});
    std::this_thread::sleep_for(delay);
    killed += run.KillNow() ? 1 : 0;
    ++trials;

    census = TakeCensus(game, by_content);
    ASSERT_TRUE(census.faults.empty())
        << "after the kill " << delay.count() << " us in:\n"
        << Describe(census);
    // Entries are moved out one at a time, and each run first brings back
    // what the run before left: a kill strands one file at most.
    EXPECT_LE(census.in_temp, 1) << "trial " << trial;
    stranded = census.in_temp;
    most_stranded_at_once = std::max(most_stranded_at_once, census.in_temp);
  }
  EXPECT_GE(killed, trials / 2) << "most kills should land inside a run";

  // A run that is let finish brings back what the last kill left in
  // "temp" and leaves every file in the music folder.
  const ProgramRun last = game.Run({"/NOLAUNCH"});
  EXPECT_EQ(last.exit_code, 0);
  EXPECT_EQ(last.error_output, "");
  census = TakeCensus(game, by_content);
  ASSERT_TRUE(census.faults.empty()) << Describe(census);
  EXPECT_EQ(census.in_music, files);
  EXPECT_FALSE(fs::exists(game.Temp()));
  // Every file the last run saw carries a number as wide as the count now.
  const size_t digits = std::to_string(files).size();
  for (const fs::directory_entry& entry :
       fs::directory_iterator(game.Music())) {
    if (entry.is_directory()) continue;
    const std::string name = entry.path().filename().native();
    EXPECT_TRUE(name.size() > digits + 1 && name[digits] == '-') << name;
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
      std::to_string(most_stranded_at_once) +
      "), all brought back by the next run, none lost";
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

}  // namespace
}  // namespace shuffler::posix_testing
