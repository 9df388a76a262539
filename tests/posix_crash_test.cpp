// The real program stopped dead at any moment: a run killed with SIGKILL
// anywhere in its work never loses a file. Every file stays present exactly
// once, in the music folder or in its "temp" folder, keeping its content and
// its name (bar the number prefix).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/testing/posix_testing.h"

namespace shuffler::posix_testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kFiles = 3000;
constexpr int kTrials = 60;
// Trials past the first kMinTrials stop once they have taken this long, so
// a slow machine (or a sanitizer build) keeps the suite bounded.
constexpr int kMinTrials = 12;
constexpr auto kBudget = std::chrono::seconds(10);

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
  std::vector<int> seen(kFiles, 0);
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
  for (int i = 0; i < kFiles; ++i) {
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

// Run without options, and with "/UNIQUE", which moves every entry out
// before any comes back: a kill between the two may leave them all in
// "temp".
class PosixCrash : public ::testing::TestWithParam<bool> {};

TEST_P(PosixCrash, AKilledRunNeverLosesAFileAndALaterRunFinishesTheWork) {
  const bool unique = GetParam();
  const std::vector<std::string> options =
      unique ? std::vector<std::string>{"/NOLAUNCH", "/UNIQUE"}
             : std::vector<std::string>{"/NOLAUNCH"};
  GameFolder game(SHUFFLER_PROGRAM_PATH);
  std::map<std::string, int> by_content;
  for (int i = 0; i < kFiles; ++i) {
    game.Write("mp3/" + OriginalName(i), ContentOf(i));
    by_content[ContentOf(i)] = i;
  }

  // One whole run first, to learn how long a run takes here.
  const auto started = Clock::now();
  const ProgramRun whole = game.Run(options);
  const auto run_time = Clock::now() - started;
  ASSERT_EQ(whole.exit_code, 0);
  ASSERT_EQ(whole.error_output, "");
  Census census = TakeCensus(game, by_content);
  ASSERT_TRUE(census.faults.empty()) << Describe(census);
  ASSERT_EQ(census.in_music, kFiles);
  ASSERT_FALSE(fs::exists(game.Temp()));

  // Kill runs at moments spread from the very start to just past a whole
  // run's length, visited in an order that covers the whole span early
  // (37 and kTrials share no factor). Each run starts from what the killed
  // one before left.
  int trials = 0, killed = 0, stranded = 0, most_stranded_at_once = 0;
  const auto trials_started = Clock::now();
  for (int trial = 0; trial < kTrials; ++trial) {
    if (trial >= kMinTrials && Clock::now() - trials_started > kBudget) break;
    const auto delay = std::chrono::duration_cast<std::chrono::microseconds>(
        run_time * (trial * 37 % kTrials + 0.5) * 1.1 / kTrials);
    StartedProgram run(game.Program(), options);
    std::this_thread::sleep_for(delay);
    killed += run.KillNow() ? 1 : 0;
    ++trials;

    census = TakeCensus(game, by_content);
    ASSERT_TRUE(census.faults.empty())
        << "after the kill " << delay.count() << " us in:\n"
        << Describe(census);
    // Entries are moved out one at a time, and each run first brings back
    // what the run before left: a kill strands one file at most.
    if (!unique) {
      EXPECT_LE(census.in_temp, 1) << "trial " << trial;
    }
    stranded = census.in_temp;
    most_stranded_at_once = std::max(most_stranded_at_once, census.in_temp);
  }
  EXPECT_GE(killed, trials / 2) << "most kills should land inside a run";

  // A run that is let finish brings back what the last kill left in
  // "temp" and leaves every file in the music folder.
  const ProgramRun last = game.Run(options);
  EXPECT_EQ(last.exit_code, 0);
  EXPECT_EQ(last.error_output, "");
  census = TakeCensus(game, by_content);
  ASSERT_TRUE(census.faults.empty()) << Describe(census);
  EXPECT_EQ(census.in_music, kFiles);
  EXPECT_FALSE(fs::exists(game.Temp()));
  // Every file the last run saw carries a four-digit number now.
  for (const fs::directory_entry& entry :
       fs::directory_iterator(game.Music())) {
    if (entry.is_directory()) continue;
    const std::string name = entry.path().filename().native();
    EXPECT_TRUE(name.size() > 5 && name[4] == '-') << name;
  }

  const std::string summary =
      std::string(unique ? "/UNIQUE: " : "") + std::to_string(trials) +
      " runs killed at spread-out moments (" + std::to_string(killed) +
      " of them mid-run), " + std::to_string(kFiles) +
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

INSTANTIATE_TEST_SUITE_P(Options, PosixCrash, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "Unique" : "Plain";
                         });

}  // namespace
}  // namespace shuffler::posix_testing
