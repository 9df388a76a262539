// The Windows platform layer on real folders in the temporary folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/win32_rules.h"
#include "platform/win32/win32_start.h"
#include "tests/failure_number.h"
#include "tests/win32/win32_testing.h"

namespace shuffler {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using win32_testing::CreateFolder;
using win32_testing::EntriesOf;
using win32_testing::Exists;
using win32_testing::ReadBytes;
using win32_testing::TempFolder;
using win32_testing::WriteBytes;

std::string Narrow(const Text& text) {
  std::string out;
  for (const char16_t c : text) {
    out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  return out;
}

Text Widen(const std::string& text) {
  return Text(text.begin(), text.end());
}

// Every name a listing returns, in order.
std::vector<Text> ListAll(Platform& platform, const Text& pattern,
                          ListMask mask) {
  std::vector<Text> names;
  for (Text name = platform.ListFirst(pattern, mask); !name.empty();
       name = platform.ListNext()) {
    names.push_back(name);
    if (names.size() > 1000) break;  // a listing that never ends
  }
  return names;
}

std::vector<Text> Sorted(std::vector<Text> names) {
  std::sort(names.begin(), names.end());
  return names;
}

class Win32PlatformTest : public ::testing::Test {
 protected:
  Text In(const Text& name) const { return temp_.path() + u"\\" + name; }

  TempFolder temp_;
  std::unique_ptr<Platform> platform_ = CreateSystemPlatform(0, nullptr);
};

TEST_F(Win32PlatformTest, ListingSkipsHiddenAndSystemEntriesAndHonoursMask) {
  WriteBytes(In(u"b.mp3"), "b");
  WriteBytes(In(u"a.txt"), "a");
  WriteBytes(In(u"hidden.mp3"), "h");
  win32_testing::MarkHidden(In(u"hidden.mp3"));
  WriteBytes(In(u"system.mp3"), "s");
  win32_testing::MarkSystem(In(u"system.mp3"));
  CreateFolder(In(u"sub"));
  CreateFolder(In(u"hidden folder"));
  win32_testing::MarkHidden(In(u"hidden folder"));

  EXPECT_EQ(platform_->Separator(), u'\\');
  EXPECT_THAT(Sorted(ListAll(*platform_, In(u"*.*"), ListMask::kNormalFiles)),
              ElementsAre(u"a.txt", u"b.mp3"));
  EXPECT_THAT(Sorted(ListAll(*platform_, In(u"*.*"), ListMask::kWithFolders)),
              ElementsAre(u".", u"..", u"a.txt", u"b.mp3", u"sub"));
  EXPECT_THAT(ListAll(*platform_, In(u"*.mp3"), ListMask::kNormalFiles),
              ElementsAre(u"b.mp3"));
  // Names are matched without regard to case, and the listing gives the
  // name as it is on disk.
  EXPECT_THAT(ListAll(*platform_, In(u"B.MP3"), ListMask::kNormalFiles),
              ElementsAre(u"b.mp3"));
  EXPECT_THAT(ListAll(*platform_, In(u"SUB"), ListMask::kWithFolders),
              ElementsAre(u"sub"));
  EXPECT_THAT(ListAll(*platform_, In(u"SUB"), ListMask::kNormalFiles),
              IsEmpty());
  EXPECT_THAT(ListAll(*platform_, In(u"hidden.mp3"), ListMask::kWithFolders),
              IsEmpty());

  // Nothing to list is not a failure.
  EXPECT_EQ(platform_->ListFirst(In(u"*.ogg"), ListMask::kWithFolders), u"");
  EXPECT_EQ(platform_->ListFirst(In(u"missing\\*.*"), ListMask::kWithFolders),
            u"");
  EXPECT_EQ(platform_->ListNext(), u"");
  EXPECT_EQ(platform_->ListNext(), u"");
  // Nor is a file where a folder should be.
  for (const Text pattern :
       {u"a.txt\\*.*", u"a.txt\\temp", u"a.txt\\temp\\*.*"}) {
    EXPECT_EQ(platform_->ListFirst(In(pattern), ListMask::kWithFolders), u"")
        << Narrow(pattern);
  }
}

TEST_F(Win32PlatformTest, ListingIsRestartedByEachFirstAndEndsForGood) {
  for (const char* name : {"1.mp3", "2.mp3", "3.mp3"}) {
    WriteBytes(In(Widen(name)), name);
  }
  EXPECT_EQ(platform_->ListNext(), u"");  // no listing started yet

  const Text first = platform_->ListFirst(In(u"*.mp3"), ListMask::kNormalFiles);
  EXPECT_FALSE(first.empty());
  // A new listing starts over instead of continuing the old one.
  EXPECT_THAT(Sorted(ListAll(*platform_, In(u"*.mp3"), ListMask::kNormalFiles)),
              ElementsAre(u"1.mp3", u"2.mp3", u"3.mp3"));
  EXPECT_EQ(platform_->ListNext(), u"");
  // Entries added after the end do not revive an exhausted listing.
  WriteBytes(In(u"4.mp3"), "4");
  EXPECT_EQ(platform_->ListNext(), u"");
}

TEST_F(Win32PlatformTest, RenameNeverReplacesAndReportsWhatWentWrong) {
  WriteBytes(In(u"a.mp3"), "first");
  WriteBytes(In(u"b.mp3"), "second");

  platform_->RenameEntry(In(u"a.mp3"), In(u"c.mp3"));
  EXPECT_FALSE(Exists(In(u"a.mp3")));
  EXPECT_EQ(ReadBytes(In(u"c.mp3")), "first");

  // An existing target is never replaced, whatever its case.
  EXPECT_EQ(FailureNumberOf(
                [&] { platform_->RenameEntry(In(u"c.mp3"), In(u"b.mp3")); }),
            kFileAlreadyExists);
  EXPECT_EQ(FailureNumberOf(
                [&] { platform_->RenameEntry(In(u"c.mp3"), In(u"B.MP3")); }),
            kFileAlreadyExists);
  EXPECT_EQ(ReadBytes(In(u"b.mp3")), "second");
  EXPECT_EQ(ReadBytes(In(u"c.mp3")), "first");

  EXPECT_EQ(FailureNumberOf([&] {
              platform_->RenameEntry(In(u"missing.mp3"), In(u"d.mp3"));
            }),
            kFileNotFound);
  EXPECT_EQ(FailureNumberOf([&] {
              platform_->RenameEntry(In(u"c.mp3"), In(u"no\\d.mp3"));
            }),
            kPathNotFound);

  // Renaming an entry to its own name changes nothing; there must be an
  // entry, though.
  platform_->RenameEntry(In(u"c.mp3"), In(u"c.mp3"));
  EXPECT_EQ(ReadBytes(In(u"c.mp3")), "first");
  EXPECT_EQ(FailureNumberOf([&] {
              platform_->RenameEntry(In(u"gone.mp3"), In(u"gone.mp3"));
            }),
            kFileNotFound);

  // A change of case alone renames the entry to itself: no duplicate.
  // (Windows changes the case on disk; Wine may keep the old one.)
  EXPECT_EQ(FailureNumberOf(
                [&] { platform_->RenameEntry(In(u"c.mp3"), In(u"C.mp3")); }),
            0);
  EXPECT_EQ(EntriesOf(temp_.path()).size(), 2u);
  EXPECT_EQ(ReadBytes(In(u"C.mp3")), "first");

  // Folders are renamed too, with what they hold.
  CreateFolder(In(u"old"));
  WriteBytes(In(u"old\\inner.mp3"), "inner");
  platform_->RenameEntry(In(u"old"), In(u"new"));
  EXPECT_FALSE(Exists(In(u"old")));
  EXPECT_EQ(ReadBytes(In(u"new\\inner.mp3")), "inner");
}

TEST_F(Win32PlatformTest, MoverMovesFilesOnlyAndNeverReplaces) {
  CreateFolder(In(u"temp"));
  WriteBytes(In(u"one.mp3"), "one");
  WriteBytes(In(u"two.mp3"), "two");
  WriteBytes(In(u"temp\\two.mp3"), "other two");
  const auto mover = platform_->CreateFileMover();

  // A destination ending in the separator keeps the name.
  mover->Move(In(u"one.mp3"), In(u"temp\\"));
  EXPECT_FALSE(Exists(In(u"one.mp3")));
  EXPECT_EQ(ReadBytes(In(u"temp\\one.mp3")), "one");
  mover->Move(In(u"temp\\one.mp3"), In(u"back.mp3"));
  EXPECT_EQ(ReadBytes(In(u"back.mp3")), "one");
  EXPECT_FALSE(Exists(In(u"temp\\one.mp3")));

  EXPECT_EQ(
      FailureNumberOf([&] { mover->Move(In(u"two.mp3"), In(u"temp\\")); }),
      kFileAlreadyExists);
  EXPECT_EQ(
      FailureNumberOf([&] { mover->Move(In(u"two.mp3"), In(u"back.mp3")); }),
      kFileAlreadyExists);
  EXPECT_EQ(ReadBytes(In(u"two.mp3")), "two");
  EXPECT_EQ(ReadBytes(In(u"temp\\two.mp3")), "other two");
  EXPECT_EQ(ReadBytes(In(u"back.mp3")), "one");

  // Folders are not moved, and a missing source is reported.
  CreateFolder(In(u"folder"));
  EXPECT_EQ(FailureNumberOf([&] { mover->Move(In(u"folder"), In(u"temp\\")); }),
            kFileNotFound);
  EXPECT_TRUE(win32_testing::IsFolder(In(u"folder")));
  EXPECT_FALSE(Exists(In(u"temp\\folder")));
  EXPECT_EQ(
      FailureNumberOf([&] { mover->Move(In(u"missing.mp3"), In(u"temp\\")); }),
      kFileNotFound);
  EXPECT_EQ(
      FailureNumberOf([&] { mover->Move(In(u"two.mp3"), In(u"nowhere\\")); }),
      kPathNotFound);
  EXPECT_EQ(ReadBytes(In(u"two.mp3")), "two");
}

// What recognises an entry stays through the shuffle's rename and moves; a
// file is replaced whole, and a replace that fails leaves the old file.
TEST_F(Win32PlatformTest, FactsStayThroughRenamesAndFilesAreReplacedWhole) {
  WriteBytes(In(u"song.mp3"), std::string(5000, 's'));
  CreateFolder(In(u"temp"));
  const EntryFacts before = platform_->FactsOf(In(u"song.mp3"));
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::system_clock::now().time_since_epoch());
  EXPECT_EQ(before.size, 5000u);
  EXPECT_LT(std::abs(before.modified - now.count()), 26 * 3600);
  platform_->RenameEntry(In(u"song.mp3"), In(u"0042-song.mp3"));
  platform_->CreateFileMover()->Move(In(u"0042-song.mp3"), In(u"temp\\"));
  platform_->CreateFileMover()->Move(In(u"temp\\0042-song.mp3"), In(u"x.mp3"));
  EXPECT_EQ(platform_->FactsOf(In(u"x.mp3")), before);
  // Known as a file, moved away, its name then taken by a folder: a mover
  // refuses it.
  const auto mover = platform_->CreateFileMover();
  mover->Move(In(u"x.mp3"), In(u"temp\\"));
  platform_->MakeFolder(In(u"d"));
  platform_->RenameEntry(In(u"d"), In(u"x.mp3"));
  EXPECT_EQ(FailureNumberOf([&] { mover->Move(In(u"x.mp3"), In(u"temp\\y")); }),
            kFileNotFound);
  platform_->RemoveFolder(In(u"x.mp3"));
  mover->Move(In(u"temp\\x.mp3"), In(u"x.mp3"));
  EXPECT_EQ(platform_->FactsOf(In(u"temp")), (EntryFacts{true, 0, 0}));
  EXPECT_EQ(FailureNumberOf([&] { platform_->FactsOf(In(u"gone")); }),
            kFileNotFound);

  const Text names = In(u"Shuffler.names");
  EXPECT_EQ(FailureNumberOf([&] { platform_->ReadWholeFile(names); }),
            kFileNotFound);
  platform_->ReplaceWholeFile(names, "");
  EXPECT_EQ(platform_->ReadWholeFile(names), "");
  WriteBytes(In(u"Shuffler.names.new"), std::string(70000, 'x'));
  const std::string whole(300000, 'n');
  platform_->ReplaceWholeFile(names, whole);
  EXPECT_TRUE(platform_->ReadWholeFile(names) == whole);
  EXPECT_EQ(
      FailureNumberOf([&] { platform_->ReplaceWholeFile(In(u"temp"), "t"); }),
      kPathFileAccessError);
  EXPECT_EQ(FailureNumberOf([&] { platform_->ReadWholeFile(In(u"temp")); }),
            kPathFileAccessError);
  EXPECT_THAT(EntriesOf(temp_.path()),
              ElementsAre(u"Shuffler.names", u"temp", u"x.mp3"));
  EXPECT_EQ(win32::FailureNumberFor(112), kDiskFull);  // ERROR_DISK_FULL
}

TEST_F(Win32PlatformTest, FoldersAreMadeAndRemovedWithTheUsualFailures) {
  platform_->MakeFolder(In(u"temp"));
  EXPECT_TRUE(win32_testing::IsFolder(In(u"temp")));
  EXPECT_EQ(FailureNumberOf([&] { platform_->MakeFolder(In(u"temp")); }),
            kPathFileAccessError);
  EXPECT_EQ(FailureNumberOf([&] { platform_->MakeFolder(In(u"no\\temp")); }),
            kPathNotFound);

  WriteBytes(In(u"temp\\kept.mp3"), "kept");
  EXPECT_EQ(FailureNumberOf([&] { platform_->RemoveFolder(In(u"temp")); }),
            kPathFileAccessError);
  EXPECT_EQ(ReadBytes(In(u"temp\\kept.mp3")), "kept");

  win32_testing::RemoveTree(In(u"temp\\kept.mp3"));
  platform_->RemoveFolder(In(u"temp"));
  EXPECT_FALSE(Exists(In(u"temp")));
  EXPECT_EQ(FailureNumberOf([&] { platform_->RemoveFolder(In(u"temp")); }),
            kFileNotFound);

  // A file where a folder should be: the path is not found.
  WriteBytes(In(u"file"), "file");
  EXPECT_EQ(FailureNumberOf([&] { platform_->RemoveFolder(In(u"file")); }),
            kPathNotFound);
  EXPECT_EQ(FailureNumberOf([&] { platform_->MakeFolder(In(u"file\\temp")); }),
            kPathNotFound);
  EXPECT_EQ(ReadBytes(In(u"file")), "file");
}

TEST_F(Win32PlatformTest, NamesEndingInADotOrASpaceAreUsedExactly) {
  // Only the extended form can make them: Windows drops a trailing dot or
  // space from a classic path.
  const Text dotted = u"07-Track.";
  const Text spaced = u"Tune ";
  WriteBytes(u"\\\\?\\" + In(dotted), "dotted");
  WriteBytes(u"\\\\?\\" + In(spaced), "spaced");
  CreateFolder(In(u"temp"));
  EXPECT_THAT(Sorted(ListAll(*platform_, In(u"*.*"), ListMask::kNormalFiles)),
              ElementsAre(dotted, spaced));

  platform_->RenameEntry(In(dotted), In(u"1-Track."));
  platform_->RenameEntry(In(spaced), In(u"2-Tune "));
  const auto mover = platform_->CreateFileMover();
  for (const Text name : {u"1-Track.", u"2-Tune "}) {
    mover->Move(In(name), In(u"temp\\"));
    EXPECT_THAT(EntriesOf(In(u"temp")), ElementsAre(name));
    mover->Move(In(u"temp\\" + name), In(u""));
  }
  platform_->RemoveFolder(In(u"temp"));
  EXPECT_THAT(EntriesOf(temp_.path()), ElementsAre(u"1-Track.", u"2-Tune "));
  EXPECT_EQ(ReadBytes(u"\\\\?\\" + In(u"1-Track.")), "dotted");
  EXPECT_EQ(ReadBytes(u"\\\\?\\" + In(u"2-Tune ")), "spaced");
}

TEST_F(Win32PlatformTest, LogHoldsAnsiLinesEndedByCarriageReturnLineFeed) {
  if (win32_testing::AnsiCodePage() != 1252) {
    GTEST_SKIP() << "the expected bytes are those of code page 1252";
  }
  const Text log = In(u"Shuffler.log");
  EXPECT_EQ(FailureNumberOf([&] { platform_->WriteLogLine(u"early"); }),
            kBadFileNameOrNumber);
  platform_->CloseLog();  // not open: nothing happens

  platform_->OpenLog(log);
  platform_->WriteLogLine(u"1.mp3 -> 07-1.mp3");
  platform_->WriteLogLine(u"caf\u00e9 \u20ac");  // both in the code page
  platform_->WriteLogLine(u"\u6f22");            // a CJK character
  platform_->WriteLogLine(u"a\U0001F600b");      // an emoji: one character
  platform_->WriteLogLine(u"\u0101");            // no best-fit "a" for a-macron
  platform_->WriteLogLine(u"");
  platform_->CloseLog();
  EXPECT_EQ(ReadBytes(log),
            "1.mp3 -> 07-1.mp3\r\n"
            "caf\xE9 \x80\r\n"
            "?\r\n"
            "a?b\r\n"
            "?\r\n"
            "\r\n");
  EXPECT_EQ(FailureNumberOf([&] { platform_->WriteLogLine(u"late"); }),
            kBadFileNameOrNumber);

  // Opening again starts the log afresh.
  platform_->OpenLog(log);
  platform_->WriteLogLine(u"again");
  platform_->CloseLog();
  EXPECT_EQ(ReadBytes(log), "again\r\n");

  EXPECT_EQ(
      FailureNumberOf([&] { platform_->OpenLog(In(u"no\\Shuffler.log")); }),
      kPathNotFound);
}

TEST_F(Win32PlatformTest, EachLogLineReachesTheFileAtOnce) {
  const Text log = In(u"Shuffler.log");
  platform_->OpenLog(log);
  std::string expected;
  for (int i = 0; i < 3; ++i) {
    const std::string line = "line " + std::to_string(i);
    platform_->WriteLogLine(Widen(line));
    expected += line + "\r\n";
    EXPECT_EQ(ReadBytes(log), expected);
  }
  platform_->CloseLog();
  EXPECT_EQ(ReadBytes(log), expected);
}

TEST(Win32ArgumentTextTest, FollowsTheProgramNameAsWindowsReadsIt) {
  using win32::ArgumentTextOf;
  EXPECT_EQ(ArgumentTextOf(u"\"C:\\Program Files\\Game\\Shuffler.exe\" "
                           u"/DEBUG  /launch \"my game.exe\""),
            u"/DEBUG  /launch \"my game.exe\"");
  EXPECT_EQ(ArgumentTextOf(u"C:\\Games\\Shuffler.exe /NOLAUNCH"), u"/NOLAUNCH");
  // Blanks after the name are spaces and tabs; those at the end stay.
  EXPECT_EQ(ArgumentTextOf(u"Shuffler.exe \t /DENUM \t"), u"/DENUM \t");
  EXPECT_EQ(ArgumentTextOf(u"Shuffler.exe\t/DEBUG"), u"/DEBUG");
  // A quoted name ends at the next quote, even with no blank after it.
  EXPECT_EQ(ArgumentTextOf(u"\"C:\\a b\\Shuffler.exe\"/DEBUG"), u"/DEBUG");
  EXPECT_EQ(ArgumentTextOf(u"\"C:\\a b\\Shuffler /DEBUG"), u"");
  // An unquoted name ends at the first blank, quotes and all.
  EXPECT_EQ(ArgumentTextOf(u"C:\\a\"b c\" /DEBUG"), u"c\" /DEBUG");
  EXPECT_EQ(ArgumentTextOf(u"Shuffler.exe"), u"");
  EXPECT_EQ(ArgumentTextOf(u"\"Shuffler.exe\"   "), u"");
  EXPECT_EQ(ArgumentTextOf(u""), u"");
  EXPECT_EQ(ArgumentTextOf(u"Shuffler.exe /launch \u6f22.exe"),
            u"/launch \u6f22.exe");

  // The platform reads this very process's command line the same way.
  const auto platform = CreateSystemPlatform(0, nullptr);
  EXPECT_EQ(platform->ArgumentText(),
            ArgumentTextOf(win32_testing::OwnCommandLine()));
}

TEST_F(Win32PlatformTest, ProgramFolderIsTheFolderOfTheRunningProgram) {
  const Text folder = platform_->ProgramFolder();
  EXPECT_EQ(folder, win32_testing::FullPath(Widen(SHUFFLER_TESTS_FOLDER)));
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), u'\\');
  EXPECT_TRUE(Exists(folder + u"\\shuffler_tests.exe"));
}

TEST(Win32SystemPathTest, EveryPathTakesTheExtendedFormWithItsNamesKept) {
  using win32::SystemPath;
  using win32::ToWide;
  const Text name(120, u'n');
  const Text deep = u"\\" + name + u"\\" + name + u"\\" + name;
  EXPECT_EQ(SystemPath(u"C:\\Games\\mp3\\*.*"), L"\\\\?\\C:\\Games\\mp3\\*.*");
  EXPECT_EQ(SystemPath(u"C:\\Games" + deep),
            ToWide(u"\\\\?\\C:\\Games" + deep));
  EXPECT_EQ(SystemPath(u"\\\\server\\share" + deep),
            ToWide(u"\\\\?\\UNC\\server\\share" + deep));
  EXPECT_EQ(SystemPath(u"//server/share/a"), L"\\\\?\\UNC\\server\\share\\a");
  // Names ending in a dot or a space are kept exactly.
  EXPECT_EQ(SystemPath(u"C:\\Games\\mp3\\Song."),
            L"\\\\?\\C:\\Games\\mp3\\Song.");
  EXPECT_EQ(SystemPath(u"C:\\Games.\\mp3\\Tune "),
            L"\\\\?\\C:\\Games.\\mp3\\Tune ");
  // "." and ".." and "/" are resolved, since the extended form would take
  // them literally; ".." never climbs above the root.
  EXPECT_EQ(SystemPath(u"C:\\Games\\x\\..\\y/." + deep),
            ToWide(u"\\\\?\\C:\\Games\\y" + deep));
  EXPECT_EQ(SystemPath(u"C:\\..\\..\\a"), L"\\\\?\\C:\\a");
  EXPECT_EQ(SystemPath(u"\\\\server\\share\\..\\a"),
            L"\\\\?\\UNC\\server\\share\\a");
  EXPECT_EQ(SystemPath(u"C:\\"), L"\\\\?\\C:\\");
  EXPECT_EQ(SystemPath(u"C:\\Games\\mp3\\temp\\"),
            L"\\\\?\\C:\\Games\\mp3\\temp\\");
  // A relative path is taken from the current folder.
  const Text current = win32_testing::FullPath(u".");
  ASSERT_FALSE(current.empty());
  const Text base = current.back() == u'\\' ? current : current + u"\\";
  EXPECT_EQ(SystemPath(u"mp3\\Song."),
            ToWide(u"\\\\?\\" + base + u"mp3\\Song."));
  EXPECT_EQ(SystemPath(u".\\mp3\\..\\x "), ToWide(u"\\\\?\\" + base + u"x "));
  // Device forms pass through.
  const Text extended = u"\\\\?\\C:\\Games\\a\\..\\b.";
  EXPECT_EQ(SystemPath(extended), ToWide(extended));
  EXPECT_EQ(SystemPath(u"\\\\.\\pipe\\x"), L"\\\\.\\pipe\\x");
  // A network path without its share is left as it is.
  EXPECT_EQ(SystemPath(u"\\\\server\\"), L"\\\\server\\");
}

TEST_F(Win32PlatformTest, PathsBeyondTheClassicLimitWork) {
  Text folder = temp_.path();
  while (folder.size() <= 300) {
    folder += u"\\" + Text(60, u'd');
    platform_->MakeFolder(folder);
  }
  const Text mp3 = folder + u"\\mp3";
  platform_->MakeFolder(mp3);
  platform_->MakeFolder(mp3 + u"\\temp");
  WriteBytes(mp3 + u"\\01-song.mp3", "song");
  WriteBytes(mp3 + u"\\02-tune.mp3", "tune");

  EXPECT_THAT(
      Sorted(ListAll(*platform_, mp3 + u"\\*.*", ListMask::kNormalFiles)),
      ElementsAre(u"01-song.mp3", u"02-tune.mp3"));
  platform_->RenameEntry(mp3 + u"\\01-song.mp3", mp3 + u"\\5-song.mp3");
  const auto mover = platform_->CreateFileMover();
  mover->Move(mp3 + u"\\5-song.mp3", mp3 + u"\\temp\\");
  EXPECT_EQ(FailureNumberOf([&] {
              platform_->RenameEntry(mp3 + u"\\02-tune.mp3",
                                     mp3 + u"\\temp\\5-song.mp3");
            }),
            kFileAlreadyExists);
  mover->Move(mp3 + u"\\temp\\5-song.mp3", mp3 + u"\\");
  EXPECT_THAT(EntriesOf(mp3 + u"\\temp"), IsEmpty());
  platform_->RemoveFolder(mp3 + u"\\temp");
  EXPECT_THAT(EntriesOf(mp3), ElementsAre(u"02-tune.mp3", u"5-song.mp3"));
  EXPECT_EQ(ReadBytes(mp3 + u"\\5-song.mp3"), "song");
  EXPECT_EQ(ReadBytes(mp3 + u"\\02-tune.mp3"), "tune");

  platform_->OpenLog(folder + u"\\Shuffler.log");
  platform_->WriteLogLine(u"deep");
  platform_->CloseLog();
  EXPECT_EQ(ReadBytes(folder + u"\\Shuffler.log"), "deep\r\n");
}

TEST_F(Win32PlatformTest, NamesOutsideTheAnsiCodePageSurviveIntact) {
  const Text greek = u"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac.mp3";
  const Text cjk = u"\u6f22\u5b57 song.mp3";
  const Text emoji = u"\U0001F600.mp3";
  WriteBytes(In(greek), "greek");
  WriteBytes(In(cjk), "cjk");
  CreateFolder(In(u"temp"));

  EXPECT_THAT(Sorted(ListAll(*platform_, In(u"*.mp3"), ListMask::kNormalFiles)),
              ElementsAre(greek, cjk));
  platform_->RenameEntry(In(cjk), In(emoji));
  platform_->CreateFileMover()->Move(In(greek), In(u"temp\\"));
  EXPECT_THAT(ListAll(*platform_, In(u"temp\\*.mp3"), ListMask::kNormalFiles),
              ElementsAre(greek));
  EXPECT_THAT(ListAll(*platform_, In(u"*.mp3"), ListMask::kNormalFiles),
              ElementsAre(emoji));
  EXPECT_EQ(ReadBytes(In(emoji)), "cjk");
  EXPECT_EQ(ReadBytes(In(u"temp\\" + greek)), "greek");
}

TEST_F(Win32PlatformTest, StartRunsExactlyTheProgramMaximisedWithoutWaiting) {
  // "My Game\gta3.exe" with a "My.exe" beside "My Game": a start that read
  // the path up to its first blank would run the wrong program.
  const Text game_folder = In(u"My Game");
  CreateFolder(game_folder);
  const Text game = game_folder + u"\\gta3.exe";
  const Text stand_in = Widen(SHUFFLER_STAND_IN_GAME_PATH);
  win32_testing::CopyFileTo(stand_in, game);
  win32_testing::CopyFileTo(stand_in, In(u"My.exe"));

  // It starts in its own folder, its arguments after its quoted path.
  platform_->StartMaximized(game, u"-nointro  \"a b\"");
  ASSERT_TRUE(
      win32_testing::WaitForFile(game_folder + u"\\started.txt", 20000));
  EXPECT_EQ(ReadBytes(game_folder + u"\\started.txt"),
            "show=3\r\nflags=1\r\ncommand=\"" + Narrow(game) +
                "\" -nointro  \"a b\"\r\nfolder=" + Narrow(game_folder) +
                "\r\npath=" + Narrow(game) + "\r\n");
  EXPECT_FALSE(Exists(In(u"started.txt")));

  EXPECT_EQ(FailureNumberOf(
                [&] { platform_->StartMaximized(In(u"gta-vc.exe"), u""); }),
            kFileNotFound);
  WriteBytes(In(u"text.exe"), "not a program");
  EXPECT_EQ(
      FailureNumberOf([&] { platform_->StartMaximized(In(u"text.exe"), u""); }),
      kInvalidArgument);
}

TEST_F(Win32PlatformTest, ALongProgramPathIsGivenInItsShortForm) {
  // Neither the program nor its working folder may be longer than the
  // classic limit: longer ones are given in their short forms, which name
  // the same program and folder. (Wine starts no program this deep at all,
  // so only the forms are checked.)
  Text folder = temp_.path();
  while (folder.size() < 300) {
    folder += u"\\" + Text(40, u'w');
    CreateFolder(folder);
  }
  const Text game = folder + u"\\game.exe";
  WriteBytes(game, "game");
  const win32::ProgramStart start = win32::ProgramStartOf(game, u"-x");
  EXPECT_LE(start.application.size(), 259u);
  EXPECT_EQ(start.file, start.application);
  EXPECT_EQ(ReadBytes(win32::FromWide(start.application)), "game");
  EXPECT_EQ(start.command_line, L"\"" + win32::ToWide(game) + L"\" -x");
  ASSERT_FALSE(start.folder.empty());
  EXPECT_LE(start.folder.size(), 258u);
  EXPECT_EQ(ReadBytes(win32::FromWide(start.folder) + u"\\game.exe"), "game");
}

TEST_F(Win32PlatformTest, TheShellStartsAProgramMaximisedInItsFolder) {
  // The way a program that needs elevation is started, tried on one that
  // does not.
  const Text game_folder = In(u"Shell Game");
  CreateFolder(game_folder);
  const Text game = game_folder + u"\\game.exe";
  win32_testing::CopyFileTo(Widen(SHUFFLER_STAND_IN_GAME_PATH), game);
  const win32::ProgramStart start =
      win32::ProgramStartOf(game, u"-nointro \"a b\"");
  EXPECT_EQ(win32::SystemProgramStarter().shell_open(start), 0u);
  ASSERT_TRUE(
      win32_testing::WaitForFile(game_folder + u"\\started.txt", 20000));
  const std::string report =
      ReadBytes(game_folder + u"\\started.txt").value_or("");
  EXPECT_THAT(report, ::testing::StartsWith("show=3\r\nflags=1\r\n"));
  EXPECT_THAT(report, ::testing::HasSubstr(" -nointro \"a b\"\r\n"));
  EXPECT_THAT(report, ::testing::HasSubstr("\r\nfolder=" + Narrow(game_folder) +
                                           "\r\n"));
}

TEST(Win32StartTest, AProgramThatNeedsElevationIsStartedThroughTheShell) {
  const win32::ProgramStart start =
      win32::ProgramStartOf(u"C:\\Game\\game.exe", u"-x");
  EXPECT_EQ(start.command_line, L"\"C:\\Game\\game.exe\" -x");
  EXPECT_EQ(start.file, L"C:\\Game\\game.exe");
  EXPECT_EQ(start.parameters, L"-x");
  EXPECT_EQ(start.folder, L"C:\\Game");
  EXPECT_EQ(win32::ProgramStartOf(u"C:\\game.exe", u"").folder, L"C:\\");
  EXPECT_EQ(win32::ProgramStartOf(u"C:\\game.exe", u"").command_line,
            L"\"C:\\game.exe\"");

  // Each start answers with one Windows error code in turn.
  const struct {
    std::vector<unsigned long> answers = {};
    int32_t failure = 0;
    size_t shell_starts = 0;  // 740: elevation needed, asked of the shell
  } cases[] = {
      {.answers = {0}},
      {.answers = {2}, .failure = kFileNotFound},
      {.answers = {740, 0}, .shell_starts = 1},
      // The prompt was declined.
      {.answers = {740, 1223}, .failure = kPermissionDenied, .shell_starts = 1},
      {.answers = {740, 2}, .failure = kFileNotFound, .shell_starts = 1},
  };
  for (const auto& c : cases) {
    size_t next = 0;
    std::vector<std::wstring> shell_files;
    const auto answer = [&] {
      return next < c.answers.size() ? c.answers[next++] : 31u;
    };
    const win32::ProgramStarter starter = {
        [&](const win32::ProgramStart&) { return answer(); },
        [&](const win32::ProgramStart& shell) {
          shell_files.push_back(shell.file + L" " + shell.parameters + L" " +
                                shell.folder);
          return answer();
        }};
    EXPECT_EQ(FailureNumberOf([&] { win32::StartProgram(start, starter); }),
              c.failure);
    EXPECT_EQ(next, c.answers.size());
    ASSERT_EQ(shell_files.size(), c.shell_starts);
    if (c.shell_starts == 1) {
      EXPECT_EQ(shell_files[0], L"C:\\Game\\game.exe -x C:\\Game");
    }
  }
}

// A claim is on the folder itself, whatever letter case names it: refused to
// a second claimant until the first ends, while other folders stay free.
TEST_F(Win32PlatformTest, AFolderIsClaimedByOneRunAtATime) {
  CreateFolder(In(u"mp3"));
  CreateFolder(In(u"other"));
  EXPECT_TRUE(platform_->ClaimFolder(In(u"mp3"), Claim::kWorkInside));
  EXPECT_TRUE(platform_->ClaimFolder(In(u"MP3"), Claim::kOnly));
  const auto second = CreateSystemPlatform(0, nullptr);
  EXPECT_FALSE(second->ClaimFolder(In(u"Mp3"), Claim::kOnly));
  EXPECT_TRUE(second->ClaimFolder(In(u"other"), Claim::kOnly));
  platform_.reset();
  EXPECT_TRUE(second->ClaimFolder(In(u"mp3"), Claim::kOnly));
}

// Below the music folder claimed, a link on the way (as which Wine shows a
// host's symbolic link to a folder) is no way in: each operation fails as
// for a file on the way, and nothing behind the link is read or changed.
TEST_F(Win32PlatformTest, NoOperationGoesThroughALinkBelowTheClaimedFolder) {
  const Text links =
      win32_testing::FullPath(Widen(SHUFFLER_TESTS_FOLDER)) + u"\\links";
  const Text temp = links + u"\\mp3\\temp";
  const DWORD attributes = GetFileAttributesW(win32::SystemPath(temp).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    GTEST_SKIP() << "no link at " << Narrow(temp) << " (made by ctest)";
  }
  ASSERT_TRUE(platform_->ClaimFolder(links + u"\\mp3", Claim::kWorkInside));
  const Text behind = temp + u"\\x.mp3";
  const std::function<void()> kRefused[] = {
      [&] { platform_->FactsOf(behind); },
      [&] { platform_->ReadWholeFile(behind); },
      [&] { platform_->ReplaceWholeFile(behind, "changed"); },
      [&] { platform_->MakeFolder(temp + u"\\new"); },
      [&] { platform_->CreateFileMover()->Move(behind, links + u"\\mp3\\"); },
  };
  for (size_t row = 0; row < std::size(kRefused); ++row) {
    EXPECT_EQ(FailureNumberOf(kRefused[row]), kPathNotFound) << "row " << row;
  }
  EXPECT_EQ(ReadBytes(links + u"\\outside\\x.mp3"), "X\n");
  EXPECT_THAT(EntriesOf(links + u"\\outside"), ElementsAre(u"x.mp3"));
}

// The Windows errors Shuffler meets, and the failure each becomes.
TEST(Win32ErrorsTest, ErrorCodesMapOntoFailureNumbers) {
  const struct {
    DWORD error;
    int32_t number;
  } kTable[] = {
      {ERROR_FILE_NOT_FOUND, kFileNotFound},
      {ERROR_PATH_NOT_FOUND, kPathNotFound},
      {ERROR_DIRECTORY, kPathNotFound},
      {ERROR_ALREADY_EXISTS, kFileAlreadyExists},
      {ERROR_FILE_EXISTS, kFileAlreadyExists},
      {ERROR_ACCESS_DENIED, kPermissionDenied},
      {ERROR_WRITE_PROTECT, kPermissionDenied},  // a locked card
      {ERROR_BAD_EXE_FORMAT, kInvalidArgument},
      {ERROR_BAD_FORMAT, kInvalidArgument},
      {ERROR_EXE_MACHINE_TYPE_MISMATCH, kInvalidArgument},
      {ERROR_INVALID_EXE_SIGNATURE, kInvalidArgument},
      {ERROR_DIR_NOT_EMPTY, kPathFileAccessError},
      {ERROR_SHARING_VIOLATION, kPathFileAccessError},
  };
  for (const auto& [error, number] : kTable) {
    EXPECT_EQ(win32::FailureNumberFor(error), number) << error;
  }
  for (const DWORD exists : {ERROR_ALREADY_EXISTS, ERROR_FILE_EXISTS}) {
    EXPECT_EQ(win32::FailureNumberFor(exists, win32::Operation::kMakeFolder),
              kPathFileAccessError);
  }
}

TEST(Win32RandomTest, RandomizeSeedsDifferentlyEachTime) {
  const auto platform = CreateSystemPlatform(0, nullptr);
  std::vector<float> firsts;
  for (int i = 0; i < 4; ++i) {
    platform->Randomize();
    firsts.push_back(platform->NextRandom());
  }
  std::sort(firsts.begin(), firsts.end());
  EXPECT_EQ(std::adjacent_find(firsts.begin(), firsts.end()), firsts.end());
}

}  // namespace
}  // namespace shuffler
