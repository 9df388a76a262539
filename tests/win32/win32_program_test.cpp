// The real Shuffler.exe, run end to end in sample game folders.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/names.h"
#include "platform/platform.h"
#include "tests/win32/win32_testing.h"

namespace shuffler {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAreArray;
using win32_testing::CopyFileTo;
using win32_testing::CreateFolder;
using win32_testing::EntriesOf;
using win32_testing::Exists;
using win32_testing::FullPath;
using win32_testing::ReadBytes;
using win32_testing::RunResult;
using win32_testing::TempFolder;
using win32_testing::WriteBytes;

constexpr unsigned kRunLimitMs = 30000;
// A started game may wait for a Wine server that is busy elsewhere: once
// it took more than 20 s on a loaded machine.
constexpr unsigned kStartLimitMs = 60000;

Text Widen(const std::string& text) {
  return Text(text.begin(), text.end());
}

// The music a sample game folder starts with: names and distinct contents
// (written through the extended form, as every path is). Every name is
// shuffled; the hidden file and the report are left alone.
const std::map<Text, std::string>& Music() {
  static const auto* music = new std::map<Text, std::string>{
      {u"01-first.mp3", "content of the first"},
      {u"02-second.mp3", "content of the second"},
      {u"third.mp3", "content of the third"},
      {u"7-fourth.ogg", "content of the fourth"},
      {u"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac.mp3", "greek"},
      {u"03-" + Text(100, u'l') + u".mp3", "content of the long one"},
      // Names Windows cannot make through a classic path.
      {u"08-ends in a dot.", "content of the dotted one"},
      {u"ends in a space ", "content of the spaced one"},
  };
  return *music;
}
constexpr char16_t kHiddenName[] = u"folder.jpg";
constexpr char16_t kReportName[] = u"MP3Report.txt";

// The name without a leading "<digits>-".
Text Bare(const Text& name) {
  const size_t dash = name.find(u'-');
  if (dash == 0 || dash == Text::npos) return name;
  for (size_t i = 0; i < dash; ++i) {
    if (name[i] < u'0' || name[i] > u'9') return name;
  }
  return name.substr(dash + 1);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "the last line has no CR LF";
  return lines;
}

// Checks the report the stand-in game wrote to `report_file`: started
// maximised, with `command` as its command line, in `folder`, as `program`
// (whose letter case the system may give as the file has it).
void ExpectStarted(const Text& report_file, const std::string& command,
                   const std::string& folder, const std::string& program) {
  ASSERT_TRUE(win32_testing::WaitForFile(report_file, kStartLimitMs));
  std::map<std::string, std::string> report;
  for (const std::string& line : Lines(ReadBytes(report_file).value_or(""))) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos) {
      report[line.substr(0, equals)] = line.substr(equals + 1);
    }
  }
  EXPECT_EQ(report["show"], "3");
  EXPECT_EQ(report["flags"], "1");
  EXPECT_EQ(report["command"], command);
  EXPECT_EQ(report["folder"], folder);
  EXPECT_TRUE(EqualsIgnoringAsciiCase(Widen(report["path"]), Widen(program)))
      << report["path"];
}

class Win32ProgramTest : public ::testing::Test {
 protected:
  // A game folder at `folder`: Shuffler.exe, the stand-in game as
  // "gta3.exe", and the sample music in "mp3".
  void MakeGameFolder(const Text& folder) {
    game_ = folder;
    mp3_ = game_ + u"\\mp3";
    if (!Exists(game_)) CreateFolder(game_);
    CreateFolder(mp3_);
    CopyFileTo(FullPath(Widen(SHUFFLER_PROGRAM_PATH)),
               game_ + u"\\Shuffler.exe");
    CopyFileTo(FullPath(Widen(SHUFFLER_STAND_IN_GAME_PATH)),
               game_ + u"\\gta3.exe");
    for (const auto& [name, content] : Music()) {
      WriteBytes(mp3_ + u"\\" + name, content);
    }
    WriteBytes(mp3_ + u"\\" + kHiddenName, "picture");
    win32_testing::MarkHidden(mp3_ + u"\\" + kHiddenName);
    WriteBytes(mp3_ + u"\\" + kReportName, "report");
  }

  // Runs Shuffler.exe, or Shuffler under the name `as`, with `arguments`
  // and waits for it to end.
  void RunShuffler(const Text& arguments, const Text& as = u"Shuffler.exe") {
    const Text program = game_ + u"\\" + as;
    const RunResult result = win32_testing::RunAndWait(
        program, u"\"" + program + u"\" " + arguments, kRunLimitMs);
    ASSERT_TRUE(result.finished) << "Shuffler.exe did not end";
    EXPECT_EQ(result.exit_code, 0u);
  }

  // Checks that the music folder holds every sample file once, with its
  // content, named by `expected_name` from the file's bare name, and what
  // was left alone as it was. Returns the new names by old name.
  std::map<Text, Text> CheckShuffled(
      const std::function<bool(const Text& bare, const Text& name)>&
          expected_name) {
    std::map<Text, Text> old_by_bare;
    for (const auto& [name, content] : Music())
      old_by_bare[Bare(name)] = name;

    std::map<Text, Text> renamed;
    std::vector<std::string> contents;
    for (const Text& name : EntriesOf(mp3_)) {
      if (name == kHiddenName || name == kReportName) continue;
      const Text bare = Bare(name);
      const auto old = old_by_bare.find(bare);
      if (old == old_by_bare.end()) {
        ADD_FAILURE() << "unexpected entry " << EncodeWindows1252(name);
        continue;
      }
      EXPECT_TRUE(expected_name(bare, name))
          << "unexpected name " << EncodeWindows1252(name);
      EXPECT_TRUE(renamed.emplace(old->second, name).second)
          << "two entries for " << EncodeWindows1252(bare);
      contents.push_back(ReadBytes(mp3_ + u"\\" + name).value_or("?"));
    }
    std::vector<std::string> expected_contents;
    for (const auto& [name, content] : Music()) {
      expected_contents.push_back(content);
    }
    EXPECT_THAT(contents, UnorderedElementsAreArray(expected_contents));
    EXPECT_EQ(ReadBytes(mp3_ + u"\\" + kHiddenName), "picture");
    EXPECT_EQ(ReadBytes(mp3_ + u"\\" + kReportName), "report");
    EXPECT_FALSE(Exists(mp3_ + u"\\temp"));
    return renamed;
  }

  TempFolder temp_;
  Text game_;
  Text mp3_;
};

TEST_F(Win32ProgramTest, ShufflesLogsAndStartsTheGameMaximised) {
  MakeGameFolder(temp_.path() + u"\\Game Folder");
  RunShuffler(u"/DEBUG");

  // Fewer than ten entries: one digit, 1 to their count, before every bare
  // name.
  const char16_t highest = static_cast<char16_t>(u'0' + Music().size());
  const std::map<Text, Text> renamed =
      CheckShuffled([highest](const Text& bare, const Text& name) {
        return name.size() == bare.size() + 2 && name[0] >= u'1' &&
               name[0] <= highest && name[1] == u'-';
      });
  ASSERT_EQ(renamed.size(), Music().size());

  // One line per rename, in the system's code page.
  std::vector<std::string> expected_log;
  for (const auto& [old_name, new_name] : renamed) {
    expected_log.push_back(
        "Renamed \"" + EncodeWindows1252(mp3_ + u"\\" + old_name) + "\" to \"" +
        EncodeWindows1252(mp3_ + u"\\" + new_name) + "\"");
  }
  const std::optional<std::string> log = ReadBytes(game_ + u"\\Shuffler.log");
  ASSERT_TRUE(log.has_value());
  EXPECT_THAT(Lines(*log), UnorderedElementsAreArray(expected_log));

  // The game was found as "gta3.exe" and started maximised by its full path,
  // in its own folder.
  const std::string game = EncodeWindows1252(game_);
  ExpectStarted(game_ + u"\\started.txt", "\"" + game + "\\GTA3.EXE\"", game,
                game + "\\GTA3.EXE");
}

TEST_F(Win32ProgramTest, ALaunchNameThatIsNoFileIsAProgramAndItsArguments) {
  MakeGameFolder(temp_.path() + u"\\Game");
  CreateFolder(game_ + u"\\bin");
  CopyFileTo(game_ + u"\\gta3.exe", game_ + u"\\bin\\game.exe");
  const std::string game = EncodeWindows1252(game_);

  // The program in a sub-folder starts there, with the rest as its
  // arguments.
  RunShuffler(u"/LAUNCH \"bin\\game.exe -nointro  -connect 10.0.0.1:27015|x\"");
  ExpectStarted(
      game_ + u"\\bin\\started.txt",
      "\"" + game + "\\bin\\game.exe\" -nointro  -connect 10.0.0.1:27015|x",
      game + "\\bin", game + "\\bin\\game.exe");

  // A program named without its extension.
  RunShuffler(u"/LAUNCH gta3");
  ExpectStarted(game_ + u"\\started.txt", "\"" + game + "\\gta3.exe\"", game,
                game + "\\gta3.exe");
}

TEST_F(Win32ProgramTest, NoLaunchStartsNothingAndDenumOnlyStripsNumbers) {
  MakeGameFolder(temp_.path() + u"\\Game");
  RunShuffler(u"/nolaunch /Denum");

  CheckShuffled(
      [](const Text& bare, const Text& name) { return name == bare; });
  EXPECT_FALSE(Exists(game_ + u"\\Shuffler.log"));
  // Give a wrongly started game time to show up.
  EXPECT_FALSE(win32_testing::WaitForFile(game_ + u"\\started.txt", 1500));
  EXPECT_THAT(EntriesOf(game_),
              ElementsAre(u"Shuffler.exe", u"gta3.exe", u"mp3"));
}

TEST_F(Win32ProgramTest, ShufflesFilesWhosePathsExceedTheClassicLimit) {
  // The program's own path stays short enough for Windows to start it; the
  // paths of the music, in "mp3" and in "mp3\temp", do not.
  Text folder = temp_.path();
  while (folder.size() < 180)
    folder += u"\\" + Text(50, u'g');
  folder.resize(180);
  for (size_t cut = folder.find(u'\\', temp_.path().size() + 1);
       cut != Text::npos; cut = folder.find(u'\\', cut + 1)) {
    CreateFolder(folder.substr(0, cut));
  }
  MakeGameFolder(folder);
  CopyFileTo(game_ + u"\\gta3.exe", game_ + u"\\my game.exe");
  RunShuffler(u"/DEBUG /LAUNCH \"my game.exe\"");

  CheckShuffled([](const Text& bare, const Text& name) {
    return name.size() == bare.size() + 2 && name[1] == u'-';
  });
  const std::optional<std::string> log = ReadBytes(game_ + u"\\Shuffler.log");
  ASSERT_TRUE(log.has_value());
  EXPECT_EQ(Lines(*log).size(), Music().size());
  EXPECT_EQ(log->find("***"), std::string::npos) << *log;

  const Text started = game_ + u"\\started.txt";
  ASSERT_TRUE(win32_testing::WaitForFile(started, kStartLimitMs));
  EXPECT_THAT(ReadBytes(started).value_or(""),
              ::testing::HasSubstr("\\my game.exe\"\r\nfolder="));
}

// A store launcher starts only the game's own file: Shuffler takes the
// game's name, the game another, and "/LAUNCH" names it. Shuffler never
// starts itself: without "/LAUNCH" it is the only game there and starts
// nothing. (Were it to start itself, the chain would end with the folder.)
TEST_F(Win32ProgramTest, UnderTheGamesNameItStartsTheGameNamedButNeverItself) {
  MakeGameFolder(temp_.path() + u"\\Game");
  CopyFileTo(game_ + u"\\gta3.exe", game_ + u"\\gta3-game.exe");
  win32_testing::RemoveTree(game_ + u"\\gta3.exe");
  CopyFileTo(game_ + u"\\Shuffler.exe", game_ + u"\\gta3.exe");
  const std::string game = EncodeWindows1252(game_);

  RunShuffler(u"/LAUNCH gta3-game.exe", u"gta3.exe");
  ExpectStarted(game_ + u"\\started.txt", "\"" + game + "\\gta3-game.exe\"",
                game, game + "\\gta3-game.exe");
  const auto numbered = [](const Text& bare, const Text& name) {
    return name.size() == bare.size() + 2 && name[1] == u'-';
  };
  CheckShuffled(numbered);

  win32_testing::RemoveTree(game_ + u"\\started.txt");
  RunShuffler(u"/DEBUG", u"gta3.exe");
  CheckShuffled(numbered);
  EXPECT_FALSE(win32_testing::WaitForFile(game_ + u"\\started.txt", 1500));
  EXPECT_EQ(Lines(ReadBytes(game_ + u"\\Shuffler.log").value_or("")).size(),
            Music().size());
}

// Two copies started together: one works on the folder, the other ends at
// once, so the folder is left as one run leaves it and the log holds one
// run's renames and no failure.
TEST_F(Win32ProgramTest, TwoCopiesStartedTogetherLeaveTheFolderAsOneRunWould) {
  MakeGameFolder(temp_.path() + u"\\Game");
  constexpr int kSongs = 300;
  for (int i = 0; i < kSongs; ++i) {
    WriteBytes(mp3_ + u"\\Song " + Widen(std::to_string(i)) + u".mp3",
               "song " + std::to_string(i));
  }
  std::thread other([this] { RunShuffler(u"/DEBUG /NOLAUNCH"); });
  RunShuffler(u"/DEBUG /NOLAUNCH");
  other.join();

  const std::vector<Text> entries = EntriesOf(mp3_);
  EXPECT_EQ(entries.size(), Music().size() + 2 + kSongs);
  std::vector<std::string> contents;
  for (const Text& name : entries)
    contents.push_back(ReadBytes(mp3_ + u"\\" + name).value_or("?"));
  std::sort(contents.begin(), contents.end());
  EXPECT_EQ(std::adjacent_find(contents.begin(), contents.end()),
            contents.end());
  EXPECT_FALSE(Exists(mp3_ + u"\\temp"));
  const std::string log = ReadBytes(game_ + u"\\Shuffler.log").value_or("");
  EXPECT_EQ(Lines(log).size(), Music().size() + kSongs);
  EXPECT_EQ(log.find("***"), std::string::npos);
}

}  // namespace
}  // namespace shuffler
