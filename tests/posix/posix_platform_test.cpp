// The POSIX platform on real folders: listing, the never-replacing rename
// and move (on the local file system and on Windows file systems mounted
// through FUSE), hidden and system attributes, the log's bytes, names that are
// not UTF-8, the argument text, the program folder, starting programs and the
// stop box.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/platform.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/utf8.h"
#include "platform/random.h"
#include "tests/failure_number.h"
#include "tests/fake_platform.h"
#include "tests/posix/posix_testing.h"
#include "tests/posix/scratch_mount.h"

namespace shuffler {
namespace {

namespace fs = std::filesystem;

std::unique_ptr<Platform> MakePlatform() {
  char program[] = "Shuffler";
  char* argv[] = {program, nullptr};
  return CreateSystemPlatform(1, argv);
}

class PosixPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeRoot(fs::temp_directory_path());
    platform_ = MakePlatform();
  }

  void TearDown() override {
    platform_.reset();
    std::error_code ignored;
    if (!root_.empty()) fs::remove_all(root_, ignored);
  }

  // Makes a new scratch folder in `base` the test's folder.
  void MakeRoot(const fs::path& base) {
    RandomGenerator random;
    random.Seed(static_cast<uint64_t>(
        std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::path folder;
    do {
      folder = base / ("shuffler-posix-" + std::to_string(random.NextBits()));
    } while (!fs::create_directory(folder));
    root_ = folder.string();
  }

  // Moves the test's folder onto a fresh mount of `kind`; skips the test
  // where that cannot be mounted (a test body returns when IsSkipped()).
  void MoveRootTo(posix_testing::WindowsFileSystem kind, int megabytes = 64) {
    const std::string why = posix_testing::ScratchMount::WhyNot(kind);
    if (!why.empty()) {
      GTEST_SKIP() << "SKIPPED: no " << posix_testing::NameOf(kind)
                   << " mount: " << why;
    }
    fs::remove_all(root_);
    root_.clear();
    mount_ = std::make_unique<posix_testing::ScratchMount>(kind, megabytes);
    MakeRoot(mount_->Folder());
  }

  // The byte path of `relative` inside the temporary folder.
  std::string Bytes(const std::string& relative) const {
    return relative.empty() ? root_ : root_ + "/" + relative;
  }
  // The same path as Shuffler's text.
  Text P(const std::string& relative) const {
    return DecodeUtf8(Bytes(relative));
  }

  void WriteFile(const std::string& relative, const std::string& content) {
    std::ofstream out(Bytes(relative), std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(out) << relative;
    out << content;
  }
  std::string ReadFile(const std::string& relative) const {
    std::ifstream in(Bytes(relative), std::ios::binary);
    if (!in) return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void MakeDir(const std::string& relative) {
    ASSERT_TRUE(fs::create_directory(fs::path(Bytes(relative))));
  }
  // The byte names in `relative`, as the file system holds them.
  std::set<std::string> Entries(const std::string& relative = "") const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(Bytes(relative))))
      names.insert(entry.path().filename().native());
    return names;
  }

  std::vector<Text> List(const Text& pattern, ListMask mask) {
    std::vector<Text> names;
    for (Text name = platform_->ListFirst(pattern, mask); !name.empty();
         name = platform_->ListNext()) {
      names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::unique_ptr<posix_testing::ScratchMount> mount_;  // before root_
  std::string root_;
  std::unique_ptr<Platform> platform_;
};

TEST_F(PosixPlatformTest, ListingSkipsHiddenEntriesAndHonoursTheMask) {
  WriteFile("a.mp3", "a");
  WriteFile("b.txt", "b");
  WriteFile(".hidden.mp3", "h");
  MakeDir("sub");
  MakeDir(".cache");
  fs::create_symlink("a.mp3", fs::path(Bytes("link.mp3")));

  using V = std::vector<Text>;
  EXPECT_EQ(List(P("*.*"), ListMask::kNormalFiles),
            (V{u"a.mp3", u"b.txt", u"link.mp3"}));
  EXPECT_EQ(List(P("*.*"), ListMask::kWithFolders),
            (V{u".", u"..", u"a.mp3", u"b.txt", u"link.mp3", u"sub"}));
  EXPECT_EQ(List(P("*"), ListMask::kWithFolders),
            (V{u".", u"..", u"a.mp3", u"b.txt", u"link.mp3", u"sub"}));
  EXPECT_EQ(List(P("*.mp3"), ListMask::kNormalFiles),
            (V{u"a.mp3", u"link.mp3"}));
  EXPECT_EQ(List(P("?.txt"), ListMask::kWithFolders), (V{u"b.txt"}));
  EXPECT_EQ(List(P("s*"), ListMask::kNormalFiles), V{});
  EXPECT_EQ(List(P(".*"), ListMask::kWithFolders), (V{u".", u".."}));
  EXPECT_EQ(List(P("*.MP3"), ListMask::kNormalFiles), V{})
      << "wildcard matching stays exact";
  // The dot-name masks add the names that begin with ".".
  EXPECT_EQ(List(P("*.*"), ListMask::kNormalFilesAndDotNames),
            (V{u".hidden.mp3", u"a.mp3", u"b.txt", u"link.mp3"}));
  EXPECT_EQ(List(P("*.*"), ListMask::kWithFoldersAndDotNames),
            (V{u".", u"..", u".cache", u".hidden.mp3", u"a.mp3", u"b.txt",
               u"link.mp3", u"sub"}));
  EXPECT_EQ(
      platform_->FindEntry(P(".hidden.mp3"), ListMask::kWithFoldersAndDotNames),
      u".hidden.mp3");
  EXPECT_EQ(
      platform_->FindEntry(P(".cache"), ListMask::kNormalFilesAndDotNames),
      u"");
  EXPECT_EQ(platform_->FindEntry(P(".hidden.mp3"), ListMask::kWithFolders),
            u"");

  // A finished listing is over: asking for more is a misuse.
  EXPECT_EQ(FailureNumberOf([&] { platform_->ListNext(); }), kInvalidArgument);
  EXPECT_EQ(FailureNumberOf([&] { MakePlatform()->ListNext(); }),
            kInvalidArgument);

  // A missing folder, or a file taken for one, simply matches nothing.
  EXPECT_EQ(platform_->ListFirst(P("nope/*.*"), ListMask::kWithFolders), u"");
  EXPECT_EQ(platform_->ListFirst(P("nope/a.mp3"), ListMask::kNormalFiles), u"");
  EXPECT_EQ(platform_->ListFirst(P("a.mp3/*.*"), ListMask::kWithFolders), u"");
  EXPECT_EQ(platform_->ListFirst(P("a.mp3/x"), ListMask::kNormalFiles), u"");
}

TEST_F(PosixPlatformTest, ExactNamesAreLookedUpAndFilesFoundIgnoringCase) {
  WriteFile("GTA3.EXE", "game");
  WriteFile("gta-vc.exe", "other game");
  WriteFile(".secret", "s");
  MakeDir("Data");

  EXPECT_EQ(platform_->ListFirst(P("GTA3.EXE"), ListMask::kNormalFiles),
            u"GTA3.EXE");
  EXPECT_EQ(platform_->ListNext(), u"");
  EXPECT_EQ(FailureNumberOf([&] { platform_->ListNext(); }), kInvalidArgument);

  // Files are found under any ASCII letter case, with their real name.
  EXPECT_EQ(platform_->ListFirst(P("gta3.exe"), ListMask::kNormalFiles),
            u"GTA3.EXE");
  EXPECT_EQ(platform_->ListNext(), u"");
  EXPECT_EQ(platform_->ListFirst(P("GTA-VC.EXE"), ListMask::kNormalFiles),
            u"gta-vc.exe");
  EXPECT_EQ(platform_->ListFirst(P("gta3.ex"), ListMask::kNormalFiles), u"");
  // ...but only when listing files: everything else stays exact.
  EXPECT_EQ(platform_->ListFirst(P("gta3.exe"), ListMask::kWithFolders), u"");
  EXPECT_EQ(platform_->ListFirst(P("data"), ListMask::kWithFolders), u"");
  EXPECT_EQ(platform_->ListFirst(P("data"), ListMask::kNormalFiles), u"");

  // Folders only with folders admitted; hidden names never.
  EXPECT_EQ(platform_->ListFirst(P("Data"), ListMask::kWithFolders), u"Data");
  EXPECT_EQ(platform_->ListFirst(P("Data"), ListMask::kNormalFiles), u"");
  EXPECT_EQ(platform_->ListFirst(P("."), ListMask::kWithFolders), u".");
  EXPECT_EQ(platform_->ListFirst(P(".."), ListMask::kNormalFiles), u"");
  EXPECT_EQ(platform_->ListFirst(P(".secret"), ListMask::kWithFolders), u"");
  EXPECT_EQ(platform_->ListFirst(P(".SECRET"), ListMask::kNormalFiles), u"");
  EXPECT_EQ(platform_->ListFirst(P("") + u"/", ListMask::kWithFolders), u"");
  // An exact look-up reads "?" and "*" as the characters they are.
  WriteFile("Song1.mp3", "1");
  EXPECT_EQ(platform_->FindEntry(P("Song?.mp3"), ListMask::kWithFolders), u"");
  EXPECT_EQ(platform_->FindEntry(P("*.mp3"), ListMask::kNormalFiles), u"");
  WriteFile("Song?.mp3", "?");
  EXPECT_EQ(platform_->FindEntry(P("Song?.mp3"), ListMask::kWithFolders),
            u"Song?.mp3");
  EXPECT_EQ(platform_->FindEntry(P("Song1.mp3"), ListMask::kNormalFiles),
            u"Song1.mp3");
  EXPECT_EQ(platform_->FindEntry(P("Data"), ListMask::kWithFolders), u"Data");
  EXPECT_EQ(platform_->FindEntry(P("Data"), ListMask::kNormalFiles), u"");

  // A folder copied from Windows may be "MP3": the one folder of that name
  // in any letter case stands in for a missing "mp3", never one of two.
  const Text root = P("");
  EXPECT_EQ(platform_->FolderNameInAnyCase(root, u"data"), u"Data");
  EXPECT_EQ(platform_->FolderNameInAnyCase(root, u"Data"), u"Data");
  EXPECT_EQ(platform_->FolderNameInAnyCase(root, u"gta3.exe"), u"gta3.exe")
      << "a file is no folder";
  MakeDir("DATA");
  EXPECT_EQ(platform_->FolderNameInAnyCase(root, u"data"), u"data");
  MakeDir("data");
  EXPECT_EQ(platform_->FolderNameInAnyCase(root, u"data"), u"data");
  EXPECT_EQ(platform_->FolderNameInAnyCase(root + u"/nope", u"data"), u"data");
  // A nothing-found lookup leaves no listing running.
  EXPECT_EQ(FailureNumberOf([&] { platform_->ListNext(); }), kInvalidArgument);

  EXPECT_EQ(FailureNumberOf([&] {
              platform_->ListFirst(P("GTA3.EXE") + u'\0' + u"x",
                                   ListMask::kNormalFiles);
            }),
            kBadFileNameOrNumber);
}

// On NTFS, Windows' hidden and system attributes hide an entry from
// listings and exact lookups alike, whatever its name.
TEST_F(PosixPlatformTest, HiddenAndSystemEntriesOnNtfsAreNeverListed) {
  MoveRootTo(posix_testing::WindowsFileSystem::kNtfs);
  if (IsSkipped()) return;
  using posix_testing::kArchiveAttribute;
  using posix_testing::kHiddenAttribute;
  using posix_testing::kSystemAttribute;
  const auto mark = [&](const std::string& relative, uint32_t attributes) {
    ASSERT_TRUE(posix_testing::SetNtfsAttributes(Bytes(relative), attributes))
        << relative;
  };
  // ntfs-3g shows a system file of 0 or 1 bytes as a FIFO or socket.
  WriteFile("song.mp3", "song");
  WriteFile("archived.mp3", "archived");
  WriteFile("hidden.mp3", "hidden");
  WriteFile("system.mp3", "system");
  WriteFile("GTA3.EXE", "game");
  MakeDir("Folder");
  MakeDir("Hidden Folder");
  mark("archived.mp3", kArchiveAttribute);
  mark("hidden.mp3", kHiddenAttribute | kArchiveAttribute);
  mark("system.mp3", kSystemAttribute);
  mark("GTA3.EXE", kHiddenAttribute | kSystemAttribute);
  mark("Hidden Folder", kHiddenAttribute);

  using V = std::vector<Text>;
  EXPECT_EQ(List(P("*.*"), ListMask::kWithFolders),
            (V{u".", u"..", u"Folder", u"archived.mp3", u"song.mp3"}));
  EXPECT_EQ(List(P("*.mp3"), ListMask::kNormalFiles),
            (V{u"archived.mp3", u"song.mp3"}));
  EXPECT_EQ(platform_->ListFirst(P("archived.mp3"), ListMask::kNormalFiles),
            u"archived.mp3");
  EXPECT_EQ(platform_->ListFirst(P("hidden.mp3"), ListMask::kNormalFiles), u"");
  EXPECT_EQ(platform_->ListFirst(P("system.mp3"), ListMask::kWithFolders), u"");
  EXPECT_EQ(platform_->ListFirst(P("GTA3.EXE"), ListMask::kNormalFiles), u"");
  EXPECT_EQ(platform_->ListFirst(P("gta3.exe"), ListMask::kNormalFiles), u"");
  EXPECT_EQ(platform_->ListFirst(P("Hidden Folder"), ListMask::kWithFolders),
            u"");
  EXPECT_EQ(platform_->ListFirst(P("Folder"), ListMask::kWithFolders),
            u"Folder");

  // One attribute reader for two folders: the second folder's hidden entry
  // is hidden, though an entry of that name was shown in the first.
  MakeDir("Folder/inner");
  WriteFile("Folder/hidden.mp3", "shown here");
  WriteFile("Folder/inner/hidden.mp3", "hidden there");
  mark("Folder/inner/hidden.mp3", kHiddenAttribute);
  EXPECT_EQ(posix_testing::HiddenThroughOneReader(
                {Bytes("Folder"), Bytes("Folder/inner")}, "hidden.mp3"),
            (std::vector<bool>{false, true}));
}

TEST_F(PosixPlatformTest, LazyListingReturnsEveryNameOnce) {
  std::set<Text> expected;
  for (int i = 0; i < 400; ++i) {
    const std::string name = std::to_string(i * 7919 % 1000) + "-track.mp3";
    WriteFile(name, name);
    expected.insert(DecodeUtf8(name));
  }
  WriteFile(".hidden-track.mp3", "");
  MakeDir("folder-track.mp3");

  std::vector<Text> seen;
  for (Text name =
           platform_->ListFirst(P("*-track.mp3"), ListMask::kNormalFiles);
       !name.empty(); name = platform_->ListNext()) {
    seen.push_back(name);
  }
  EXPECT_EQ(seen.size(), expected.size());
  EXPECT_EQ(std::set<Text>(seen.begin(), seen.end()), expected);

  // A new listing abandons the one running and starts afresh.
  const Text first =
      platform_->ListFirst(P("*-track.mp3"), ListMask::kNormalFiles);
  platform_->ListNext();
  EXPECT_EQ(List(P("*-track.mp3"), ListMask::kNormalFiles).size(), 400u);
  EXPECT_TRUE(expected.count(first));
}

// Where the rename tests run: the temporary folder, or a Windows file
// system mounted through FUSE, whose drivers refuse RENAME_NOREPLACE.
using FileSystem = std::optional<posix_testing::WindowsFileSystem>;
using testing::FaultInjection;
using testing::PlatformWrapper;
using testing::ProcessEnded;
using testing::RunToEnd;

class PosixRenameTest : public PosixPlatformTest,
                        public ::testing::WithParamInterface<FileSystem> {
 protected:
  void SetUp() override {
    PosixPlatformTest::SetUp();
    if (GetParam()) MoveRootTo(*GetParam());
  }
};

TEST_P(PosixRenameTest, RenameNeverReplacesAnEntry) {
  WriteFile("a.mp3", "A");
  WriteFile("b.mp3", "B");
  MakeDir("d1");
  WriteFile("d1/inside", "I");
  MakeDir("d2");
  // fusefat loses what a renamed folder holds: there a folder is never
  // renamed, and keeps its name and what it holds.
  const bool keeps_folders =
      GetParam() == posix_testing::WindowsFileSystem::kFat32;
  const int32_t folder_taken =
      keeps_folders ? kPathFileAccessError : kFileAlreadyExists;

  EXPECT_EQ(
      FailureNumberOf([&] { platform_->RenameEntry(P("a.mp3"), P("b.mp3")); }),
      kFileAlreadyExists);
  EXPECT_EQ(FailureNumberOf([&] { platform_->RenameEntry(P("d1"), P("d2")); }),
            folder_taken);
  EXPECT_EQ(
      FailureNumberOf([&] { platform_->RenameEntry(P("a.mp3"), P("d2")); }),
      kFileAlreadyExists);
  EXPECT_EQ(
      FailureNumberOf([&] { platform_->RenameEntry(P("d1"), P("b.mp3")); }),
      folder_taken);
  EXPECT_EQ(ReadFile("a.mp3"), "A");
  EXPECT_EQ(ReadFile("b.mp3"), "B");
  EXPECT_EQ(ReadFile("d1/inside"), "I");
  EXPECT_TRUE(Entries("d2").empty());

  // Renaming to the very same name changes nothing.
  platform_->RenameEntry(P("a.mp3"), P("a.mp3"));
  platform_->RenameEntry(P("d1"), P("d1"));
  EXPECT_EQ(ReadFile("a.mp3"), "A");
  EXPECT_EQ(FailureNumberOf(
                [&] { platform_->RenameEntry(P("gone.mp3"), P("gone.mp3")); }),
            kFileNotFound);

  EXPECT_EQ(FailureNumberOf(
                [&] { platform_->RenameEntry(P("gone.mp3"), P("c.mp3")); }),
            kFileNotFound);
  EXPECT_EQ(FailureNumberOf(
                [&] { platform_->RenameEntry(P("a.mp3"), P("nope/c.mp3")); }),
            kPathNotFound);
  EXPECT_EQ(FailureNumberOf([&] {
              platform_->RenameEntry(P("a.mp3"), P(std::string(300, 'n')));
            }),
            kPathFileAccessError);
  // The longest name a Windows file system takes is 255 bytes here (ASCII):
  // that is renamed to, and one byte more is refused before a driver sees
  // it (fusefat would lose the file).
  const std::string longest(255, 'n');
  platform_->RenameEntry(P("b.mp3"), P(longest));
  EXPECT_EQ(FailureNumberOf(
                [&] { platform_->RenameEntry(P(longest), P(longest + "n")); }),
            kPathFileAccessError);
  auto mover = platform_->CreateFileMover();
  // The failure keeps the error found, not the one the system had left.
  const Failure too_long =
      FailureOf([&] { mover->Move(P(longest), P("d2/" + longest + "n")); });
  EXPECT_EQ(too_long.Number, kPathFileAccessError);
  EXPECT_EQ(too_long.SystemError, ENAMETOOLONG);
  mover->Move(P(longest), P("d2/"));
  mover->Move(P("d2/" + longest), P("b.mp3"));
  EXPECT_EQ(ReadFile("b.mp3"), "B");
  // A folder cannot move into itself; no placeholder is left behind.
  EXPECT_EQ(
      FailureNumberOf([&] { platform_->RenameEntry(P("d1"), P("d1/d1")); }),
      keeps_folders ? kPathFileAccessError : kInvalidArgument);
  EXPECT_EQ(Entries("d1"), std::set<std::string>{"inside"});
  // A path cut short by a NUL would name another entry: refused.
  EXPECT_EQ(FailureNumberOf([&] {
              platform_->RenameEntry(P("a.mp3"), P("c.mp3") + u'\0' + u"x");
            }),
            kBadFileNameOrNumber);
  EXPECT_EQ(FailureNumberOf([&] {
              platform_->RenameEntry(P("a.mp3") + u'\0', P("c.mp3"));
            }),
            kBadFileNameOrNumber);
  EXPECT_EQ(Entries(), (std::set<std::string>{"a.mp3", "b.mp3", "d1", "d2"}));

  platform_->RenameEntry(P("a.mp3"), P("0001-a.mp3"));
  if (keeps_folders) {
    EXPECT_EQ(FailureNumberOf(
                  [&] { platform_->RenameEntry(P("d1"), P("d2/moved")); }),
              kPathFileAccessError);
    EXPECT_EQ(ReadFile("d1/inside"), "I");
    fs::remove_all(fs::path(Bytes("d1")));
    MakeDir("d2/moved");
  } else {
    platform_->RenameEntry(P("d1"), P("d2/moved"));
    EXPECT_EQ(ReadFile("d2/moved/inside"), "I");
  }
  EXPECT_EQ(Entries(), (std::set<std::string>{"0001-a.mp3", "b.mp3", "d2"}));
  EXPECT_EQ(ReadFile("0001-a.mp3"), "A");

  // Where names ignore letter case (exFAT, FAT), a name taken in another
  // case is taken.
  WriteFile("Case.mp3", "C");
  if (fs::exists(fs::path(Bytes("CASE.MP3")))) {
    EXPECT_EQ(FailureNumberOf(
                  [&] { platform_->RenameEntry(P("b.mp3"), P("CASE.MP3")); }),
              kFileAlreadyExists);
    EXPECT_EQ(ReadFile("Case.mp3"), "C");
  }
  // There an exact lookup finds an entry by any case, and gives its own
  // name, as Windows does: a player's "Temp" is known as "Temp".
  EXPECT_EQ(platform_->ListFirst(P("CASE.MP3"), ListMask::kWithFolders),
            fs::exists(fs::path(Bytes("CASE.MP3"))) ? u"Case.mp3" : u"");
  EXPECT_EQ(platform_->ListFirst(P("case.mp3"), ListMask::kNormalFiles),
            u"Case.mp3");
  fs::remove(fs::path(Bytes("Case.mp3")));

  // The mounts refuse the flag, and the folder's refusal is learnt once.
  posix::NoReplaceRenamer renamer;
  EXPECT_EQ(renamer.Rename(Bytes("b.mp3"), Bytes("c.mp3")), 0);
  EXPECT_EQ(renamer.Rename(Bytes("c.mp3"), Bytes("0001-a.mp3")), EEXIST);
  EXPECT_EQ(renamer.Rename(Bytes("d2"), Bytes("d2/moved/d2")), EINVAL);
  EXPECT_EQ(renamer.Rename(Bytes("c.mp3"), Bytes("b.mp3")), 0);
  EXPECT_EQ(renamer.RefusingFolders(), GetParam() ? 1 : 0);
  EXPECT_EQ(Entries(), (std::set<std::string>{"0001-a.mp3", "b.mp3", "d2"}));
  EXPECT_EQ(ReadFile("b.mp3"), "B");
}

TEST_P(PosixRenameTest, MoverMovesFilesWithoutReplacing) {
  WriteFile("song.mp3", "S");
  WriteFile("other.mp3", "O");
  MakeDir("temp");
  MakeDir("folder");
  WriteFile("temp/other.mp3", "T");
  auto mover = platform_->CreateFileMover();

  mover->Move(P("song.mp3"), P("temp/"));
  EXPECT_EQ(Entries("temp"), (std::set<std::string>{"other.mp3", "song.mp3"}));
  EXPECT_EQ(ReadFile("temp/song.mp3"), "S");
  mover->Move(P("temp/song.mp3"), P("song.mp3"));
  EXPECT_EQ(ReadFile("song.mp3"), "S");
  EXPECT_EQ(Entries("temp"), std::set<std::string>{"other.mp3"});

  // The failure keeps its cause: the system's error and the path.
  const Failure taken =
      FailureOf([&] { mover->Move(P("other.mp3"), P("temp/")); });
  EXPECT_EQ(taken.Number, kFileAlreadyExists);
  EXPECT_EQ(taken.SystemError, EEXIST);
  EXPECT_EQ(taken.Path, P("other.mp3"));
  EXPECT_EQ(
      FailureNumberOf([&] { mover->Move(P("song.mp3"), P("other.mp3")); }),
      kFileAlreadyExists);
  EXPECT_EQ(FailureNumberOf([&] { mover->Move(P("song.mp3"), P("folder")); }),
            kFileAlreadyExists);
  EXPECT_EQ(FailureNumberOf([&] { mover->Move(P("gone.mp3"), P("temp/")); }),
            kFileNotFound);
  EXPECT_EQ(FailureNumberOf([&] { mover->Move(P("folder"), P("temp/")); }),
            kFileNotFound);
  EXPECT_EQ(FailureNumberOf([&] { mover->Move(P("song.mp3"), P("no/")); }),
            kPathNotFound);
  EXPECT_EQ(
      FailureNumberOf([&] { mover->Move(P("song.mp3"), P("other.mp3/")); }),
      kPathNotFound);
  EXPECT_EQ(ReadFile("song.mp3"), "S");
  EXPECT_EQ(ReadFile("other.mp3"), "O");
  EXPECT_EQ(ReadFile("temp/other.mp3"), "T");
  EXPECT_EQ(Entries(),
            (std::set<std::string>{"folder", "other.mp3", "song.mp3", "temp"}));
  EXPECT_TRUE(Entries("folder").empty());
}

// A mover moves the file it has just moved (out into "temp" and back)
// without looking at it again, but only while nothing else has changed
// through the platform: a folder put in the file's place is still refused,
// and so is a move back onto a name another entry has taken meanwhile.
TEST_P(PosixRenameTest, MoverLooksAgainAfterOtherChanges) {
  WriteFile("song.mp3", "S");
  MakeDir("temp");
  auto mover = platform_->CreateFileMover();
  const Text into_root = P("") + u"/";

  mover->Move(P("song.mp3"), P("temp/"));
  mover->Move(P("temp/song.mp3"), into_root);
  EXPECT_EQ(ReadFile("song.mp3"), "S");
  EXPECT_TRUE(Entries("temp").empty());

  // The file leaves by a rename and a folder takes its place.
  mover->Move(P("song.mp3"), P("temp/"));
  platform_->RenameEntry(P("temp/song.mp3"), P("kept.mp3"));
  platform_->MakeFolder(P("temp/song.mp3"));
  EXPECT_EQ(
      FailureNumberOf([&] { mover->Move(P("temp/song.mp3"), into_root); }),
      kFileNotFound);
  EXPECT_TRUE(fs::is_directory(fs::path(Bytes("temp/song.mp3"))));
  EXPECT_EQ(Entries(), (std::set<std::string>{"kept.mp3", "temp"}));

  EXPECT_EQ(ReadFile("kept.mp3"), "S");

  WriteFile("other.mp3", "O");
  mover->Move(P("kept.mp3"), P("temp/"));
  platform_->RenameEntry(P("other.mp3"), P("kept.mp3"));
  EXPECT_EQ(
      FailureNumberOf([&] { mover->Move(P("temp/kept.mp3"), into_root); }),
      kFileAlreadyExists);
  EXPECT_EQ(ReadFile("kept.mp3"), "O");
  EXPECT_EQ(ReadFile("temp/kept.mp3"), "S");

  // Another program takes the freed name between the two moves, without
  // the platform knowing. Where the system renames only onto a free name,
  // the move back fails and that program's file is kept. (Where the driver
  // refuses the flag, the move back does not look again: that window is
  // accepted there, see the renamer.)
  WriteFile("fresh.mp3", "F");
  mover->Move(P("fresh.mp3"), P("temp/"));
  mover->Move(P("temp/fresh.mp3"), into_root);
  mover->Move(P("fresh.mp3"), P("temp/"));
  WriteFile("fresh.mp3", "N");
  if (!GetParam()) {
    EXPECT_EQ(
        FailureNumberOf([&] { mover->Move(P("temp/fresh.mp3"), into_root); }),
        kFileAlreadyExists);
    EXPECT_EQ(ReadFile("fresh.mp3"), "N");
    EXPECT_EQ(ReadFile("temp/fresh.mp3"), "F");
  }
}

// What recognises an entry stays through the shuffle's rename and moves; a
// file is replaced whole, never through a link, and a replace that fails
// leaves the old file.
TEST_P(PosixRenameTest, FactsStayThroughRenamesAndFilesAreReplacedWhole) {
  WriteFile("song.mp3", std::string(5000, 's'));
  MakeDir("temp");
  const EntryFacts before = platform_->FactsOf(P("song.mp3"));
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::system_clock::now().time_since_epoch());
  EXPECT_EQ(before.size, 5000u);
  EXPECT_LT(std::abs(before.modified - now.count()), 26 * 3600);
  platform_->RenameEntry(P("song.mp3"), P("0042-song.mp3"));
  platform_->CreateFileMover()->Move(P("0042-song.mp3"), P("temp/"));
  platform_->CreateFileMover()->Move(P("temp/0042-song.mp3"), P("x.mp3"));
  EXPECT_EQ(platform_->FactsOf(P("x.mp3")), before);
  // Known as a file, moved away, its name then taken by a folder: a mover
  // refuses it. (fusefat renames no folder.)
  const auto mover = platform_->CreateFileMover();
  mover->Move(P("x.mp3"), P("temp/"));
  platform_->MakeFolder(P("d"));
  if (GetParam() != posix_testing::WindowsFileSystem::kFat32) {
    platform_->RenameEntry(P("d"), P("x.mp3"));
    EXPECT_EQ(FailureNumberOf([&] { mover->Move(P("x.mp3"), P("temp/y")); }),
              kFileNotFound);
    platform_->RenameEntry(P("x.mp3"), P("d"));
  }
  platform_->RemoveFolder(P("d"));
  mover->Move(P("temp/x.mp3"), P("x.mp3"));
  EXPECT_EQ(platform_->FactsOf(P("temp")), (EntryFacts{true, 0, 0}));
  EXPECT_EQ(FailureNumberOf([&] { platform_->FactsOf(P("gone")); }),
            kFileNotFound);
  std::error_code no_links;
  fs::create_symlink("temp", Bytes("link"), no_links);
  if (!no_links) {  // the link's own facts: 4 bytes, "temp"
    EXPECT_EQ(platform_->FactsOf(P("link")).size, 4u);
    EXPECT_FALSE(platform_->FactsOf(P("link")).folder);
  }

  const Text names = P("Shuffler.names");
  EXPECT_EQ(FailureNumberOf([&] { platform_->ReadWholeFile(names); }),
            kFileNotFound);
  platform_->ReplaceWholeFile(names, "");
  EXPECT_EQ(platform_->ReadWholeFile(names), "");
  WriteFile("Shuffler.names.new", std::string(70000, 'x'));  // a stopped run's
  const std::string whole(300000, 'n');
  platform_->ReplaceWholeFile(names, whole);
  EXPECT_TRUE(platform_->ReadWholeFile(names) == whole);
  EXPECT_EQ(
      FailureNumberOf([&] { platform_->ReplaceWholeFile(P("temp"), "t"); }),
      kPathFileAccessError);
  EXPECT_EQ(FailureNumberOf([&] { platform_->ReadWholeFile(P("temp")); }),
            kPathFileAccessError);
  const std::set<std::string> left = {"Shuffler.names", "temp", "x.mp3"};
  std::set<std::string> entries = Entries();
  entries.erase("link");
  EXPECT_EQ(entries, left);
}

// Stopped at any moment, a replace leaves the old file or the new one, whole.
TEST_F(PosixPlatformTest, AReplaceStoppedAnywhereLeavesTheOldFileOrTheNew) {
  const std::string old_bytes(1 << 20, 'o'), new_bytes(3 << 20, 'n');
  const Text path = P("Shuffler.names");
  RandomGenerator random;
  random.Seed(5);
  for (int trial = 0; trial < 16; ++trial) {
    platform_->ReplaceWholeFile(path, old_bytes);
    const auto after = std::chrono::microseconds(random.NextBits() % 20000);
    EXPECT_EXIT(
        {
          std::thread([after] {
            std::this_thread::sleep_for(after);
            std::_Exit(3);  // ends the process where it is, as a kill does
          }).detach();
          for (;;) {
            platform_->ReplaceWholeFile(path, new_bytes);
            platform_->ReplaceWholeFile(path, old_bytes);
          }
        },
        ::testing::ExitedWithCode(3), "");
    const std::string left = ReadFile("Shuffler.names");
    ASSERT_TRUE(left == old_bytes || left == new_bytes)
        << "trial " << trial << ": " << left.size() << " bytes";
  }
}

TEST_F(PosixPlatformTest, AFullDiskKeepsTheOldFile) {
  MoveRootTo(posix_testing::WindowsFileSystem::kExfat, 8);
  if (IsSkipped()) return;
  platform_->ReplaceWholeFile(P("Shuffler.names"), "old");
  WriteFile("filler", std::string(fs::space(root_).available, 'f'));
  const Failure full = FailureOf([&] {
    platform_->ReplaceWholeFile(P("Shuffler.names"), std::string(1 << 20, 'n'));
  });
  EXPECT_EQ(full.Number, kDiskFull);
  EXPECT_EQ(ReadFile("Shuffler.names"), "old");
  EXPECT_EQ(Entries(), (std::set<std::string>{"Shuffler.names", "filler"}));
}

// A run on real folders, given its folder and argument text, with its
// boxes, starts and end recorded instead of shown, made and taken.
class RealFolderRun : public PlatformWrapper {
 public:
  RealFolderRun(Platform& real, Text folder, Text args)
      : PlatformWrapper(real), folder_(std::move(folder)), args_(args) {}
  Text ArgumentText() override { return args_; }
  Text ProgramFolder() override { return folder_; }
  bool ClaimFolder(const Text&, Claim) override { return true; }
  void StartMaximized(const Text& program, const Text&) override {
    started.push_back(program);
  }
  void ShowStopBox(const Text& prompt, const Text&) override {
    boxes.push_back(prompt);
  }
  [[noreturn]] void EndProcess() override { throw ProcessEnded{}; }
  std::vector<Text> boxes, started;

 private:
  const Text folder_, args_;
};

class PosixSweepSample : public PosixRenameTest {};

// A sample of the fault sweep on real folders, through the same injection:
// each call of a run fails in turn. Nothing is lost or replaced, the boxes
// stay few, nothing starts, and one more run brings every song back.
TEST_P(PosixSweepSample, EveryCallFailingOnRealFoldersLosesNothing) {
  const std::vector<std::string> songs = {"01-a.mp3", "b.mp3", "2001-c.mp3",
                                          "Album/d.mp3"};
  // The second run's music folder comes from Windows as "MP3".
  std::string music;
  auto contents = [&] {
    std::multiset<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(Bytes(music))) {
      if (entry.is_regular_file()) {
        found.insert(ReadFile(fs::relative(entry.path(), root_).string()));
      }
    }
    return found;
  };
  for (const Text args : {u"/NOLAUNCH /DEBUG", u"/NOLAUNCH /UNIQUE /DENUM"}) {
    music = args.ends_with(u"DENUM") ? "MP3" : "mp3";
    int calls = 1;
    for (int fail_at = 0; fail_at <= calls; ++fail_at) {
      for (const char* either : {"mp3", "MP3"})
        fs::remove_all(Bytes(either));
      MakeDir(music);
      MakeDir(music + "/Album");
      for (const std::string& song : songs)
        WriteFile(music + "/" + song, song);
      for (int run = 0; run < 2; ++run) {
        auto real = MakePlatform();
        RealFolderRun world(*real, P(""), args);
        FaultInjection faults(static_cast<Platform&>(world));
        if (run == 0 && fail_at > 0) {
          faults.FailOverallCall(fail_at, kPathFileAccessError);
        }
        frmOne form(faults);
        EXPECT_TRUE(RunToEnd(form)) << "failing call " << fail_at;
        EXPECT_LE(world.boxes.size(), 3 * songs.size() + 3);
        EXPECT_TRUE(world.started.empty());
        if (fail_at == 0) calls = faults.OverallCalls();
        EXPECT_EQ(contents(),
                  std::multiset<std::string>(songs.begin(), songs.end()))
            << "failing call " << fail_at;
      }
      EXPECT_FALSE(fs::exists(Bytes(music + "/01-a.mp3")));  // shuffled
      EXPECT_FALSE(fs::exists(Bytes(music + "/temp")))
          << "failing call " << fail_at;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    FileSystems, PosixRenameTest,
    ::testing::Values(FileSystem(), posix_testing::WindowsFileSystem::kNtfs,
                      posix_testing::WindowsFileSystem::kExfat,
                      posix_testing::WindowsFileSystem::kFat32),
    [](const ::testing::TestParamInfo<FileSystem>& where) {
      return where.param ? posix_testing::NameOf(*where.param)
                         : std::string("local");
    });

INSTANTIATE_TEST_SUITE_P(
    FileSystems, PosixSweepSample,
    ::testing::Values(FileSystem(), posix_testing::WindowsFileSystem::kExfat,
                      posix_testing::WindowsFileSystem::kFat32),
    [](const ::testing::TestParamInfo<FileSystem>& where) {
      return where.param ? posix_testing::NameOf(*where.param)
                         : std::string("local");
    });

// Below the music folder claimed, a link is an entry, never a way out: a
// "temp" that links elsewhere lists nothing, takes and gives nothing, and is
// not removed; each failure is the one a file named "temp" gives, with its
// cause. The claim holds for every path to the folder, and a linked log is
// not opened.
TEST_F(PosixPlatformTest, LinksBelowTheClaimedMusicFolderAreNeverFollowed) {
  MakeDir("mp3");
  MakeDir("outside");
  MakeDir("outside/Shuffler is moving files");
  WriteFile("outside/x.mp3", "X");
  WriteFile("mp3/a.mp3", "A");
  fs::create_directory_symlink(Bytes("outside"), Bytes("mp3/temp"));
  fs::create_directory_symlink(Bytes("mp3"), Bytes("linked mp3"));
  fs::create_symlink(Bytes("outside/x.mp3"), Bytes("Shuffler.log"));
  fs::create_directory_symlink(Bytes("loop"), Bytes("loop"));
  const Failure loop = FailureOf(
      [&] { platform_->ListFirst(P("loop/*.*"), ListMask::kWithFolders); });
  EXPECT_EQ(loop.SystemError, ELOOP);
  EXPECT_EQ(loop.Path, P("loop"));
  ASSERT_TRUE(platform_->ClaimFolder(P("mp3"), Claim::kWorkInside));
  EXPECT_TRUE(platform_->ClaimFolder(P("linked mp3"), Claim::kOnly));
  EXPECT_FALSE(MakePlatform()->ClaimFolder(P("linked mp3"), Claim::kOnly));
  EXPECT_TRUE(MakePlatform()->ClaimFolder(P("outside"), Claim::kOnly));

  EXPECT_EQ(platform_->FindEntry(P("mp3/temp"), ListMask::kWithFolders),
            u"temp");
  EXPECT_EQ(platform_->FindEntry(P("mp3/temp/Shuffler is moving files"),
                                 ListMask::kWithFolders),
            u"");
  EXPECT_TRUE(
      List(P("mp3/temp/*.*"), ListMask::kWithFoldersAndDotNames).empty());
  auto mover = platform_->CreateFileMover();
  const auto refused = [&](const Failure& failure, const std::string& path) {
    EXPECT_EQ(failure.Number, kPathNotFound) << path;
    EXPECT_EQ(failure.Path, P(path));
  };
  refused(FailureOf([&] { mover->Move(P("mp3/a.mp3"), P("mp3/temp/")); }),
          "mp3/a.mp3");
  refused(FailureOf([&] { mover->Move(P("mp3/temp/x.mp3"), P("mp3/")); }),
          "mp3/temp/x.mp3");
  refused(FailureOf([&] {
            platform_->RenameEntry(P("mp3/a.mp3"), P("mp3/temp/a.mp3"));
          }),
          "mp3/a.mp3");
  refused(FailureOf([&] { platform_->MakeFolder(P("mp3/temp/new")); }),
          "mp3/temp/new");
  refused(FailureOf([&] { platform_->RemoveFolder(P("mp3/temp")); }),
          "mp3/temp");
  refused(FailureOf([&] { platform_->OpenLog(P("Shuffler.log")); }),
          "Shuffler.log");
  EXPECT_TRUE(fs::is_symlink(Bytes("mp3/temp")));
  EXPECT_EQ(Entries("outside"),
            (std::set<std::string>{"Shuffler is moving files", "x.mp3"}));
  EXPECT_EQ(ReadFile("outside/x.mp3"), "X");
  EXPECT_EQ(Entries("mp3"), (std::set<std::string>{"a.mp3", "temp"}));
}

TEST_F(PosixPlatformTest, FoldersAreMadeAndRemoved) {
  platform_->MakeFolder(P("temp"));
  EXPECT_TRUE(fs::is_directory(fs::path(Bytes("temp"))));
  EXPECT_EQ(FailureNumberOf([&] { platform_->MakeFolder(P("temp")); }),
            kPathFileAccessError);
  EXPECT_EQ(FailureNumberOf([&] { platform_->MakeFolder(P("no/temp")); }),
            kPathNotFound);
  WriteFile("temp/kept", "K");
  EXPECT_EQ(FailureNumberOf([&] { platform_->RemoveFolder(P("temp")); }),
            kPathFileAccessError);
  EXPECT_EQ(ReadFile("temp/kept"), "K");
  EXPECT_EQ(FailureNumberOf([&] { platform_->RemoveFolder(P("gone")); }),
            kPathNotFound);
  EXPECT_EQ(FailureNumberOf([&] { platform_->RemoveFolder(P("temp/kept")); }),
            kPathNotFound);
  fs::remove(fs::path(Bytes("temp/kept")));
  platform_->RemoveFolder(P("temp"));
  EXPECT_TRUE(Entries().empty());
}

TEST_F(PosixPlatformTest, NamesThatAreNotUtf8KeepTheirBytes) {
  const std::string odd = "\xff\xfe-x.mp3";
  const std::string latin = "caf\xc3\xa9 \xe9t\xe9.mp3";  // UTF-8, then not
  WriteFile(odd, "odd");
  WriteFile(latin, "latin");

  const std::vector<Text> names = List(P("*.mp3"), ListMask::kNormalFiles);
  const Text odd_text = u"\xDCFF\xDCFE-x.mp3";
  const Text latin_text = u"caf\u00e9 \xDCE9t\xDCE9.mp3";
  EXPECT_EQ(names, (std::vector<Text>{latin_text, odd_text}));

  platform_->RenameEntry(P("") + u'/' + odd_text, P("") + u"/0042-" + odd_text);
  platform_->RenameEntry(P("") + u'/' + latin_text,
                         P("") + u"/7-" + latin_text);
  EXPECT_EQ(Entries(), (std::set<std::string>{"0042-" + odd, "7-" + latin}));
  EXPECT_EQ(ReadFile("0042-" + odd), "odd");
  platform_->CreateFileMover()->Move(P("") + u"/0042-" + odd_text,
                                     P("") + u'/' + odd_text);
  platform_->RenameEntry(P("") + u"/7-" + latin_text,
                         P("") + u'/' + latin_text);
  EXPECT_EQ(Entries(), (std::set<std::string>{odd, latin}));
  EXPECT_EQ(ReadFile(latin), "latin");
}

TEST(PosixUtf8Test, EveryByteStringSurvivesDecodingAndEncoding) {
  struct Case {
    std::string bytes;
    Text text;
  };
  const std::vector<Case> cases = {
      {"", u""},
      {"plain", u"plain"},
      {"\xc3\xa9\xe2\x82\xac", u"\u00e9\u20ac"},
      {"\xf0\x9f\x98\x80", u"\U0001F600"},
      {"\xf4\x8f\xbf\xbf", u"\U0010FFFF"},
      {"\x80", u"\xDC80"},  // stray
      {"a\xbf"
       "b",
       u"a\xDCBF"
       u"b"},                                             // stray
      {"\xc0\xaf", u"\xDCC0\xDCAF"},                      // overlong
      {"\xe0\x80\xaf", u"\xDCE0\xDC80\xDCAF"},            // overlong
      {"\xf0\x8f\xbf\xbf", u"\xDCF0\xDC8F\xDCBF\xDCBF"},  // overlong
      {"\xed\xa0\x80", u"\xDCED\xDCA0\xDC80"},            // surrogate
      {"\xed\xbf\xbf", u"\xDCED\xDCBF\xDCBF"},            // surrogate
      {"\xed\x9f\xbf", u"\uD7FF"},                        // last before
      {"\xf4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},  // > U+10FFFF
      {"\xf5\x80", u"\xDCF5\xDC80"},
      {"\xe2\x82", u"\xDCE2\xDC82"},                    // truncated
      {"\xf0\x9f\x98\x41", u"\xDCF0\xDC9F\xDC98\x41"},  // truncated
      {"\xc3\xa9\xc3", u"\u00e9\xDCC3"},                // truncated
      {"\xfe\xff", u"\xDCFE\xDCFF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeUtf8(c.bytes), c.text) << ::testing::PrintToString(c.bytes);
    EXPECT_EQ(EncodeUtf8(DecodeUtf8(c.bytes)), c.bytes)
        << ::testing::PrintToString(c.bytes);
  }

  // Lone surrogates encode too: U+DC80..U+DCFF back into their byte, the
  // others in their three-byte form.
  EXPECT_EQ(EncodeUtf8(u"\xDC80\xDCFF"), "\x80\xff");
  EXPECT_EQ(EncodeUtf8(Text(1, char16_t{0xD800})), "\xed\xa0\x80");
  EXPECT_EQ(EncodeUtf8(Text(1, char16_t{0xDC7F})), "\xed\xb1\xbf");
  EXPECT_EQ(EncodeUtf8(Text(1, char16_t{0xDD00})), "\xed\xb4\x80");
  EXPECT_EQ(EncodeUtf8(Text{char16_t{0xDBFF}, u'x'}), "\xed\xaf\xbfx");
  EXPECT_EQ(EncodeUtf8(Text{char16_t{0xD83D}, char16_t{0xDE00}}),
            "\xf0\x9f\x98\x80");

  // Every string of up to two bytes, and many random longer ones.
  for (int a = 0; a < 256; ++a) {
    for (int b = -1; b < 256; ++b) {
      std::string bytes(1, static_cast<char>(a));
      if (b >= 0) bytes.push_back(static_cast<char>(b));
      ASSERT_EQ(EncodeUtf8(DecodeUtf8(bytes)), bytes)
          << ::testing::PrintToString(bytes);
    }
  }
  RandomGenerator random;
  random.Seed(2024);
  const char pieces[] = {'\x00', 'a',    '\x7f', '\x80', '\x8f', '\x90',
                         '\x9f', '\xa0', '\xbf', '\xc2', '\xdf', '\xe0',
                         '\xed', '\xef', '\xf0', '\xf4', '\xf5', '\xff'};
  for (int round = 0; round < 20000; ++round) {
    std::string bytes;
    const uint64_t bits = random.NextBits();
    const int length = 1 + static_cast<int>(bits % 8);
    for (int i = 0; i < length; ++i) {
      bytes.push_back(pieces[(bits >> (3 + 5 * i)) % sizeof(pieces)]);
    }
    ASSERT_EQ(EncodeUtf8(DecodeUtf8(bytes)), bytes)
        << ::testing::PrintToString(bytes);
  }
}

TEST_F(PosixPlatformTest, LogHoldsWindows1252LinesWithCrLf) {
  EXPECT_EQ(FailureNumberOf([&] { platform_->WriteLogLine(u"early"); }),
            kBadFileNameOrNumber);
  platform_->CloseLog();  // nothing open: nothing to do

  platform_->OpenLog(P("Shuffler.log"));
  platform_->WriteLogLine(u"\u00e9");
  // Each line is in the file as soon as it is written.
  EXPECT_EQ(ReadFile("Shuffler.log"), "\xe9\r\n");
  platform_->WriteLogLine(u"\u20ac");
  platform_->WriteLogLine(u"\u4e2d");
  platform_->WriteLogLine(u"\U0001F600");
  platform_->WriteLogLine(u"");
  platform_->WriteLogLine(u"1-a.mp3 -> 2-a.mp3");
  platform_->CloseLog();
  EXPECT_EQ(ReadFile("Shuffler.log"),
            "\xe9\r\n\x80\r\n?\r\n?\r\n\r\n1-a.mp3 -> 2-a.mp3\r\n");
  platform_->CloseLog();
  EXPECT_EQ(FailureNumberOf([&] { platform_->WriteLogLine(u"late"); }),
            kBadFileNameOrNumber);

  // Opening again starts the log afresh.
  platform_->OpenLog(P("Shuffler.log"));
  platform_->WriteLogLine(u"again");
  platform_->CloseLog();
  EXPECT_EQ(ReadFile("Shuffler.log"), "again\r\n");

  EXPECT_EQ(FailureNumberOf([&] { platform_->OpenLog(P("no/Shuffler.log")); }),
            kPathNotFound);
  MakeDir("folder.log");
  EXPECT_EQ(FailureNumberOf([&] { platform_->OpenLog(P("folder.log")); }),
            kPathFileAccessError);

  // A large log arrives complete and in order.
  platform_->OpenLog(P("big.log"));
  std::string expected;
  for (int i = 0; i < 100000; ++i) {
    const std::string line = std::to_string(i) + "-track.mp3";
    platform_->WriteLogLine(DecodeUtf8(line));
    expected += line + "\r\n";
  }
  platform_->CloseLog();
  EXPECT_EQ(ReadFile("big.log").size(), expected.size());
  EXPECT_TRUE(ReadFile("big.log") == expected);
}

TEST_F(PosixPlatformTest, LogWriteFailuresAreReported) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  platform_->OpenLog(u"/dev/full");
  EXPECT_EQ(FailureNumberOf([&] { platform_->WriteLogLine(u"lost"); }),
            kDiskFull);
  EXPECT_EQ(FailureNumberOf([&] { platform_->WriteLogLine(u"lost too"); }),
            kDiskFull);
  platform_->CloseLog();
  EXPECT_EQ(FailureNumberOf([&] { platform_->WriteLogLine(u"late"); }),
            kBadFileNameOrNumber);
}

TEST_F(PosixPlatformTest, EndProcessFlushesAndExitsWithZero) {
  const std::string out = Bytes("stdout.txt");
  EXPECT_EXIT(
      {
        platform_->OpenLog(P("end.log"));
        platform_->WriteLogLine(u"last line");
        std::fflush(stdout);
        if (std::freopen(out.c_str(), "w", stdout) == nullptr) std::abort();
        std::fputs("unflushed", stdout);
        platform_->EndProcess();
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadFile("end.log"), "last line\r\n");
  EXPECT_EQ(ReadFile("stdout.txt"), "unflushed");
}

TEST(PosixArgumentsTest, ArgumentsAreJoinedAndQuotedWhereNeeded) {
  std::vector<std::string> words = {"Shuffler",     "/LAUNCH", "My Game.exe",
                                    "/debug",       "",        "tab\there",
                                    "\xff\xc3\xa9", "\"q\""};
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  auto platform =
      CreateSystemPlatform(static_cast<int>(words.size()), argv.data());
  EXPECT_EQ(platform->ArgumentText(),
            u"/LAUNCH \"My Game.exe\" /debug \"\" \"tab\there\" "
            u"\xDCFF\u00e9 \"q\"");
  EXPECT_EQ(CreateSystemPlatform(3, argv.data())->ArgumentText(),
            u"/LAUNCH \"My Game.exe\"");
  EXPECT_EQ(CreateSystemPlatform(1, argv.data())->ArgumentText(), u"");
  EXPECT_EQ(platform->Separator(), u'/');
  EXPECT_FALSE(platform->HasCommand());
  // Only a lone "--" ends the options; what follows is a command.
  char lone[] = "--", longer[] = "---";
  argv[2] = longer;
  EXPECT_FALSE(CreateSystemPlatform(3, argv.data())->HasCommand());
  argv[2] = lone;
  auto wrapping =
      CreateSystemPlatform(static_cast<int>(words.size()), argv.data());
  EXPECT_EQ(wrapping->ArgumentText(), u"/LAUNCH");
  EXPECT_TRUE(wrapping->HasCommand());
  EXPECT_TRUE(CreateSystemPlatform(3, argv.data())->HasCommand());
}

TEST_F(PosixPlatformTest, ProgramFolderIsTheExecutablesOwn) {
  const fs::path exe = fs::read_symlink("/proc/self/exe");
  const fs::path before = fs::current_path();
  fs::current_path(fs::path(root_));
  const Text folder = platform_->ProgramFolder();
  fs::current_path(before);
  EXPECT_EQ(EncodeUtf8(folder), exe.parent_path().native());
  EXPECT_NE(EncodeUtf8(folder), root_);
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), u'/');
}

TEST_F(PosixPlatformTest, ProgramsStartWithoutWaiting) {
  MakeDir("Game Folder");
  const auto write_script = [&](const std::string& relative,
                                const std::string& marker) {
    WriteFile(relative, "#!/bin/sh\nprintf '%s' \"$0 $#\" > '" + Bytes(marker) +
                            ".tmp' && mv '" + Bytes(marker) + ".tmp' '" +
                            Bytes(marker) + "'\n");
    fs::permissions(fs::path(Bytes(relative)), fs::perms::owner_all);
  };
  const auto wait_for = [&](const std::string& marker) {
    for (int i = 0; i < 500 && !fs::exists(fs::path(Bytes(marker))); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return ReadFile(marker);
  };

  write_script("Game Folder/game one.sh", "ran");
  platform_->StartMaximized(P("Game Folder/game one.sh"), u"");
  EXPECT_EQ(wait_for("ran"), Bytes("Game Folder/game one.sh") + " 0");

  // The program starts in its own folder, with its arguments split as
  // Windows splits a command line.
  MakeDir("Game Folder/bin");
  WriteFile("Game Folder/bin/game.sh",
            "#!/bin/sh\n{ pwd -P; printf '[%s]' \"$@\"; } > ../args.tmp && "
            "mv ../args.tmp ../args\n");
  fs::permissions(fs::path(Bytes("Game Folder/bin/game.sh")),
                  fs::perms::owner_all);
  platform_->StartMaximized(P("Game Folder/bin/game.sh"),
                            u"-nointro \"a b\"  c\\\"d \"\" \u00e9");
  EXPECT_EQ(wait_for("Game Folder/args"),
            fs::canonical(fs::path(Bytes("Game Folder/bin"))).native() +
                "\n[-nointro][a b][c\"d][][\xc3\xa9]");

  // The launch names the game in one case; the file may have another.
  write_script("Game Folder/GTA3.EXE", "ran-upper");
  platform_->StartMaximized(P("Game Folder/gta3.exe"), u"");
  EXPECT_EQ(wait_for("ran-upper"), Bytes("Game Folder/GTA3.EXE") + " 0");

  EXPECT_EQ(FailureNumberOf([&] {
              platform_->StartMaximized(P("Game Folder/gta-vc.exe"), u"");
            }),
            kFileNotFound);
  EXPECT_EQ(FailureNumberOf([&] {
              platform_->StartMaximized(P("Missing Folder/gta3.exe"), u"");
            }),
            kFileNotFound);
  EXPECT_EQ(FailureNumberOf(
                [&] { platform_->StartMaximized(P("Game Folder"), u""); }),
            kPathFileAccessError);
  WriteFile("Game Folder/plain.exe", "#!/bin/sh\n");
  fs::permissions(fs::path(Bytes("Game Folder/plain.exe")),
                  fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(FailureNumberOf([&] {
              platform_->StartMaximized(P("Game Folder/plain.exe"), u"");
            }),
            kPermissionDenied);
  WriteFile("Game Folder/text.exe", "not a program\n");
  fs::permissions(fs::path(Bytes("Game Folder/text.exe")),
                  fs::perms::owner_all);
  EXPECT_EQ(FailureNumberOf([&] {
              platform_->StartMaximized(P("Game Folder/text.exe"), u"");
            }),
            kInvalidArgument);
  // Exactly the path given is started, never a shorter one.
  EXPECT_EQ(FailureNumberOf([&] {
              platform_->StartMaximized(P("Game Folder/game one.sh") + u'\0',
                                        u"");
            }),
            kBadFileNameOrNumber);
}

TEST_F(PosixPlatformTest, StopBoxWritesItsTextToStandardError) {
  ::testing::internal::CaptureStderr();
  platform_->ShowStopBox(
      u"An error occurred!\r\n\r\nError Number: 53\r\nDescription: File not "
      u"found",
      u"");
  platform_->ShowStopBox(u"line\rsame line\n", u"Caf\u00e9 \U0001F600");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Shuffler: An error occurred!\n\nError Number: 53\nDescription: "
            "File not found\n"
            "Caf\xc3\xa9 \xf0\x9f\x98\x80: line\rsame line\n\n");
}

TEST(PosixSeedTest, RunsStartedTogetherDrawDifferentNumbers) {
  auto first = MakePlatform();
  auto second = MakePlatform();
  first->Randomize();
  second->Randomize();
  std::vector<float> a, b;
  for (int i = 0; i < 4; ++i) {
    a.push_back(first->NextRandom());
    b.push_back(second->NextRandom());
  }
  EXPECT_NE(a, b);
}

TEST(PosixErrorsTest, ErrnoValuesMapOntoFailureNumbers) {
  using posix::FailureNumberFor;
  using posix::PathRole;
  EXPECT_EQ(FailureNumberFor(ENOENT, PathRole::kExisting), kFileNotFound);
  EXPECT_EQ(FailureNumberFor(ENOENT, PathRole::kTarget), kPathNotFound);
  EXPECT_EQ(FailureNumberFor(ENOENT, PathRole::kFolder), kPathNotFound);
  EXPECT_EQ(FailureNumberFor(EEXIST, PathRole::kTarget), kFileAlreadyExists);
  EXPECT_EQ(FailureNumberFor(ENOTEMPTY, PathRole::kTarget), kFileAlreadyExists);
  EXPECT_EQ(FailureNumberFor(EEXIST, PathRole::kFolder), kPathFileAccessError);
  EXPECT_EQ(FailureNumberFor(ENOTEMPTY, PathRole::kFolder),
            kPathFileAccessError);
  for (PathRole role :
       {PathRole::kExisting, PathRole::kFolder, PathRole::kTarget}) {
    EXPECT_EQ(FailureNumberFor(EACCES, role), kPermissionDenied);
    EXPECT_EQ(FailureNumberFor(EPERM, role), kPermissionDenied);
    EXPECT_EQ(FailureNumberFor(EROFS, role), kPermissionDenied);
    EXPECT_EQ(FailureNumberFor(ENOTDIR, role), kPathNotFound);
    EXPECT_EQ(FailureNumberFor(ENOEXEC, role), kInvalidArgument);
    EXPECT_EQ(FailureNumberFor(ENAMETOOLONG, role), kPathFileAccessError);
    EXPECT_EQ(FailureNumberFor(ENOSPC, role), kDiskFull);
  }
}

}  // namespace
}  // namespace shuffler
