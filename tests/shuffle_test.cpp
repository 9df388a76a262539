// The shuffle on the fake platform: new names, the order the folder is
// re-created in, each failure's box and log line, and that no file is ever
// lost or replaced.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <regex>

#include "base/text.h"
#include "music/names.h"
#include "tests/fake_platform.h"
#include "tests/folder_order.h"

namespace shuffler::testing {
namespace {

const Text kMusic(FakePlatform::kMusic);
const Text kTemp = u"C:\\Game\\mp3\\temp";
constexpr float kAlmostOne = 0.99999994f;  // the largest float below 1

Text Music(TextView name) {
  return kMusic + u"\\" + Text(name);
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// The music folder's visible names in listing order, as UTF-8.
std::vector<std::string> Listing(const FakePlatform& fake) {
  std::vector<std::string> names;
  for (const Text& name : fake.Names(kMusic))
    names.push_back(Narrow(name));
  return names;
}

struct MusicRun {
  FakePlatform fake;
  std::vector<std::string> before;  // file contents before the run

  MusicRun(const std::vector<Text>& names, TextView args, uint64_t seed = 7) {
    fake.AddMusic(names);
    fake.argument_text = Text(args) + u" /NOLAUNCH";
    fake.clock_seed = seed;
    before = fake.ContentsBelow(u"C:\\Game\\mp3");
  }
  // Runs to the end; checks that the run ended and lost nothing.
  void Go() {
    frmOne form(fake);
    ASSERT_TRUE(RunToEnd(form));
    EXPECT_EQ(fake.ContentsBelow(u"C:\\Game\\mp3"), before);
  }
  std::vector<Text> Prompts() const {
    std::vector<Text> prompts;
    for (const Box& box : fake.boxes)
      prompts.push_back(box.prompt);
    return prompts;
  }
};

TEST(Shuffle, ScriptedDrawsDecideTheOrderAndTheNumbers) {
  MusicRun run({u"a.mp3", u"b.mp3", u"c.mp3"}, u"/DEBUG");
  // Pick c and number 3; pick a and number 1; pick a again (already done,
  // drawn anew); pick b and number 2. The pick floors below the count even
  // for the largest value below 1.
  run.fake.randoms = {kAlmostOne, kAlmostOne, 0.0f, 0.0f, 0.1f, 0.5f, 0.5f};
  run.Go();
  EXPECT_EQ(Listing(run.fake),
            (std::vector<std::string>{"3-c.mp3", "1-a.mp3", "2-b.mp3"}));
  EXPECT_TRUE(run.fake.boxes.empty());
  EXPECT_FALSE(run.fake.Exists(kTemp));
  EXPECT_EQ(
      run.fake.log_lines,
      (std::vector<Text>{
          u"Renamed \"C:\\Game\\mp3\\c.mp3\" to \"C:\\Game\\mp3\\3-c.mp3\"",
          u"Renamed \"C:\\Game\\mp3\\a.mp3\" to \"C:\\Game\\mp3\\1-a.mp3\"",
          u"Renamed \"C:\\Game\\mp3\\b.mp3\" to "
          u"\"C:\\Game\\mp3\\2-b.mp3\""}));
  EXPECT_EQ(run.fake.Content(u"C:\\Game\\Shuffler.log").substr(0, 9),
            "Renamed \"");
}

TEST(Shuffle, PrefixWidthFollowsTheCountAndTheFolderFollowsTheLog) {
  for (int count : {1, 9, 10, 12}) {
    std::vector<Text> names;
    for (int i = 0; i < count; ++i) {
      names.push_back(u"07-Song" + DecimalText(i) + u".mp3");
    }
    MusicRun run(names, u"/DEBUG", 1000 + static_cast<uint64_t>(count));
    run.Go();
    EXPECT_TRUE(run.fake.boxes.empty());

    const int digits = count < 10 ? 1 : 2;
    const std::regex pattern("([0-9]{" + std::to_string(digits) +
                             "})-Song([0-9]+)\\.mp3");
    std::vector<std::string> listing = Listing(run.fake);
    ASSERT_EQ(listing.size(), static_cast<size_t>(count));
    for (const std::string& name : listing) {
      std::smatch match;
      ASSERT_TRUE(std::regex_match(name, match, pattern)) << name;
      const int number = std::stoi(match[1]);
      EXPECT_GE(number, 1) << name;
      EXPECT_LE(number, count) << name;
    }
    if (count == 1) {
      EXPECT_EQ(listing[0], "1-Song0.mp3");
    }
    // The folder is re-created in the order the entries were processed,
    // which is the order of the log.
    ASSERT_EQ(run.fake.log_lines.size(), static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
      const std::string line = Narrow(run.fake.log_lines[i]);
      EXPECT_NE(line.find("\\" + listing[i] + "\""), std::string::npos) << line;
    }
  }
}

TEST(Shuffle, BareNamesLoseOnlyANumericPrefix) {
  MusicRun run({u"Song - Live.mp3", u"-Intro.mp3", u"2001-Odyssey.mp3",
                u"07-Song.mp3", u"01 - Spaced.mp3"},
               u"");
  run.Go();
  std::vector<std::string> bare;
  for (const std::string& name : Listing(run.fake)) {
    ASSERT_TRUE(name.size() > 2 && name[0] >= '1' && name[0] <= '5' &&
                name[1] == '-')
        << name;
    bare.push_back(name.substr(2));
  }
  EXPECT_EQ(Sorted(bare), Sorted({"Song - Live.mp3", "-Intro.mp3",
                                  "Odyssey.mp3", "Song.mp3", " Spaced.mp3"}));
}

TEST(Shuffle, DenumberingCollisionKeepsTheSecondAndLosesNothing) {
  MusicRun run({u"01-Song.mp3", u"02-Song.mp3", u"Plain.mp3"},
               u"/DENUM /DEBUG");
  run.Go();
  std::vector<std::string> listing = Listing(run.fake);
  EXPECT_EQ(Sorted(listing).size(), 3u);
  EXPECT_TRUE(run.fake.Exists(Music(u"Song.mp3")));
  EXPECT_TRUE(run.fake.Exists(Music(u"Plain.mp3")));
  const bool first_won = !run.fake.Exists(Music(u"01-Song.mp3"));
  const Text loser = first_won ? u"02-Song.mp3" : u"01-Song.mp3";
  EXPECT_TRUE(run.fake.Exists(Music(loser)));
  EXPECT_EQ(run.fake.Content(Music(u"Song.mp3")),
            first_won ? "01-Song.mp3" : "02-Song.mp3");

  // One box: the loser's rename. A name that is already bare is renamed to
  // itself, which is no failure. The loser's moves act on "Song.mp3".
  EXPECT_EQ(run.Prompts(),
            std::vector<Text>{u"An error occurred renaming file: \r\n" +
                              Music(loser)});
  EXPECT_EQ(run.fake.boxes[0].caption, u"Error");
  EXPECT_EQ(run.fake.CallsOf(Op::kMoveFile), 6);
  EXPECT_NE(std::find(run.fake.log_lines.begin(), run.fake.log_lines.end(),
                      u"*** An error occurred renaming file: " + Music(loser)),
            run.fake.log_lines.end());
  // The entry moved last was re-created last.
  EXPECT_EQ(run.fake.Names(kMusic).size(), 3u);
}

TEST(Shuffle, UniqueNumbersFollowTheOrderAndAllGoOutBeforeAnyComesBack) {
  MusicRun run({u"a.mp3", u"07-b.mp3", u"c.mp3"}, u"/UNIQUE /DEBUG");
  // Pick c, then a, then b: no number is drawn.
  run.fake.randoms = {kAlmostOne, 0.0f, 0.5f};
  // The fourth move is the first back: by then all three are out.
  std::vector<Text> in_temp_when_back;
  run.fake.before_call = [&](Op op, int nth) {
    if (op == Op::kMoveFile && nth == 4)
      in_temp_when_back = run.fake.Names(kTemp);
  };
  run.Go();
  EXPECT_TRUE(run.fake.boxes.empty());
  EXPECT_EQ(Listing(run.fake),
            (std::vector<std::string>{"1-c.mp3", "2-a.mp3", "3-b.mp3"}));
  EXPECT_EQ(in_temp_when_back,
            (std::vector<Text>{u"Shuffler is moving files", u"1-c.mp3",
                               u"2-a.mp3", u"3-b.mp3"}));
  EXPECT_EQ(run.fake.CallsOf(Op::kMoveFile), 6);
  // The folder's order against the numbers, and against the order before
  // (a, b, c became c, a, b: one pair of three kept its order).
  const std::vector<std::string> after = Listing(run.fake);
  EXPECT_EQ(TauAgainstNumbers(after), 1.0);
  EXPECT_EQ(TauAgainstNumbers({"3-x", "2-y", "1-z"}), -1.0);
  const auto bare = [](const std::string& name) {
    return Narrow(BareName(Text(name.begin(), name.end())));
  };
  EXPECT_NEAR(TauAgainstBefore(after, {"a.mp3", "07-b.mp3", "c.mp3"}, bare),
              -1.0 / 3, 1e-12);
  ASSERT_EQ(run.fake.log_lines.size(), 3u);
  EXPECT_EQ(run.fake.log_lines[2], u"Renamed \"" + Music(u"07-b.mp3") +
                                       u"\" to \"" + Music(u"3-b.mp3") + u"\"");
  EXPECT_FALSE(run.fake.Exists(kTemp));
}

TEST(Shuffle, UniqueDenumberingCollisionStrandsNothing) {
  // The second "Song.mp3" finds the first in "temp": it keeps its name,
  // and neither it nor the first is held up.
  MusicRun run({u"01-Song.mp3", u"02-Song.mp3", u"Plain.mp3"},
               u"/UNIQUE /DENUM /DEBUG");
  run.Go();
  EXPECT_TRUE(run.fake.Exists(Music(u"Song.mp3")));
  EXPECT_TRUE(run.fake.Exists(Music(u"Plain.mp3")));
  const bool first_won = !run.fake.Exists(Music(u"01-Song.mp3"));
  const Text loser = first_won ? u"02-Song.mp3" : u"01-Song.mp3";
  EXPECT_TRUE(run.fake.Exists(Music(loser)));
  EXPECT_EQ(run.Prompts(),
            std::vector<Text>{u"An error occurred renaming file: \r\n" +
                              Music(loser)});
  EXPECT_EQ(run.fake.CallsOf(Op::kMoveFile), 4);
  EXPECT_EQ(run.fake.CallsOf(Op::kRenameEntry), 2);
  EXPECT_FALSE(run.fake.Exists(kTemp));

  // Where "?" and "*" are characters of a name, the look in "temp" is for
  // that very name: "Song?.mp3" is not taken by "Song1.mp3", whichever
  // comes first.
  for (uint64_t seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    MusicRun wild({u"01-Song1.mp3", u"02-Song?.mp3", u"03-*.mp3"},
                  u"/UNIQUE /DENUM", seed);
    wild.Go();
    EXPECT_TRUE(wild.fake.boxes.empty());
    EXPECT_EQ(Sorted(Listing(wild.fake)),
              (std::vector<std::string>{"*.mp3", "Song1.mp3", "Song?.mp3"}));
  }
}

TEST(Shuffle, AFailedRenameIsFollowedByTwoFailedMoves) {
  MusicRun run({u"a.mp3"}, u"/DEBUG");
  run.fake.FailCall(Op::kRenameEntry, 1, kPathFileAccessError);
  run.Go();
  const Text old_path = Music(u"a.mp3");
  EXPECT_EQ(
      run.Prompts(),
      (std::vector<Text>{u"An error occurred renaming file: \r\n" + old_path,
                         u"An error occurred moving file: \r\n" + old_path,
                         u"An error occurred moving file: \r\n" + old_path}));
  for (const Box& box : run.fake.boxes)
    EXPECT_EQ(box.caption, u"Error");
  EXPECT_EQ(
      run.fake.log_lines,
      (std::vector<Text>{
          u"Renamed \"" + old_path + u"\" to \"" + Music(u"1-a.mp3") + u"\"",
          u"*** An error occurred renaming file: " + old_path,
          u"*** An error occurred moving file: " + old_path,
          u"*** An error occurred moving file: " + old_path}));
  EXPECT_TRUE(run.fake.Exists(old_path));  // keeps its old name
  EXPECT_FALSE(run.fake.Exists(kTemp));

  // With "/UNIQUE" the entry that was not renamed is not moved either.
  MusicRun unique({u"a.mp3", u"b.mp3"}, u"/UNIQUE");
  unique.fake.FailCall(Op::kRenameEntry, 1, kPathFileAccessError);
  unique.Go();
  ASSERT_EQ(unique.Prompts().size(), 1u);
  EXPECT_EQ(unique.Prompts()[0].rfind(u"An error occurred renaming file: ", 0),
            0u);
  EXPECT_EQ(unique.fake.CallsOf(Op::kMoveFile), 2);

  // Refused before any entry changed (a song held for a moment), it waits
  // and is tried again once another has changed: no box, all renamed.
  MusicRun held({u"a.mp3", u"b.mp3", u"c.mp3"}, u"");
  held.fake.AddFolder(kTemp);
  held.fake.FailCall(Op::kRenameEntry, 1, kPermissionDenied);
  held.Go();
  EXPECT_TRUE(held.fake.boxes.empty());
  EXPECT_EQ(held.fake.CallsOf(Op::kRenameEntry), 4);
}

TEST(Shuffle, AFileNamedTempMakesEveryMoveFailAndItsRemovalToo) {
  for (bool debug : {false, true}) {
    MusicRun run({u"a.mp3", u"b.mp3"}, debug ? u"/DEBUG" : u"");
    run.fake.AddFile(kTemp, "not a folder");
    run.before = run.fake.ContentsBelow(u"C:\\Game\\mp3");
    run.Go();
    EXPECT_EQ(run.fake.CallsOf(Op::kMakeFolder), 0);
    ASSERT_EQ(run.fake.boxes.size(), 5u);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(run.fake.boxes[i].prompt.rfind(
                    u"An error occurred moving file: \r\nC:\\Game\\mp3\\", 0),
                0u);
    }
    // The removal fails after the log is closed: with the log on, writing
    // its failure line fails in turn and the startup box reports that.
    EXPECT_EQ(run.fake.boxes[4].prompt,
              debug ? u"An error occurred!\r\n\r\nError Number: 52\r\n"
                      u"Description: Bad file name or number"
                    : u"An error occurred!\r\n\r\nNumber: 76\r\n"
                      u"Description: Path not found");
    EXPECT_EQ(run.fake.boxes[4].caption, debug ? u"Shuffler" : u"Error");
    // The entries keep their new names in the music folder.
    for (const std::string& name : Listing(run.fake)) {
      EXPECT_TRUE(name == "temp" || name[1] == '-') << name;
    }
    EXPECT_EQ(run.fake.Content(kTemp), "not a folder");
  }
}

TEST(Shuffle, AFailureAfterTheMovesGivesTheGeneralBoxAndLogLine) {
  MusicRun run({u"a.mp3"}, u"/DEBUG");
  run.fake.FailCall(Op::kCloseLog, 1, kPathFileAccessError);
  run.Go();
  EXPECT_EQ(run.Prompts(),
            std::vector<Text>{u"An error occurred!\r\n\r\nNumber: 75\r\n"
                              u"Description: Path/File access error"});
  EXPECT_EQ(run.fake.boxes[0].caption, u"Error");
  EXPECT_EQ(run.fake.log_lines.back(),
            u"*** An error occurred! 75, Path/File access error");
  EXPECT_FALSE(run.fake.Exists(kTemp));
}

TEST(Shuffle, ASubFolderIsRenamedButNotMoved) {
  MusicRun run({u"a.mp3"}, u"");
  run.fake.AddFolder(Music(u"Live"));
  run.fake.AddFile(Music(u"Live\\inside.mp3"), "inside");
  run.before = run.fake.ContentsBelow(u"C:\\Game\\mp3");
  run.fake.randoms = {0.9f, 0.9f};  // the folder first, as number 2
  run.Go();
  EXPECT_TRUE(run.fake.IsFolder(Music(u"2-Live")));
  EXPECT_EQ(run.fake.Content(Music(u"2-Live\\inside.mp3")), "inside");
  const Text prompt = u"An error occurred moving file: \r\n" + Music(u"Live");
  EXPECT_EQ(run.Prompts(), (std::vector<Text>{prompt, prompt}));
  EXPECT_FALSE(run.fake.Exists(kTemp));

  // With "/UNIQUE" a failed move affects that entry alone: one box, and
  // no move back of what never went out.
  MusicRun unique({u"a.mp3"}, u"/UNIQUE");
  unique.fake.AddFolder(Music(u"Live"));
  unique.before = unique.fake.ContentsBelow(kMusic);
  unique.fake.randoms = {0.9f};  // the folder first, as number 1
  unique.Go();
  EXPECT_TRUE(unique.fake.IsFolder(Music(u"1-Live")));
  EXPECT_EQ(unique.Prompts(), std::vector<Text>{prompt});
  EXPECT_EQ(unique.fake.CallsOf(Op::kMoveFile), 3);
  EXPECT_EQ(Listing(unique.fake),
            (std::vector<std::string>{"1-Live", "2-a.mp3"}));
}

TEST(Shuffle, APlayersOwnTempFolderIsUsedAsItIsInAnyLetterCase) {
  {
    // Holding only a name that Linux listings hide: it is the player's,
    // never marked, and nothing is taken out of it, run after run.
    MusicRun run({u"a.mp3"}, u"");
    run.fake.dot_names_hidden = true;
    run.fake.AddFolder(kTemp);
    run.fake.AddFile(kTemp + u"\\.keep", "keep");
    run.before = run.fake.ContentsBelow(kMusic);
    run.Go();
    run.Go();
    EXPECT_EQ(run.fake.Names(kTemp), std::vector<Text>{u".keep"});
  }
  {
    // Empty: holding nothing of the player's, it is marked like a "temp"
    // of the run's own (made only to be marked), and removed at the end.
    MusicRun run({u"a.mp3", u"b.mp3"}, u"");
    run.fake.AddFolder(kTemp);
    run.Go();
    EXPECT_EQ(run.fake.CallsOf(Op::kMakeFolder), 1);
    EXPECT_EQ(run.fake.CallsOf(Op::kMoveFile), 4);
    EXPECT_TRUE(run.fake.boxes.empty());
    EXPECT_FALSE(run.fake.Exists(kTemp));
  }
  for (bool ignore_case : {false, true}) {
    // Holding a file of the player's: nothing is taken out of it, and it
    // cannot be removed. Where names ignore letter case, "Temp" is that
    // folder, and it is not renamed away while it is in use.
    const Text folder = ignore_case ? u"Temp" : u"temp";
    SCOPED_TRACE(Narrow(folder));
    MusicRun run({u"a.mp3", u"b.mp3"}, u"/DEBUG");
    run.fake.ignore_case = ignore_case;
    run.fake.AddFolder(Music(folder));
    run.fake.AddFile(Music(folder + u"\\parked.mp3"), "parked");
    run.before = run.fake.ContentsBelow(kMusic);
    run.Go();
    EXPECT_EQ(run.fake.Names(Music(folder)), std::vector<Text>{u"parked.mp3"});
    EXPECT_EQ(run.fake.CallsOf(Op::kMakeFolder), 0);
    EXPECT_EQ(run.fake.CallsOf(Op::kRenameEntry), 2);
    EXPECT_EQ(run.fake.CallsOf(Op::kMoveFile), 4);
    // The removal fails after the log is closed, so the startup box says
    // that its line could not be written.
    EXPECT_EQ(run.Prompts(),
              std::vector<Text>{u"An error occurred!\r\n\r\nError Number: 52"
                                u"\r\nDescription: Bad file name or number"});
    for (const std::string& name : Listing(run.fake)) {
      EXPECT_TRUE(name == Narrow(folder) || name[1] == '-') << name;
    }
  }
  {
    // Where letter case counts, "Temp" is an entry like any other.
    MusicRun run({u"a.mp3", u"b.mp3"}, u"");
    run.fake.AddFolder(Music(u"Temp"));
    run.fake.AddFile(Music(u"Temp\\parked.mp3"), "parked");
    run.before = run.fake.ContentsBelow(kMusic);
    run.Go();
    EXPECT_EQ(run.fake.CallsOf(Op::kRenameEntry), 3);
    EXPECT_EQ(run.fake.boxes.size(), 2u);  // the folder cannot be moved
    EXPECT_FALSE(run.fake.Exists(kTemp));
    EXPECT_FALSE(run.fake.Exists(Music(u"Temp")));
  }
}

TEST(Shuffle, WhatAStoppedRunLeftInItsMarkedTempComesBackBeforeTheCount) {
  const Text mark = kTemp + u"\\Shuffler is moving files";
  {
    // A file that cannot come back (its name is taken) stays, and is
    // reported, as is the folder that keeps it; the mark stays with it.
    MusicRun run({u"a.mp3"}, u"");
    run.fake.AddFolder(kTemp);
    run.fake.AddFolder(mark);
    run.fake.AddFile(kTemp + u"\\12-left.mp3", "left over");
    run.fake.AddFile(kTemp + u"\\a.mp3", "taken");
    run.fake.AddFolder(kTemp + u"\\folder");
    run.before = run.fake.ContentsBelow(kMusic);
    run.Go();
    // What came back was counted and shuffled with the rest.
    std::vector<std::string> listing = Listing(run.fake);
    std::sort(listing.begin(), listing.end());
    ASSERT_EQ(listing.size(), 3u);
    EXPECT_TRUE(listing[0].ends_with("-a.mp3")) << listing[0];
    EXPECT_TRUE(listing[1].ends_with("-left.mp3")) << listing[1];
    EXPECT_EQ(listing[2], "temp");
    EXPECT_EQ(run.fake.Content(kTemp + u"\\a.mp3"), "taken");
    EXPECT_TRUE(run.fake.IsFolder(mark));
    const Text taken = kTemp + u"\\a.mp3";
    EXPECT_EQ(run.Prompts(),
              (std::vector<Text>{u"An error occurred moving file: \r\n" + taken,
                                 u"An error occurred!\r\n\r\nNumber: 75\r\n"
                                 u"Description: Path/File access error"}));
  }
  {
    // A one-song folder whose only song was stranded gets it back.
    MusicRun run({}, u"/DEBUG");
    run.fake.AddFolder(kMusic);
    run.fake.AddFolder(kTemp);
    run.fake.AddFolder(mark);
    run.fake.AddFile(kTemp + u"\\07-Song.mp3", "song");
    run.before = run.fake.ContentsBelow(kMusic);
    run.Go();
    EXPECT_TRUE(run.fake.boxes.empty());
    EXPECT_EQ(Listing(run.fake), std::vector<std::string>{"1-Song.mp3"});
    EXPECT_FALSE(run.fake.Exists(kTemp));
    EXPECT_EQ(run.fake.log_lines,
              std::vector<Text>{u"Renamed \"" + Music(u"07-Song.mp3") +
                                u"\" to \"" + Music(u"1-Song.mp3") + u"\""});
  }
}

TEST(Shuffle, ANameThatBecameHiddenComesBackFromTheMarkedTemp) {
  // "/DENUM" turns "07-.Intro.mp3" into ".Intro.mp3", a name Linux
  // listings hide. A run stopped while it is in "temp", or whose move back
  // fails, leaves it there with the mark; the next run brings it back, and
  // nothing is left behind.
  for (int variant = 0; variant < 3; ++variant) {
    const bool unique = variant == 1, fails = variant == 2;
    SCOPED_TRACE(unique ? "/UNIQUE" : fails ? "failing" : "");
    struct Stopped {};
    const Text parked = kTemp + u"\\.Intro.mp3";
    MusicRun run({u"07-.Intro.mp3", u"a.mp3"},
                 unique ? u"/DENUM /UNIQUE" : u"/DENUM");
    run.fake.dot_names_hidden = true;
    run.fake.before_call = [&](Op op, int) {
      if (op != Op::kMoveFile || !run.fake.Exists(parked)) return;
      if (!fails) throw Stopped{};
      run.fake.before_call = nullptr;
      Raise(kPathFileAccessError);
    };
    frmOne first(run.fake);
    if (fails) {
      EXPECT_TRUE(RunToEnd(first));
      run.fake.boxes.clear();
    } else {
      EXPECT_THROW(first.RunStartup(), Stopped);
    }
    run.fake.before_call = nullptr;
    ASSERT_TRUE(run.fake.Exists(parked));
    run.Go();
    EXPECT_TRUE(run.fake.boxes.empty());
    EXPECT_TRUE(run.fake.Exists(Music(u".Intro.mp3")));
    EXPECT_FALSE(run.fake.Exists(kTemp));
  }
}

// Runs `run` again, whole, with `args`; then, when `restore`, once more
// with "/RESTORE": every entry has its own name back, and the folder lists
// them in the order of those names.
void RunAgain(MusicRun& run, TextView args, bool restore,
              std::vector<std::string> own) {
  run.fake.argument_text = Text(args) + u" /NOLAUNCH";
  run.Go();
  if (!restore) return;
  run.fake.argument_text = u"/RESTORE /NOLAUNCH";
  run.fake.boxes.clear();
  run.Go();
  // A kill may leave an entry in a "temp" of the player's own.
  std::vector<std::string> now = Listing(run.fake);
  now.erase(std::remove(now.begin(), now.end(), "Temp"), now.end());
  EXPECT_TRUE(std::is_sorted(now.begin(), now.end()));
  EXPECT_TRUE(std::includes(own.begin(), own.end(), now.begin(), now.end()));
}

TEST(Shuffle, ARunStoppedAtAnyMomentLosesNothingAndTheNextBringsAllBack) {
  // The run is stopped dead before each of its calls in turn; then a whole
  // run follows. With a "Temp" of the player's, where names ignore letter
  // case, what the player keeps there stays there, whatever happens.
  // With "/UNIQUE", and in a restore, all may be out in "temp" when the run
  // stops. After "/KEEPNAMES", stopped or not, a restore gives every entry
  // its own name back.
  struct Stopped {};
  struct Variant {
    TextView args;
    bool players_temp = false, all_out = false, restore = false;
  };
  const Variant variants[] = {
      {u""},
      {u"", true},
      {u"/UNIQUE", false, true},
      {u"/UNIQUE", true, true},
      {u"/UNIQUE /KEEPNAMES", false, true, true},
      {u"/RESTORE", false, true, true},
      {u"/RESTORE", true, false, true},
  };
  const std::vector<std::string> own = {"01-a.mp3", "2001-b.mp3", "c.mp3"};
  for (const Variant& variant : variants) {
    const bool players_temp = variant.players_temp;
    SCOPED_TRACE(players_temp ? "with the player's Temp" : "without temp");
    SCOPED_TRACE(Narrow(variant.args));
    const Text parked = Music(u"Temp\\parked.mp3");
    size_t most_in_temp = 0;
    int k = 1;
    for (bool stopped = true; stopped; ++k) {
      SCOPED_TRACE("stopped before call " + std::to_string(k));
      MusicRun run({u"01-a.mp3", u"2001-b.mp3", u"c.mp3"}, variant.args);
      if (players_temp) {
        run.fake.ignore_case = true;
        run.fake.AddFolder(Music(u"Temp"));
        run.fake.AddFile(parked, "parked");
        run.before = run.fake.ContentsBelow(kMusic);
      }
      if (variant.args == u"/RESTORE") {
        RunAgain(run, u"/KEEPNAMES", false, own);
        run.fake.argument_text = u"/RESTORE /NOLAUNCH";
      }
      const int before = run.fake.OverallCalls();
      stopped = false;
      run.fake.before_call = [&](Op, int) {
        if (run.fake.OverallCalls() == before + k) {
          stopped = true;
          throw Stopped{};
        }
      };
      frmOne stopped_form(run.fake);
      try {
        stopped_form.RunStartup();
      } catch (const Stopped&) {
      } catch (const ProcessEnded&) {
      }
      run.fake.before_call = nullptr;
      EXPECT_EQ(run.fake.ContentsBelow(kMusic), run.before);
      if (players_temp) {
        EXPECT_EQ(run.fake.Content(parked), "parked");
      } else {
        // The mark and one file, or with every entry out all three.
        EXPECT_LE(run.fake.Names(kTemp).size(), variant.all_out ? 4u : 2u);
        most_in_temp = std::max(most_in_temp, run.fake.Names(kTemp).size());
      }
      RunAgain(run, variant.args, variant.restore, own);
      if (players_temp) {
        EXPECT_EQ(run.fake.Content(parked), "parked");
      } else {
        // Everything is back in the music folder, and "temp" is gone.
        EXPECT_EQ(run.fake.Names(kMusic).size(), 3u);
        EXPECT_FALSE(run.fake.Exists(kTemp));
        EXPECT_TRUE(run.fake.boxes.empty());
      }
    }
    EXPECT_GT(k, 20);
    if (!players_temp) {
      EXPECT_EQ(most_in_temp, variant.all_out ? 4u : 2u);
    }
  }
}

TEST(Shuffle, ARestoreNeverReplacesATakenNameAndIgnoresDenumAndUnique) {
  // The player's new "01-a.mp3" and "b.mp3" hold the names kept for two
  // shuffled songs, one sorting before its holder, one after. Both keep
  // their shuffled names, and each gets its renaming box; the third song
  // gets its name back.
  MusicRun run({u"01-a.mp3", u"b.mp3", u"c.mp3"}, u"/UNIQUE /KEEPNAMES");
  run.Go();
  std::vector<std::string> shuffled = Sorted(Listing(run.fake));
  ASSERT_EQ(shuffled.size(), 3u);
  run.fake.AddFile(Music(u"01-a.mp3"), "the player's new a");
  run.fake.AddFile(Music(u"b.mp3"), "the player's new b");
  run.before = run.fake.ContentsBelow(kMusic);
  RunAgain(run, u"/RESTORE /DENUM /UNIQUE /DEBUG", false, {});
  const auto ending = [&](const char* end) {
    return Narrow(Music(Text())) +
           *std::find_if(
               shuffled.begin(), shuffled.end(),
               [&](const std::string& name) { return name.ends_with(end); });
  };
  std::vector<std::string> prompts;
  for (const Text& prompt : run.Prompts())
    prompts.push_back(Narrow(prompt));
  EXPECT_EQ(prompts,
            (std::vector<std::string>{
                "An error occurred renaming file: \r\n" + ending("-a.mp3"),
                "An error occurred renaming file: \r\n" + ending("-b.mp3")}));
  const std::vector<std::string> listing = Listing(run.fake);
  ASSERT_EQ(listing.size(), 5u);
  EXPECT_EQ(listing[0], "01-a.mp3");
  EXPECT_EQ(listing[3], "b.mp3");
  EXPECT_EQ(listing[4], "c.mp3");
  ASSERT_EQ(run.fake.log_lines.size(), 3u);
  EXPECT_EQ(Narrow(run.fake.log_lines[2]), "Renamed \"" + ending("-c.mp3") +
                                               "\" to \"" +
                                               Narrow(Music(u"c.mp3")) + "\"");
}

TEST(Shuffle, ALogThatCannotBeWrittenLeavesTheShuffleForTheStartupBox) {
  MusicRun run({u"a.mp3", u"b.mp3"}, u"/DEBUG");
  run.fake.FailCall(Op::kOpenLog, 1, kPermissionDenied);
  run.Go();
  // The open fails; the shuffle's box would follow its log line, whose
  // write fails because the log is not open.
  EXPECT_EQ(run.Prompts(),
            std::vector<Text>{u"An error occurred!\r\n\r\nError Number: 52\r\n"
                              u"Description: Bad file name or number"});
  EXPECT_EQ(run.fake.boxes[0].caption, u"Shuffler");
  EXPECT_TRUE(run.fake.IsFolder(kTemp));  // left behind
  EXPECT_EQ(run.fake.CallsOf(Op::kRenameEntry), 0);
  EXPECT_TRUE(run.fake.ended);
}

TEST(Shuffle, AnEntryNamedLikeTheMarkerIsShuffledAndTheRunEnds) {
  MusicRun run({u"###FILEALREADYRENAMED###", u"b.mp3"}, u"");
  run.Go();
  EXPECT_TRUE(run.fake.boxes.empty());
  EXPECT_EQ(run.fake.CallsOf(Op::kRenameEntry), 2);
  for (const std::string& name : Listing(run.fake)) {
    EXPECT_EQ(name[1], '-') << name;
  }
}

TEST(Shuffle, NothingIsLostWhicheverCallFails) {
  // Every operation of a run over a collision pair, a sub-folder and a
  // report file fails once in turn; every run ends with all files in place.
  // After "/KEEPNAMES", and after a restore, whatever failed, a restore
  // gives every entry its own name back: no entry is renamed before its
  // name is kept.
  const std::vector<Text> names = {u"01-Song.mp3", u"02-Song.mp3", u"x.mp3",
                                   u"MP3Report.txt"};
  const std::vector<std::string> own = {"01-Song.mp3", "02-Song.mp3",
                                        "MP3Report.txt", "Sub", "x.mp3"};
  int total = 0;
  for (TextView args : {u"/DENUM /DEBUG", u"", u"/UNIQUE /KEEPNAMES /DEBUG",
                        u"/RESTORE /DEBUG"}) {
    const bool restore = args.starts_with(u"/RESTORE");
    const auto start = [&] {
      auto run = std::make_unique<MusicRun>(names, args);
      run->fake.AddFolder(Music(u"Sub"));
      if (restore) RunAgain(*run, u"/UNIQUE /KEEPNAMES", false, own);
      run->fake.argument_text = Text(args) + u" /NOLAUNCH";
      return run;
    };
    const auto probe = start();
    const int before = probe->fake.OverallCalls();
    probe->Go();
    total = probe->fake.OverallCalls() - before;
    for (int k = 1; k <= total; ++k) {
      const auto run = start();
      run->fake.FailOverallCall(run->fake.OverallCalls() + k,
                                kPathFileAccessError);
      run->Go();
      EXPECT_EQ(run->fake.injected, 1) << "call " << k;
      EXPECT_EQ(run->fake.boxes.size() >= 1, true) << "call " << k;
      SCOPED_TRACE(Narrow(args));
      if (args.find(u"/KEEPNAMES") != TextView::npos || restore) {
        RunAgain(*run, u"/RESTORE", false, own);
        EXPECT_EQ(Sorted(Listing(run->fake)), own) << "call " << k;
      }
    }
  }
  EXPECT_GT(total, 20);
}

TEST(Shuffle, EveryEntryIsEquallyLikelyToComeFirstAndNumbersAreUniform) {
  // Fixed seeds: the counts are the same every time, and a fair shuffle
  // passes with room to spare while a biased pick does not.
  constexpr int kRuns = 12000, kEntries = 4;
  std::map<std::string, int> first, numbers;
  for (int seed = 1; seed <= kRuns; ++seed) {
    MusicRun run({u"a", u"b", u"c", u"d"}, u"", static_cast<uint64_t>(seed));
    run.Go();
    const std::vector<std::string> listing = Listing(run.fake);
    ++first[listing[0].substr(2)];
    for (const std::string& name : listing)
      ++numbers[name.substr(0, 1)];
  }
  auto chi_square = [](const std::map<std::string, int>& counts,
                       double expected) {
    double sum = 0;
    for (const auto& [key, count] : counts) {
      sum += (count - expected) * (count - expected) / expected;
    }
    return sum;
  };
  ASSERT_EQ(first.size(), 4u);
  ASSERT_EQ(numbers.size(), 4u);
  // 16.27 is the 99.9% point of chi-square with 3 degrees of freedom.
  EXPECT_LT(chi_square(first, kRuns / kEntries), 16.27);
  EXPECT_LT(chi_square(numbers, kRuns), 16.27);

  // With "/UNIQUE" the numbers are 1 to 4 once each, the folder follows
  // them, and the order of the names (what a player sorting by name plays)
  // is each of the 24 orders equally often.
  std::map<std::string, int> name_orders;
  for (int seed = 1; seed <= kRuns; ++seed) {
    MusicRun run({u"a", u"b", u"c", u"d"}, u"/UNIQUE",
                 static_cast<uint64_t>(seed));
    run.Go();
    std::vector<std::string> listing = Listing(run.fake);
    EXPECT_EQ(TauAgainstNumbers(listing), 1.0) << "seed " << seed;
    std::sort(listing.begin(), listing.end());
    std::string order;
    for (const std::string& name : listing)
      order += name;
    ASSERT_EQ(order.size(), 12u) << order;
    EXPECT_EQ(order.substr(0, 2) + order.substr(3, 2) + order.substr(6, 2) +
                  order.substr(9, 2),
              "1-2-3-4-")
        << order;
    ++name_orders[order];
  }
  ASSERT_EQ(name_orders.size(), 24u);
  // 49.73 is the 99.9% point of chi-square with 23 degrees of freedom.
  EXPECT_LT(chi_square(name_orders, kRuns / 24.0), 49.73);
}

}  // namespace
}  // namespace shuffler::testing
