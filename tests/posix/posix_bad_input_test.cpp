// The real program on music folders that are hard to handle: names that are
// not UTF-8, names too long for a prefix, a name like the shuffle's own
// marker, a file named "temp", a folder nobody may change, a music "folder"
// that is a file, more entries than the scan can count, and files that
// Windows marks hidden or system on an NTFS mount. Each run must end, report
// what the design says on standard error, and lose nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/posix/posix_testing.h"
#include "tests/posix/scratch_mount.h"

namespace shuffler::posix_testing {
namespace {

namespace fs = std::filesystem;

// The names in `folder`, each with its content.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().native()] =
        entry.is_directory() ? "<folder>" : ReadContent(entry.path());
  }
  return files;
}

// The contents of a snapshot, sorted: what must survive any run.
std::multiset<std::string> Contents(
    const std::map<std::string, std::string>& files) {
  std::multiset<std::string> contents;
  for (const auto& [name, content] : files)
    contents.insert(content);
  return contents;
}

// `name` without a prefix of `digits` digits and a hyphen; empty when it
// has no such prefix.
std::string WithoutPrefix(const std::string& name, size_t digits) {
  if (name.size() <= digits || name[digits] != '-') return "";
  for (size_t i = 0; i < digits; ++i) {
    if (name[i] < '0' || name[i] > '9') return "";
  }
  return name.substr(digits + 1);
}

// The stop box as the POSIX program writes it: caption, ": ", the prompt
// with its line breaks as "\n", and a line feed.
std::string Box(const std::string& caption, const std::string& prompt) {
  return caption + ": " + prompt + "\n";
}
std::string RenamingBox(const fs::path& path) {
  return Box("Error", "An error occurred renaming file: \n" + path.native());
}
std::string MovingBox(const fs::path& path) {
  return Box("Error", "An error occurred moving file: \n" + path.native());
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + part.size())) {
    ++count;
  }
  return count;
}

TEST(PosixBadInput, NamesThatAreNotAsciiOrNotUtf8KeepTheirBytes) {
  GameFolder game(SHUFFLER_PROGRAM_PATH);
  // Original name and the bare name its new name must end in.
  const std::map<std::string, std::string> bare = {
      {"Caf\xc3\xa9.mp3", "Caf\xc3\xa9.mp3"},
      {"07-\xe9t\xe9.mp3", "\xe9t\xe9.mp3"},  // Latin-1, not UTF-8
      {"\xff\xfe.mp3", "\xff\xfe.mp3"},
      {"\xe6\x97\xa5\xe6\x9c\xac.mp3", "\xe6\x97\xa5\xe6\x9c\xac.mp3"},
      {"04-\xc3(.mp3", "\xc3(.mp3"},                 // a broken sequence
      {"\xed\xa0\x80-x.mp3", "\xed\xa0\x80-x.mp3"},  // an encoded surrogate
      {"2 -\xf0\x9f\x8e\xb5.mp3", "\xf0\x9f\x8e\xb5.mp3"},
      {"new\nline\t.mp3", "new\nline\t.mp3"},
  };
  for (const auto& [name, unused] : bare)
    game.Write("mp3/" + name, "content " + name);
  const auto before = Snapshot(game.Music());

  const ProgramRun run = game.Run({"/NOLAUNCH", "/DEBUG"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.error_output, "");

  const auto after = Snapshot(game.Music());
  EXPECT_EQ(Contents(after), Contents(before));
  std::map<std::string, std::string> original_of;
  std::set<std::string> expected, found;
  for (const auto& [name, bare_name] : bare) {
    original_of[bare_name] = name;
    expected.insert(bare_name);
  }
  for (const auto& [name, content] : after) {
    const std::string rest = WithoutPrefix(name, 1);
    ASSERT_EQ(original_of.count(rest), 1u) << name;
    found.insert(rest);
    // The file keeps its content under its new name.
    EXPECT_EQ(content, "content " + original_of[rest]) << name;
  }
  EXPECT_EQ(found, expected);
  // One log line for each rename.
  EXPECT_EQ(CountOf(ReadContent(game.Root() / "Shuffler.log"), "Renamed \""),
            bare.size());
}

TEST(PosixBadInput, ANameTooLongForItsPrefixIsReportedAndKept) {
  GameFolder game(SHUFFLER_PROGRAM_PATH);
  const long longest = LongestNameIn(game.Music().native());
  ASSERT_GT(longest, 10);
  // The longest name but one: a two-digit prefix and its hyphen make it
  // too long.
  const std::string long_name =
      std::string(static_cast<size_t>(longest) - 5, 'x') + ".mp3";
  game.Write("mp3/" + long_name, "the long one");
  for (int i = 0; i < 11; ++i) {
    game.Write("mp3/song" + std::to_string(i) + ".mp3",
               "song " + std::to_string(i));
  }
  const auto before = Snapshot(game.Music());

  const ProgramRun run = game.Run({"/NOLAUNCH"});
  EXPECT_EQ(run.exit_code, 0);
  // The rename fails, and so do both moves of the name it could not get.
  const fs::path old_path = game.Music() / long_name;
  EXPECT_EQ(run.error_output,
            RenamingBox(old_path) + MovingBox(old_path) + MovingBox(old_path));

  const auto after = Snapshot(game.Music());
  EXPECT_EQ(Contents(after), Contents(before));
  ASSERT_EQ(after.count(long_name), 1u);
  EXPECT_EQ(after.at(long_name), "the long one");
  for (const auto& [name, content] : after) {
    if (name != long_name) {
      EXPECT_FALSE(WithoutPrefix(name, 2).empty()) << name;
    }
  }
  EXPECT_FALSE(fs::exists(game.Temp()));
}

TEST(PosixBadInput, AnEntryNamedLikeTheMarkerIsShuffledAndTheRunEnds) {
  GameFolder game(SHUFFLER_PROGRAM_PATH);
  game.Write("mp3/###FILEALREADYRENAMED###", "marker-like");
  game.Write("mp3/b.mp3", "b");
  game.Write("mp3/c.mp3", "c");

  const ProgramRun run = game.Run({"/NOLAUNCH"}, std::chrono::seconds(10));
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.error_output, "");
  std::set<std::string> rests;
  for (const auto& [name, content] : Snapshot(game.Music())) {
    rests.insert(WithoutPrefix(name, 1));
  }
  EXPECT_EQ(rests, (std::set<std::string>{"###FILEALREADYRENAMED###", "b.mp3",
                                          "c.mp3"}));
}

TEST(PosixBadInput, AFileNamedTempMakesEveryMoveFailAndLosesNothing) {
  GameFolder game(SHUFFLER_PROGRAM_PATH);
  game.Write("mp3/temp", "a file, not a folder");
  const std::vector<std::string> names = {"a.mp3", "b.mp3", "03-c.mp3"};
  for (const std::string& name : names)
    game.Write("mp3/" + name, "content " + name);
  const auto before = Snapshot(game.Music());

  const ProgramRun run = game.Run({"/NOLAUNCH"});
  EXPECT_EQ(run.exit_code, 0);
  // Two moving boxes for each entry, then the general box for the removal
  // of a "temp" that is no folder.
  const std::string removal_box = Box(
      "Error", "An error occurred!\n\nNumber: 76\nDescription: Path not found");
  size_t expected_length = removal_box.size();
  for (const std::string& name : names) {
    const std::string box = MovingBox(game.Music() / name);
    EXPECT_EQ(CountOf(run.error_output, box), 2u) << name;
    expected_length += 2 * box.size();
  }
  EXPECT_EQ(run.error_output.size(), expected_length) << run.error_output;
  EXPECT_TRUE(run.error_output.ends_with(removal_box)) << run.error_output;

  const auto after = Snapshot(game.Music());
  EXPECT_EQ(Contents(after), Contents(before));
  EXPECT_EQ(after.at("temp"), "a file, not a folder");
  // The entries are renamed where they are.
  std::set<std::string> rests;
  for (const auto& [name, content] : after) {
    if (name != "temp") rests.insert(WithoutPrefix(name, 1));
  }
  EXPECT_EQ(rests, (std::set<std::string>{"a.mp3", "b.mp3", "c.mp3"}));
}

TEST(PosixBadInput, AFolderNobodyMayChangeIsReportedOnceAndLeftAlone) {
  GameFolder game(SHUFFLER_PROGRAM_PATH);
  const std::vector<std::string> names = {"a.mp3", "02-b.mp3"};
  for (const std::string& name : names)
    game.Write("mp3/" + name, "content " + name);
  const auto before = Snapshot(game.Music());
  if (!SetFolderUnchangeable(game.Music().native(), true)) {
    GTEST_SKIP() << "neither the folder's mode nor the immutable attribute "
                    "keeps this user from changing a folder here";
  }
  const ProgramRun run = game.Run({"/NOLAUNCH"});
  SetFolderUnchangeable(game.Music().native(), false);

  EXPECT_EQ(run.exit_code, 0);
  // "temp" cannot be made: said once, and no entry is touched.
  EXPECT_EQ(run.error_output,
            Box("Error",
                "An error occurred!\n\nNumber: 70\nDescription: Permission "
                "denied"));
  EXPECT_EQ(Snapshot(game.Music()), before);  // nothing changed at all
}

TEST(PosixBadInput, AMusicFolderThatIsAFileIsLeftAlone) {
  GameFolder game(SHUFFLER_PROGRAM_PATH);
  fs::remove(game.Music());
  game.Write("mp3", "a file where the folder should be");

  const ProgramRun run = game.Run({"/NOLAUNCH", "/DEBUG"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.error_output, "");
  EXPECT_EQ(ReadContent(game.Music()), "a file where the folder should be");
  EXPECT_TRUE(fs::is_regular_file(game.Music()));
}

// Windows keeps a folder's settings and pictures in hidden and system
// files; renamed, they stop working there. On NTFS their attributes keep
// them out of the shuffle, whatever their names.
TEST(PosixBadInput, HiddenAndSystemFilesOnNtfsKeepTheirNames) {
  const std::string why = ScratchMount::WhyNot(WindowsFileSystem::kNtfs);
  if (!why.empty()) GTEST_SKIP() << "SKIPPED: no ntfs mount: " << why;
  ScratchMount mount(WindowsFileSystem::kNtfs);
  GameFolder game(SHUFFLER_PROGRAM_PATH, mount.Folder());
  const std::map<std::string, uint32_t> marked = {
      {"desktop.ini", kHiddenAttribute | kSystemAttribute},
      {"Folder.jpg", kHiddenAttribute | kArchiveAttribute},
      {"AlbumArtSmall.jpg", kSystemAttribute},
  };
  for (const auto& [name, attributes] : marked) {
    game.Write("mp3/" + name, "picture or settings: " + name);
    ASSERT_TRUE(SetNtfsAttributes(game.Music() / name, attributes)) << name;
  }
  const std::vector<std::string> songs = {"01-One.mp3", "02-Two.mp3",
                                          "Three.mp3"};
  for (const std::string& name : songs)
    game.Write("mp3/" + name, "song " + name);
  const auto before = Snapshot(game.Music());

  const ProgramRun run = game.Run({"/NOLAUNCH", "/DEBUG"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.error_output, "");

  const auto after = Snapshot(game.Music());
  EXPECT_EQ(Contents(after), Contents(before));
  std::set<std::string> rests;
  for (const auto& [name, content] : after) {
    if (marked.count(name) == 1) {
      EXPECT_EQ(content, "picture or settings: " + name);
    } else {
      // Three songs: one-digit numbers, the hidden files not counted.
      rests.insert(WithoutPrefix(name, 1));
    }
  }
  EXPECT_EQ(rests, (std::set<std::string>{"One.mp3", "Two.mp3", "Three.mp3"}));
  EXPECT_EQ(CountOf(ReadContent(game.Root() / "Shuffler.log"), "Renamed \""),
            songs.size());
  EXPECT_FALSE(fs::exists(game.Temp()));
}

TEST(PosixBadInput, MoreEntriesThanTheCountHoldsShuffleTheFirst32767) {
  GameFolder game(SHUFFLER_PROGRAM_PATH);
  constexpr int kEntries = 32768;
  for (int i = 0; i < kEntries; ++i)
    game.Write("mp3/t" + std::to_string(i), "");

  const auto started = std::chrono::steady_clock::now();
  const ProgramRun run = game.Run({"/NOLAUNCH"}, std::chrono::seconds(60));
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_code, 0);
  // The count overflows on the last entry; the collect pass then runs out
  // of slots on it.
  EXPECT_EQ(
      run.error_output,
      Box("Shuffler",
          "An error occurred!\n\nError Number: 6\nDescription: Overflow") +
          Box("Shuffler",
              "An error occurred!\n\nError Number: 9\nDescription: "
              "Subscript out of range"));

  int unchanged = 0;
  std::set<std::string> rests;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(game.Music())) {
    const std::string name = entry.path().filename().native();
    const std::string rest = WithoutPrefix(name, 5);
    if (rest.empty()) {
      ++unchanged;
      rests.insert(name);
    } else {
      rests.insert(rest);
    }
  }
  EXPECT_EQ(unchanged, 1);
  EXPECT_EQ(rests.size(), static_cast<size_t>(kEntries));  // none lost
  EXPECT_TRUE(rests.count("t0") == 1 && rests.count("t32767") == 1);
  EXPECT_FALSE(fs::exists(game.Temp()));
  std::printf(
      "[ overflow ] a run over %d entries took %lld ms\n", kEntries,
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

}  // namespace
}  // namespace shuffler::posix_testing
