// Listing the music folder: what is skipped, what is counted, and how the
// 16-bit counters and the sized list stop a scan.
#include <gtest/gtest.h>

#include "base/text.h"
#include "tests/fake_platform.h"

namespace shuffler::testing {
namespace {

const Text kMusicSlash = u"C:\\Game\\mp3\\";

TEST(Scan, SkipsExactlyItsOwnNamesAndCountsFilesAndFoldersAlike) {
  FakePlatform fake;
  fake.AddMusic(
      {u"MP3Report.txt", u"Track.MP3", u"mp3report.txt", u"notes.txt"});
  fake.AddFolder(u"C:\\Game\\mp3\\temp");
  fake.AddFolder(u"C:\\Game\\mp3\\Temp");
  fake.AddFolder(u"C:\\Game\\mp3\\Live");
  fake.AddFile(u"C:\\Game\\mp3\\Live\\inside.mp3");  // not descended into
  fake.AddFile(u"C:\\Game\\mp3\\desktop.ini", "x", /*hidden=*/true);
  frmOne form(fake);
  form.AppFolder = u"C:\\Game";

  Text folders = kMusicSlash;
  form.ScanMusicFolder(0, folders);
  EXPECT_EQ(form.FileCount, 5);
  EXPECT_TRUE(folders.empty());  // the list is consumed
  EXPECT_EQ(fake.messages_processed, 1);

  form.FileNames.Resize(form.FileCount);
  folders = kMusicSlash;
  form.ScanMusicFolder(1, folders);
  EXPECT_EQ(form.FileIndex, 5);
  const std::vector<Text> expected = {u"Track.MP3", u"mp3report.txt",
                                      u"notes.txt", u"Temp", u"Live"};
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(form.FileNames[i], expected[i]);
  // Counters are not reset by the scan: a second count pass adds on.
  folders = kMusicSlash;
  form.ScanMusicFolder(0, folders);
  EXPECT_EQ(form.FileCount, 10);
}

TEST(Scan, ListsEveryFolderOfTheList) {
  FakePlatform fake;
  fake.AddFolder(u"C:\\A");
  fake.AddFolder(u"C:\\B");
  fake.AddFile(u"C:\\A\\one");
  fake.AddFile(u"C:\\B\\two");
  fake.AddFile(u"C:\\B\\three");
  frmOne form(fake);
  Text folders = Text(u"C:\\A\\") + u'\0' + u"C:\\B\\";
  form.ScanMusicFolder(0, folders);
  EXPECT_EQ(form.FileCount, 3);
  EXPECT_EQ(fake.messages_processed, 2);
  EXPECT_TRUE(folders.empty());
}

TEST(Scan, AFolderPathTooLongForItsPositionOverflows) {
  FakePlatform fake;
  frmOne form(fake);
  // The separator after a folder of 32766 characters stands at 32767; the
  // position after it no longer fits.
  for (size_t length : {32765u, 32766u}) {
    Text folders(length, u'x');
    form.FileCount = 0;
    try {
      form.ScanMusicFolder(0, folders);
      EXPECT_EQ(length, 32765u) << "only the shorter path fits";
    } catch (const Failure& failure) {
      EXPECT_EQ(length, 32766u);
      EXPECT_EQ(failure.Number, kOverflow);
    }
  }
}

TEST(Scan, TheCountStopsAt32767AndTheRunShufflesWhatWasCollected) {
  FakePlatform fake;
  std::vector<Text> names;
  for (int i = 0; i < 32768; ++i)
    names.push_back(Text(u"t").append(DecimalText(i)));
  fake.AddMusic(names);
  fake.argument_text = u"/NOLAUNCH";
  frmOne form(fake);
  ASSERT_TRUE(RunToEnd(form));

  // The count pass overflows on the 32768th entry, the collect pass runs
  // out of slots on the same entry, and the shuffle takes the rest.
  ASSERT_EQ(fake.boxes.size(), 2u);
  EXPECT_NE(fake.boxes[0].prompt.find(u"Error Number: 6\r\n"), Text::npos);
  EXPECT_NE(fake.boxes[1].prompt.find(u"Error Number: 9\r\n"), Text::npos);
  EXPECT_EQ(form.FileCount, 32767);
  EXPECT_EQ(form.FileIndex, 32767);
  EXPECT_EQ(fake.CallsOf(Op::kRenameEntry), 32767);

  const std::vector<Text> after = fake.Names(Text(FakePlatform::kMusic));
  ASSERT_EQ(after.size(), 32768u);
  int unchanged = 0;
  for (const Text& name : after) {
    if (name == u"t32767") {
      ++unchanged;
    } else {
      EXPECT_EQ(name[5], u'-') << Narrow(name);  // five-digit prefixes
    }
  }
  EXPECT_EQ(unchanged, 1);
  EXPECT_EQ(fake.ContentsBelow(Text(FakePlatform::kMusic)).size(), 32768u);
  EXPECT_FALSE(fake.Exists(u"C:\\Game\\mp3\\temp"));
}

TEST(Scan, ACollectPassThatFindsMoreThanTheCountStopsAtTheFirstSurplus) {
  FakePlatform fake;
  fake.AddMusic({u"a.mp3", u"b.mp3"});
  fake.argument_text = u"/NOLAUNCH";
  // Two entries appear between the count pass and the collect pass (the
  // fifth listing, after the two looks for a game executable and the look
  // for "temp").
  fake.before_call = [&](Op op, int nth) {
    if (op == Op::kListFirst && nth == 5) {
      fake.AddMusic({u"late1.mp3", u"late2.mp3"});
    }
  };
  frmOne form(fake);
  ASSERT_TRUE(RunToEnd(form));
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].prompt,
            u"An error occurred!\r\n\r\nError Number: 9\r\n"
            u"Description: Subscript out of range");
  EXPECT_EQ(form.FileCount, 2);
  EXPECT_EQ(fake.CallsOf(Op::kRenameEntry), 2);
  // The surplus entries are left as they were.
  EXPECT_TRUE(fake.Exists(u"C:\\Game\\mp3\\late1.mp3"));
  EXPECT_TRUE(fake.Exists(u"C:\\Game\\mp3\\late2.mp3"));
  EXPECT_FALSE(fake.Exists(u"C:\\Game\\mp3\\a.mp3"));
}

}  // namespace
}  // namespace shuffler::testing
