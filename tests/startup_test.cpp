// The startup sequence on the fake platform: options, the order of the run,
// and how a failure is reported before the run goes on.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/text.h"
#include "tests/fake_platform.h"

namespace shuffler::testing {
namespace {

const Text kMarker = u"###FILEALREADYRENAMED###";

Text StartupBox(int32_t number, TextView description) {
  return u"An error occurred!\r\n\r\nError Number: " + DecimalText(number) +
         u"\r\nDescription: " + Text(description);
}

TEST(Startup, OptionsMatchInAnyCaseAnywhere) {
  struct Case {
    Text args = {};
    bool debug = false;
    bool denum = false;
    bool unique = false;
  };
  const Case cases[] = {
      {.args = u""},
      {.args = u"/debug", .debug = true},
      {.args = u"x/DeBuGx", .debug = true},
      {.args = u"/DEBUGGER", .debug = true},
      {.args = u"/DENUMBER", .denum = true},
      {.args = u"/denum /Debug", .debug = true, .denum = true},
      {.args = u"/DEBU G /DENU"},
      {.args = u"\"/LAUNCH x.exe\" /NOLAUNCH"},
      {.args = u"x/UniQuEx /DENUM", .denum = true, .unique = true},
      {.args = u"/UNIQU E"},
  };
  for (const Case& c : cases) {
    FakePlatform fake;
    fake.argument_text = c.args;
    frmOne form(fake);
    EXPECT_TRUE(RunToEnd(form));
    EXPECT_EQ(form.DebugLog, c.debug) << Narrow(c.args);
    EXPECT_EQ(form.DenumMode, c.denum) << Narrow(c.args);
    EXPECT_EQ(form.UniqueMode, c.unique) << Narrow(c.args);
    EXPECT_TRUE(fake.boxes.empty()) << Narrow(c.args);
  }
}

TEST(Startup, TypicalRunCountsListsShufflesLaunchesAndEnds) {
  FakePlatform fake;
  fake.AddFile(u"C:\\Game\\gta3.exe");
  fake.AddMusic({u"Song.mp3", u"07-Other.mp3", u"MP3Report.txt"});
  frmOne form(fake);
  ASSERT_TRUE(RunToEnd(form));

  EXPECT_TRUE(fake.boxes.empty());
  EXPECT_EQ(form.AppFolder, u"C:\\Game");
  EXPECT_EQ(form.FileCount, 2);
  EXPECT_EQ(form.FileIndex, 2);
  ASSERT_EQ(form.FileNames.size(), 2);
  EXPECT_EQ(form.FileNames[0], kMarker);
  EXPECT_EQ(form.FileNames[1], kMarker);
  EXPECT_FALSE(form.DebugLog);
  EXPECT_FALSE(form.DenumMode);

  // The program's folder comes first; the generator is seeded before the
  // music folder is listed; the start comes after the last move.
  const auto& calls = fake.calls;
  auto first = [&](Op op) {
    return std::find(calls.begin(), calls.end(), op) - calls.begin();
  };
  auto last = [&](Op op) {
    return calls.rend() - std::find(calls.rbegin(), calls.rend(), op) - 1;
  };
  EXPECT_EQ(calls.front(), Op::kProgramFolder);
  EXPECT_LT(first(Op::kClockSeed), first(Op::kMakeFolder));
  EXPECT_LT(last(Op::kMoveFile), first(Op::kStartMaximized));
  EXPECT_EQ(calls.back(), Op::kStartMaximized);
  EXPECT_EQ(fake.CallsOf(Op::kRenameEntry), 2);
  EXPECT_EQ(fake.CallsOf(Op::kMoveFile), 4);
  EXPECT_EQ(fake.messages_processed, 2);  // once after each pass
  EXPECT_EQ(fake.started, std::vector<Text>{u"C:\\Game\\GTA3.EXE"});

  // Both entries carry a one-digit prefix now; the report stays as it was.
  std::vector<Text> names = fake.Names(Text(FakePlatform::kMusic));
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[2], u"MP3Report.txt");
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(names[i].size() > 2 && names[i][0] >= u'1' &&
                names[i][0] <= u'2' && names[i][1] == u'-')
        << Narrow(names[i]);
  }
  EXPECT_TRUE(names[0].ends_with(u"Other.mp3") ||
              names[1].ends_with(u"Other.mp3"));
  EXPECT_TRUE(names[0].ends_with(u"-Song.mp3") ||
              names[1].ends_with(u"-Song.mp3"));
  EXPECT_EQ(
      fake.ContentsBelow(u"C:\\Game\\mp3"),
      (std::vector<std::string>{"07-Other.mp3", "MP3Report.txt", "Song.mp3"}));
  EXPECT_FALSE(fake.Exists(u"C:\\Game\\mp3\\temp"));

  // While another copy works on the game's folder, or on its music folder
  // from another game folder, a run ends at once: no box, no change,
  // nothing started. The music folder is claimed to work inside.
  const std::vector<Text> claims = {u"C:\\Game", u"C:\\Game\\mp3"};
  for (size_t held_one = claims.size(); held_one-- > 0;) {
    FakePlatform held;
    held.AddFile(u"C:\\Game\\gta3.exe");
    held.AddMusic({u"Song.mp3"});
    held.claimed_elsewhere.insert(claims[held_one]);
    frmOne second(held);
    ASSERT_TRUE(RunToEnd(second));
    EXPECT_EQ(held.claims,
              std::vector<Text>(claims.begin(), claims.begin() + held_one + 1));
    EXPECT_EQ(held.claim_kinds.back(),
              held_one == 1 ? Claim::kWorkInside : Claim::kOnly);
    EXPECT_TRUE(held.started.empty() && held.boxes.empty());
    EXPECT_EQ(held.Names(Text(FakePlatform::kMusic)),
              std::vector<Text>{u"Song.mp3"});
  }
  FakePlatform held;
  held.AddFile(u"C:\\Game\\gta3.exe");
  held.AddMusic({u"Song.mp3", u"07-Other.mp3"});
  held.claimed_elsewhere.insert(u"C:\\Game");
  frmOne second(held);
  ASSERT_TRUE(RunToEnd(second));
  EXPECT_EQ(held.calls, std::vector<Op>{Op::kProgramFolder});
  EXPECT_TRUE(held.boxes.empty());
  EXPECT_TRUE(held.started.empty());
  EXPECT_EQ(held.Names(Text(FakePlatform::kMusic)),
            (std::vector<Text>{u"Song.mp3", u"07-Other.mp3"}));
  // A copy that wraps a launcher's command still hands over to it.
  held.has_command = true;
  frmOne wrapper(held);
  ASSERT_TRUE(RunToEnd(wrapper));
  EXPECT_TRUE(held.command_ran && held.boxes.empty());
  EXPECT_EQ(held.Names(Text(FakePlatform::kMusic)),
            (std::vector<Text>{u"Song.mp3", u"07-Other.mp3"}));
}

TEST(Startup, WithoutItsFolderARunShowsTheFailureAndDoesNothingElse) {
  for (bool command : {false, true}) {
    FakePlatform fake;
    fake.AddFile(u"C:\\Game\\gta3.exe");
    fake.AddMusic({u"Song.mp3"});
    fake.has_command = command;
    fake.FailCall(Op::kProgramFolder, 1, kOwnFolderUnknown);
    frmOne form(fake);
    ASSERT_TRUE(RunToEnd(form));

    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].prompt,
              u"An error occurred!\r\n\r\nError Number: 1001\r\n"
              u"Description: Shuffler cannot tell which folder it was started "
              u"from, so it changes nothing: start it by its path");
    // No folder is looked at, not even one taken for its own; a launcher's
    // command still takes over.
    EXPECT_EQ(fake.calls.size(), command ? 3u : 2u);
    EXPECT_EQ(fake.command_ran, command);
    EXPECT_TRUE(fake.started.empty());
  }
}

TEST(Startup, AFailingOptionTestSetsItsFlag) {
  // The argument text is read by the launch-option test, the "/NOLAUNCH"
  // test, then the "/DEBUG", "/DENUM" and "/UNIQUE" tests.
  for (int failing : {3, 4, 5}) {
    FakePlatform fake;
    fake.FailCall(Op::kArgumentText, failing, kOverflow);
    frmOne form(fake);
    ASSERT_TRUE(RunToEnd(form));
    EXPECT_EQ(form.DebugLog, failing == 3);
    EXPECT_EQ(form.DenumMode, failing == 4);
    EXPECT_EQ(form.UniqueMode, failing == 5);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].prompt, StartupBox(6, u"Overflow"));
  }
}

TEST(Startup, NegativeNumbersKeepTheirSignAndSeedingFailuresAreReported) {
  FakePlatform fake;
  fake.FailCall(Op::kClockSeed, 1, -2147024894);
  frmOne form(fake);
  ASSERT_TRUE(RunToEnd(form));
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_NE(fake.boxes[0].prompt.find(u"Error Number: -2147024894\r\n"),
            Text::npos);
}

TEST(Startup, AMusicFolderThatMayNotBeChangedIsSaidOnceAndTheGameStarts) {
  // A folder where only "temp" may not be made, and a read-only medium that
  // refuses every change, with whatever "temp" it holds: none, the
  // player's empty one, the player's holding a file, or a marked one that a
  // stopped run left two files in (the first move back is refused, and
  // said; the second is not tried).
  enum Temp { kNone, kEmpty, kPlayers, kMarked };
  for (int row = 0; row < 10; ++row) {
    const bool debug = row % 2 == 1;
    const bool read_only = row >= 2;
    const Temp temp = read_only ? static_cast<Temp>((row - 2) / 2) : kNone;
    SCOPED_TRACE("row " + std::to_string(row));
    FakePlatform fake;
    fake.AddFile(u"C:\\Game\\gta3.exe");
    fake.AddMusic({u"01-a.mp3", u"b.mp3", u"c.mp3"});
    const Text temp_folder = u"C:\\Game\\mp3\\temp";
    if (temp != kNone) fake.AddFolder(temp_folder);
    if (temp == kPlayers) fake.AddFile(temp_folder + u"\\mine.mp3", "mine");
    if (temp == kMarked) {
      fake.AddFolder(temp_folder + u"\\Shuffler is moving files");
      fake.AddFile(temp_folder + u"\\05-left.mp3", "left");
      fake.AddFile(temp_folder + u"\\06-left.mp3", "left too");
    }
    fake.argument_text = debug ? u"/DEBUG" : u"";
    fake.FailCall(Op::kMakeFolder, 1, kPermissionDenied);
    if (read_only) {
      for (Op op : {Op::kMakeFolder, Op::kRemoveFolder, Op::kRenameEntry,
                    Op::kMoveFile, Op::kOpenLog}) {
        fake.FailFrom(op, 1, kPermissionDenied);
      }
    }
    frmOne form(fake);
    ASSERT_TRUE(RunToEnd(form));
    const size_t recovery_boxes = temp == kMarked ? 1 : 0;
    // A read-only log cannot be opened, nor its failure written: the
    // startup box says so, in the place of the shuffle's.
    const bool log_open = debug && !read_only;
    ASSERT_EQ(fake.boxes.size(), 1u + recovery_boxes);
    EXPECT_EQ(fake.boxes.back().prompt,
              debug && read_only
                  ? Text(u"An error occurred!\r\n\r\nError Number: 52\r\n"
                         u"Description: Bad file name or number")
                  : Text(u"An error occurred!\r\n\r\nNumber: 70\r\n"
                         u"Description: Permission denied"));
    EXPECT_EQ(fake.boxes[0].caption,
              debug && read_only && temp != kMarked ? u"Shuffler" : u"Error");
    // The entries are left as they are: not one rename or move done, and
    // each tried once at most.
    EXPECT_LE(fake.CallsOf(Op::kRenameEntry), temp == kNone ? 0 : 3);
    EXPECT_EQ(fake.CallsOf(Op::kMoveFile), temp == kMarked ? 1 : 0);
    std::vector<Text> names = {u"01-a.mp3", u"b.mp3", u"c.mp3"};
    if (temp != kNone) names.push_back(u"temp");
    EXPECT_EQ(fake.Names(Text(FakePlatform::kMusic)), names);
    EXPECT_EQ(fake.log_lines,
              log_open ? std::vector<Text>{u"*** An error occurred! 70, "
                                           u"Permission denied"}
                       : std::vector<Text>{});
    EXPECT_EQ(fake.CallsOf(Op::kCloseLog), log_open ? 1 : 0);
    EXPECT_EQ(fake.CallsOf(Op::kRemoveFolder), 0);
    EXPECT_EQ(fake.started, std::vector<Text>{u"C:\\Game\\GTA3.EXE"});
  }
}

TEST(Startup, EmptyOrMissingMusicFolderSkipsTheShuffleButStillLaunches) {
  for (bool make_folder : {false, true}) {
    FakePlatform fake;
    fake.AddFile(u"C:\\Game\\gta-vc.exe");
    if (make_folder) fake.AddMusic({u"MP3Report.txt"});
    if (make_folder) fake.AddFolder(u"C:\\Game\\mp3\\temp");
    frmOne form(fake);
    ASSERT_TRUE(RunToEnd(form));
    EXPECT_EQ(form.FileCount, 0);
    EXPECT_EQ(form.FileNames.size(), 1);  // the one slot of the reset
    EXPECT_EQ(fake.CallsOf(Op::kMakeFolder), 0);
    EXPECT_EQ(fake.CallsOf(Op::kRenameEntry), 0);
    EXPECT_TRUE(fake.boxes.empty());
    EXPECT_EQ(fake.started, std::vector<Text>{u"C:\\Game\\GTA-VC.EXE"});
  }
}

}  // namespace
}  // namespace shuffler::testing
