// Choosing the program to start from the argument text or the game
// executables next to Shuffler, and starting it after the shuffle.
#include <gtest/gtest.h>

#include "tests/fake_platform.h"

namespace shuffler::testing {
namespace {

enum Games {
  kNoGame,
  kFirstGame,
  kBothGames,
  kSecondGameUpperCase,
  kFirstGameMixedCase,  ///< "gta3.EXE"
};

struct Case {
  Text args = {};
  Games games = kNoGame;
  /// Shuffler's own file under these names (links to it); the first is
  /// added to the folder.
  std::vector<Text> own = {};
  Text start = {};       ///< empty: nothing started
  Text start_args = {};  ///< given to the program started
  std::vector<int32_t> boxes = {};
  bool debug = false;
  bool denum = false;
  bool command = false;    ///< the run wraps a command, which takes over
  bool by_itself = false;  ///< the run is the program a Shuffler started
};

TEST(Launch, TheTargetComesFromTheArgumentTextOrTheGamesFound) {
  // One case a line.
  // clang-format off
  const Case cases[] = {
      {.args = u"/LAUNCH game.exe /DEBUG", .games = kBothGames, .start = u"game.exe", .debug = true},
      {.args = u"/LAUNCH \"My Game.exe\" /DENUM", .start = u"My Game.exe", .denum = true},
      {.args = u"/launch Game.EXE", .start = u"Game.EXE"},
      // The search for the end starts two characters after an unquoted
      // name's first character, one after a quoted one's.
      {.args = u"/LAUNCH a bc", .start = u"a bc"},
      {.args = u"/LAUNCH \"x\"", .start = u"x"},
      {.args = u"/LAUNCH \"x", .start = u"x"},
      // The one character after the option is skipped, whatever it is.
      {.args = u"/LAUNCHgame.exe", .start = u"ame.exe"},
      {.args = u"/LAUNCH game.exe /NOLAUNCH", .games = kBothGames},
      {.args = u"/NOLAUNCH", .games = kBothGames},
      {.games = kBothGames, .start = u"GTA3.EXE"},
      {.games = kFirstGame, .start = u"GTA3.EXE"},
      {.games = kSecondGameUpperCase, .start = u"GTA-VC.EXE"},
      {.games = kNoGame},
      {.args = u"/LAUNCH /DEBUG.exe", .start = u"/DEBUG.exe", .debug = true},
      // "/LAUNCH" at the end: the cut fails on its negative length, and the
      // start of the bare folder fails too.
      {.args = u"/LAUNCH", .games = kBothGames, .boxes = {kInvalidArgument, kFileNotFound}},
      {.args = u"/LAUNCH ", .games = kBothGames, .boxes = {kFileNotFound}},
      // An empty quoted name leaves its closing quote as the name.
      {.args = u"/LAUNCH \"\"", .boxes = {kFileNotFound}},
      // The name is always relative to the program's folder.
      {.args = u"/LAUNCH C:\\Games\\x.exe", .boxes = {kFileNotFound}},
      {.args = u"/LAUNCH missing.exe", .games = kBothGames, .boxes = {kFileNotFound}},
      {.args = u"/LAUNCH mp3", .boxes = {kPathFileAccessError}},
      // A name that is no file is read as a program and its arguments: the
      // shortest program that is a file, ".exe" added to a name without an
      // extension, the rest as typed; a quote opens a program's name.
      {.args = u"/LAUNCH \"gta-vc.exe -nointro\"", .games = kBothGames, .start = u"gta-vc.exe", .start_args = u"-nointro"},
      {.args = u"/LAUNCH gta3", .games = kFirstGame, .start = u"gta3.exe"},
      {.args = u"/LAUNCH \"bin\\game.exe  -x \\\"", .start = u"bin\\game.exe", .start_args = u"-x \\"},
      {.args = u"/LAUNCH \"My Game.exe -w\"", .start = u"My Game.exe", .start_args = u"-w"},
      {.args = u"/LAUNCH \"game ./x *\"", .start = u"game.exe", .start_args = u"./x *"},
      {.args = u"/LAUNCH \"\"game.exe\" -x", .start = u"game.exe"},
      {.args = u"/LAUNCH \"missing.exe -x\"", .games = kBothGames, .boxes = {kFileNotFound}},
      {.args = u"/LAUNCH \"gta? -x\"", .games = kBothGames, .boxes = {kFileNotFound}},
      // Shuffler under a game's name is never started, and says so when it
      // is the only game there.
      {.own = {u"gta3.exe"}, .boxes = {kStartsItself}},
      {.games = kBothGames, .own = {u"gta3.exe"}, .start = u"GTA-VC.EXE"},
      {.games = kFirstGame, .own = {u"Shuffler.exe", u"gta3.exe"}, .boxes = {kStartsItself}},
      {.args = u"/NOLAUNCH", .own = {u"gta3.exe"}},
      // Where letter case tells names apart, the game found is started.
      {.games = kFirstGame, .own = {u"GTA3.EXE"}, .start = u"gta3.exe"},
      {.args = u"/LAUNCH gta3.exe", .own = {u"gta3.exe"}, .boxes = {kStartsItself}},
      {.args = u"/LAUNCH GTA3.EXE", .own = {u"gta3.exe"}, .boxes = {kStartsItself}},
      {.args = u"/LAUNCH \"gta3 -x\"", .own = {u"gta3.exe"}, .boxes = {kStartsItself}},
      {.args = u"/LAUNCH \"game -x\"", .own = {u"gta3.exe"}, .start = u"game.exe", .start_args = u"-x"},
      // Listed before the game, under a spelling of neither name.
      {.games = kFirstGameMixedCase, .own = {u"GTA3.exe"}, .start = u"GTA3.EXE"},
      {.args = u"/LAUNCH gta3.exe", .games = kFirstGameMixedCase, .own = {u"GTA3.exe"}, .start = u"gta3.exe"},
      // Started by a Shuffler, it says so, and shuffles and starts nothing.
      {.games = kBothGames, .boxes = {kStartsItself}, .by_itself = true},
      {.args = u"/DEBUG", .boxes = {kStartsItself}, .command = true, .by_itself = true},
      // The extension is looked for in the last part of the name only.
      {.args = u"/LAUNCH bin\\v1.0\\game", .start = u"bin\\v1.0\\game.exe"},
      // A wrapped command is run instead: no game, no "/LAUNCH" and no
      // "/NOLAUNCH", not even one that would fail.
      {.args = u"/DEBUG", .games = kBothGames, .debug = true, .command = true},
      {.args = u"/LAUNCH game.exe /DENUM", .denum = true, .command = true},
      {.args = u"/NOLAUNCH", .games = kFirstGame, .command = true},
      {.args = u"/LAUNCH", .games = kBothGames, .command = true},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.args));
    FakePlatform fake;
    fake.AddFolder(u"C:\\Game\\bin");
    fake.AddFolder(u"C:\\Game\\bin\\v1.0");
    for (TextView name :
         {u"game.exe", u"My Game.exe", u"Game.EXE", u"a bc", u"x", u"ame.exe",
          u"/DEBUG.exe", u"bin\\game.exe", u"bin\\v1.0\\game.exe"}) {
      fake.AddFile(u"C:\\Game\\" + Text(name));
    }
    fake.AddMusic({u"Song.mp3"});
    if (!c.own.empty()) {
      fake.AddFile(u"C:\\Game\\" + c.own[0]);
      fake.own_program.clear();
      for (const Text& name : c.own)
        fake.own_program.insert(u"C:\\Game\\" + name);
    }
    if (c.games == kFirstGame || c.games == kBothGames) {
      fake.AddFile(u"C:\\Game\\gta3.exe");
    }
    if (c.games == kBothGames) fake.AddFile(u"C:\\Game\\gta-vc.exe");
    if (c.games == kSecondGameUpperCase) fake.AddFile(u"C:\\Game\\GTA-VC.EXE");
    if (c.games == kFirstGameMixedCase) fake.AddFile(u"C:\\Game\\gta3.EXE");
    fake.argument_text = c.args;
    fake.has_command = c.command;
    fake.started_by_itself = c.by_itself;
    frmOne form(fake);
    ASSERT_TRUE(RunToEnd(form));

    EXPECT_EQ(fake.command_ran, c.command && !c.by_itself);
    // The command replaced the process.
    EXPECT_EQ(fake.ended, !fake.command_ran);
    if (fake.command_ran) {
      EXPECT_EQ(fake.calls.back(), Op::kRunCommand);
      EXPECT_FALSE(fake.log_open_at_command);
    }
    if (c.start.empty()) {
      EXPECT_TRUE(fake.started.empty());
    } else {
      EXPECT_EQ(fake.started, std::vector<Text>{u"C:\\Game\\" + c.start});
      EXPECT_EQ(fake.started_arguments, std::vector<Text>{c.start_args});
    }
    std::vector<int32_t> numbers;
    for (const Box& box : fake.boxes) {
      const size_t at = box.prompt.find(u"Error Number: ");
      ASSERT_NE(at, Text::npos);
      numbers.push_back(std::stoi(Narrow(box.prompt.substr(at + 14))));
      EXPECT_EQ(box.caption, u"Shuffler");
    }
    EXPECT_EQ(numbers, c.boxes);
    EXPECT_EQ(form.DebugLog, c.debug && !c.by_itself);
    EXPECT_EQ(form.DenumMode, c.denum);
    // Whatever the launch does, it comes after the shuffle.
    EXPECT_EQ(fake.CallsOf(Op::kRenameEntry), c.by_itself ? 0 : 1);
    if (!fake.started.empty()) {
      EXPECT_EQ(fake.calls.back(), Op::kStartMaximized);
    }
  }
}

TEST(Launch, ANameReadAsACommandNeverLeavesTheProgramsFolder) {
  // Read from the start of the whole path, "C:\My Game\game.exe -x" would
  // name "C:\My.exe" first.
  for (const Text& name : {Text(u"game.exe"), Text(u"missing.exe")}) {
    FakePlatform fake;
    fake.program_folder = u"C:\\My Game";
    fake.AddFolder(fake.program_folder);
    fake.AddFile(u"C:\\My.exe");
    fake.AddFile(u"C:\\My Game\\game.exe");
    fake.argument_text = u"/LAUNCH \"" + name + u" -x\"";
    frmOne form(fake);
    ASSERT_TRUE(RunToEnd(form));
    if (name == u"game.exe") {
      EXPECT_EQ(fake.started, std::vector<Text>{u"C:\\My Game\\game.exe"});
      EXPECT_EQ(fake.started_arguments, std::vector<Text>{u"-x"});
      EXPECT_TRUE(fake.boxes.empty());
    } else {
      EXPECT_TRUE(fake.started.empty());
      ASSERT_EQ(fake.boxes.size(), 1u);
      EXPECT_NE(fake.boxes[0].prompt.find(u"Error Number: 53"), Text::npos);
    }
  }
}

TEST(Launch, FailuresWhileChoosingResumeWhereTheDesignSays) {
  {
    // A failing look for the first game counts as finding it.
    FakePlatform fake;
    fake.FailCall(Op::kListFirst, 1, kPermissionDenied);
    frmOne form(fake);
    ASSERT_TRUE(RunToEnd(form));
    EXPECT_TRUE(fake.started.empty());  // "GTA3.EXE" is not there to start
    ASSERT_EQ(fake.boxes.size(), 2u);
    EXPECT_NE(fake.boxes[1].prompt.find(u"Error Number: 53"), Text::npos);
  }
  {
    // A failing look at the character after "/LAUNCH" takes the quoted
    // branch: the name starts one character later.
    FakePlatform fake;
    fake.AddFile(u"C:\\Game\\ame.exe");
    fake.argument_text = u"/LAUNCH game.exe";
    fake.FailCall(Op::kArgumentText, 2, kOverflow);
    frmOne form(fake);
    ASSERT_TRUE(RunToEnd(form));
    EXPECT_EQ(fake.started, std::vector<Text>{u"C:\\Game\\ame.exe"});
    EXPECT_EQ(fake.boxes.size(), 1u);
  }
  {
    // A start that fails is reported, and the process still ends.
    FakePlatform fake;
    fake.AddFile(u"C:\\Game\\gta3.exe");
    fake.FailCall(Op::kStartMaximized, 1, kPermissionDenied);
    frmOne form(fake);
    ASSERT_TRUE(RunToEnd(form));
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].prompt,
              u"An error occurred!\r\n\r\nError Number: 70\r\n"
              u"Description: Permission denied");
    EXPECT_TRUE(fake.ended);
  }
  for (bool music : {false, true}) {
    // A command that cannot start gets one box, and the process ends; one
    // whose music folder is missing starts all the same.
    SCOPED_TRACE(music);
    FakePlatform fake;
    fake.has_command = true;
    if (music) {
      fake.AddMusic({u"01-Song.mp3"});
      fake.FailCall(Op::kRunCommand, 1, kFileNotFound);
    }
    fake.argument_text = u"/DEBUG /DENUM";
    frmOne form(fake);
    ASSERT_TRUE(RunToEnd(form));
    EXPECT_EQ(fake.command_ran, !music);
    EXPECT_EQ(fake.ended, music);
    EXPECT_EQ(fake.boxes.size(), music ? 1u : 0u);
    EXPECT_EQ(fake.Exists(u"C:\\Game\\mp3\\Song.mp3"), music);
  }
}

}  // namespace
}  // namespace shuffler::testing
