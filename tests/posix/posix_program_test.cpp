// The real Shuffler program in a real game folder: a whole run with the log
// and the launch, as a player would start it, also through a symbolic link.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/random.h"

namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Quoted(const std::string& word) {
  std::string quoted = "'";
  for (char c : word)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Waits a bounded time for a file that a started program writes.
bool WaitFor(const fs::path& path) {
  for (int i = 0; i < 200 && !fs::exists(path); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return fs::exists(path);
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    shuffler::RandomGenerator random;
    random.Seed(static_cast<uint64_t>(
        std::chrono::steady_clock::now().time_since_epoch().count()));
    do {
      game_ = fs::temp_directory_path() /
              ("shuffler game " + std::to_string(random.NextBits()));
    } while (!fs::create_directory(game_));
    fs::copy_file(SHUFFLER_PROGRAM_PATH, game_ / "Shuffler");
    fs::create_directory(game_ / "mp3");
  }
  void TearDown() override { fs::remove_all(game_); }

  // Runs Shuffler with `args` (a shell word list), through `runner` (shell
  // words before the program) when given; returns its exit status and
  // keeps what it wrote to standard error.
  int Run(const std::string& args, const std::string& runner = "") {
    return RunLine(runner + " ./Shuffler " + args);
  }

  // Runs the shell command line `line` in the game's folder, as `Run` does.
  int RunLine(const std::string& line) {
    const std::string command = "cd " + Quoted(game_.string()) + " && " + line +
                                " 2>" + Quoted((game_ / "stderr.txt").string());
    const int status = std::system(command.c_str());
    stderr_ = ReadBytes(game_ / "stderr.txt");
    fs::remove(game_ / "stderr.txt");
    return status;
  }

  // A stand-in game: a script that records the music folder it finds.
  void AddStandIn(const std::string& name, const std::string& record) {
    const fs::path script = game_ / name;
    WriteBytes(script,
               "#!/bin/sh\nls \"$(dirname \"$0\")/mp3\" > \"$(dirname "
               "\"$0\")/" +
                   record + "\"\n");
    fs::permissions(script, fs::perms::owner_all | fs::perms::group_read |
                                fs::perms::others_read);
  }

  std::map<std::string, std::string> MusicContents() const {
    std::map<std::string, std::string> by_content;
    for (const auto& entry : fs::directory_iterator(game_ / "mp3")) {
      by_content[ReadBytes(entry.path())] = entry.path().filename().string();
    }
    return by_content;
  }

  fs::path game_;
  std::string stderr_;
};

TEST_F(ProgramTest, AWholeRunShufflesLogsAndThenStartsTheGame) {
  std::vector<std::string> names = {"07-Song.mp3",
                                    "Caf\xc3\xa9.mp3",
                                    "\xe6\x9d\xb1\xe4\xba\xac.mp3",
                                    "\xf0\x9f\x8e\xb5 Beat.mp3",
                                    "\xe9t\xe9-latin1.mp3",
                                    "2001-Odyssey.mp3",
                                    "Song - Live.mp3"};
  for (int i = 0; i < 33; ++i)
    names.push_back("Track " + std::to_string(i));
  for (const std::string& name : names)
    WriteBytes(game_ / "mp3" / name, name);
  WriteBytes(game_ / "mp3" / "MP3Report.txt", "report");
  AddStandIn("gta3.exe", "ran.txt");

  ASSERT_EQ(Run("/DEBUG"), 0);
  EXPECT_EQ(stderr_, "");

  // Every file is there once, under a two-digit prefix and its bare name.
  const auto after = MusicContents();
  ASSERT_EQ(after.size(), names.size() + 1);
  EXPECT_EQ(after.at("report"), "MP3Report.txt");
  const std::regex renamed("(0[1-9]|[1-3][0-9]|40)-(.*)");
  for (const std::string& name : names) {
    std::smatch match;
    const std::string& now = after.at(name);
    ASSERT_TRUE(std::regex_match(now, match, renamed)) << now;
    const std::string bare = name == "07-Song.mp3"        ? "Song.mp3"
                             : name == "2001-Odyssey.mp3" ? "Odyssey.mp3"
                                                          : name;
    EXPECT_EQ(match[2].str(), bare);
  }
  EXPECT_FALSE(fs::exists(game_ / "mp3" / "temp"));

  // The log: one CR LF line per rename, in Windows-1252.
  const std::string log = ReadBytes(game_ / "Shuffler.log");
  int lines = 0;
  for (size_t at = 0; (at = log.find("\r\n", at)) != std::string::npos;
       at += 2) {
    ++lines;
  }
  EXPECT_EQ(lines, 40);
  EXPECT_EQ(log.rfind("Renamed \"", 0), 0u);
  const std::string music = (game_ / "mp3").string() + "/";
  EXPECT_NE(log.find("Renamed \"" + music + "Caf\xe9.mp3\" to \""),
            std::string::npos);
  EXPECT_NE(log.find("Renamed \"" + music + "??.mp3\" to \""),
            std::string::npos);
  EXPECT_NE(log.find("Renamed \"" + music + "? Beat.mp3\" to \""),
            std::string::npos);
  EXPECT_NE(log.find("Renamed \"" + music + "?t?-latin1.mp3\" to \""),
            std::string::npos);

  // The game was started after the shuffle: it saw the new names.
  ASSERT_TRUE(WaitFor(game_ / "ran.txt"));
  const std::string seen = ReadBytes(game_ / "ran.txt");
  EXPECT_NE(seen.find(after.at("07-Song.mp3")), std::string::npos) << seen;
  EXPECT_EQ(seen.find("temp"), std::string::npos);
}

TEST_F(ProgramTest, LaunchOptionsStartExactlyTheNamedProgram) {
  WriteBytes(game_ / "mp3" / "a.mp3", "a");
  AddStandIn("My Game.sh", "my-game.txt");
  AddStandIn("My", "wrong-program.txt");  // a prefix of the path with spaces
  AddStandIn("gta3.exe", "default.txt");

  // The shell hands over "My Game.sh" as one argument; Shuffler reads it
  // back quoted, as the Windows command line would have it.
  ASSERT_EQ(Run("/LAUNCH 'My Game.sh'"), 0);
  EXPECT_EQ(stderr_, "");
  EXPECT_TRUE(WaitFor(game_ / "my-game.txt"));
  EXPECT_FALSE(fs::exists(game_ / "wrong-program.txt"));
  EXPECT_FALSE(fs::exists(game_ / "default.txt"));

  // A name that is no file is a program and its arguments; the program
  // starts in its own folder.
  fs::create_directory(game_ / "bin");
  WriteBytes(game_ / "bin" / "game.sh",
             "#!/bin/sh\n{ pwd -P; printf '[%s]' \"$@\"; } > ../args.tmp && "
             "mv ../args.tmp ../args.txt\n");
  fs::permissions(game_ / "bin" / "game.sh", fs::perms::owner_all);
  ASSERT_EQ(Run("/LAUNCH 'bin/game.sh -nointro  -level 2'"), 0);
  EXPECT_EQ(stderr_, "");
  ASSERT_TRUE(WaitFor(game_ / "args.txt"));
  EXPECT_EQ(ReadBytes(game_ / "args.txt"),
            fs::canonical(game_ / "bin").string() + "\n[-nointro][-level][2]");

  // A missing program is reported, and Shuffler still ends normally.
  ASSERT_EQ(Run("/LAUNCH missing.exe"), 0);
  EXPECT_EQ(stderr_,
            "Shuffler: An error occurred!\n\nError Number: 53\n"
            "Description: File not found\n");

  // "/NOLAUNCH" starts nothing, not even the game found next to Shuffler.
  ASSERT_EQ(Run("/NOLAUNCH"), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(game_ / "default.txt"));
  ASSERT_EQ(Run(""), 0);
  EXPECT_TRUE(WaitFor(game_ / "default.txt"));
  EXPECT_EQ(MusicContents().size(), 1u);

  // Under a game's name, by any link, Shuffler never starts itself: it
  // says so once and starts nothing. Each run is bounded: it runs in a
  // process namespace of its own, whose every process ends a moment after
  // Shuffler does.
  const std::string kSelfBox =
      "Shuffler: An error occurred!\n\nError Number: 1000\nDescription: "
      "Shuffler does not start itself: give the game another name and start "
      "it with /LAUNCH\n";
  const auto run_bounded = [&](const std::string& args) {
    return Run(args,
               "timeout -s KILL 20 unshare -fp --kill-child sh -c "
               "'\"$0\" \"$@\"; sleep 0.5'");
  };
  fs::remove(game_ / "gta3.exe");
  for (const std::string link : {"hard", "symbolic", "upper case"}) {
    SCOPED_TRACE(link);
    const fs::path self =
        game_ / (link == "upper case" ? "GTA3.EXE" : "gta3.exe");
    if (link == "hard") fs::create_hard_link(game_ / "Shuffler", self);
    if (link != "hard") fs::create_symlink("Shuffler", self);
    ASSERT_EQ(run_bounded(""), 0);
    EXPECT_EQ(stderr_, kSelfBox);
    ASSERT_EQ(run_bounded("/LAUNCH gta3.exe"), 0);
    EXPECT_EQ(stderr_, kSelfBox);
    fs::remove(self);
  }
  // Beside the game in another letter case, the game is started, whichever
  // of the two the folder lists first: each pair is tried both ways round.
  for (const auto& [own, game] : {std::pair{"GTA3.EXE", "gta3.exe"},
                                  {"GTA3.exe", "gta3.EXE"},
                                  {"gta3.EXE", "GTA3.exe"}}) {
    SCOPED_TRACE(std::string(own) + " beside " + game);
    fs::create_hard_link(game_ / "Shuffler", game_ / own);
    AddStandIn(game, "beside.txt");
    for (const std::string args : {"", "/LAUNCH gta3.exe"}) {
      ASSERT_EQ(run_bounded(args), 0);
      EXPECT_EQ(stderr_, "");
      EXPECT_TRUE(WaitFor(game_ / "beside.txt"));
      fs::remove(game_ / "beside.txt");
    }
    fs::remove(game_ / own);
    fs::remove(game_ / game);
  }
}

// One run at a time works on a game folder: copies started together leave
// it as one run would, with no box, and the lock ends with its run.
TEST_F(ProgramTest, CopiesStartedTogetherLeaveTheFolderAsOneRunWould) {
  constexpr int kSongs = 3000;
  for (int i = 0; i < kSongs; ++i)
    WriteBytes(game_ / "mp3" / ("Song " + std::to_string(i)),
               std::to_string(i));
  // The game records each start, and runs on for a while.
  WriteBytes(game_ / "gta3.exe",
             "#!/bin/sh\necho started >> \"$(dirname \"$0\")/starts.txt\"\n"
             "sleep 2\n");
  fs::permissions(game_ / "gta3.exe", fs::perms::owner_all);

  // A folder that another run holds is left alone at once.
  const int held = open(game_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
  ASSERT_EQ(Run("/DEBUG"), 0);
  close(held);
  EXPECT_EQ(stderr_, "");
  EXPECT_FALSE(fs::exists(game_ / "Shuffler.log"));
  EXPECT_TRUE(fs::exists(game_ / "mp3" / "Song 0"));
  EXPECT_FALSE(fs::exists(game_ / "starts.txt"));

  // Three copies at once, twice: the second time while the game the first
  // started still runs, which must not hold the folder.
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    const std::string command =
        "cd " + Quoted(game_.string()) +
        " && { ./Shuffler 2>>e1.txt & ./Shuffler 2>>e2.txt & "
        "./Shuffler 2>>e3.txt & wait; }";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (const char* errors : {"e1.txt", "e2.txt", "e3.txt"}) {
      EXPECT_EQ(ReadBytes(game_ / errors), "") << errors;
    }
    const auto after = MusicContents();
    EXPECT_EQ(after.size(), static_cast<size_t>(kSongs));
    const std::regex renamed("[0-9]{4}-Song [0-9]+");
    for (const auto& [content, name] : after) {
      EXPECT_TRUE(std::regex_match(name, renamed)) << name;
      EXPECT_EQ(name.substr(name.find('-') + 6), content) << name;
    }
    EXPECT_FALSE(fs::exists(game_ / "mp3" / "temp"));
    // Each round starts the game; copies that find the folder held start
    // nothing.
    long starts = 0;
    for (int i = 0; i < 200 && starts < round; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
      const std::string lines = ReadBytes(game_ / "starts.txt");
      starts = std::count(lines.begin(), lines.end(), '\n');
    }
    EXPECT_GE(starts, round);
  }
}

// As a launcher's wrapper, "Shuffler [options] -- command...": the shuffle,
// then the command in Shuffler's own process, with its arguments and exit
// status. The outer shell execs Shuffler, so one pid runs through all three.
TEST_F(ProgramTest, AWrapperShufflesThenBecomesTheCommand) {
  WriteBytes(game_ / "mp3" / "07-Song.mp3", "song");
  WriteBytes(game_ / "mp3" / "Other.mp3", "other");
  AddStandIn("gta3.exe", "default.txt");
  // The command reports, and with "sigpipe" shows that SIGPIPE still ends
  // it.
  const std::string report =
      "{ echo $$; printf '[%s]' \"$@\"; echo; ls mp3; echo \"hud=$DXVK_HUD\"; "
      "} > seen.txt; [ \"$1\" != sigpipe ] || kill -PIPE $$; exit 7";
  WriteBytes(game_ / "a=b", "#!/bin/sh\nDXVK_HUD=a=b exec \"$@\"\n");
  fs::permissions(game_ / "a=b", fs::perms::owner_all);
  const auto seen = [&] { return ReadBytes(game_ / "seen.txt"); };
  ASSERT_EQ(mkfifo((game_ / "unread").c_str(), 0600), 0);
  struct Row {
    std::string errors = {}, options = {}, env = {}, tail = {};
    std::string printed = {}, hud = {};  // its arguments, its DXVK_HUD
    bool log = false, denum = false;
  };
  // Options after "--" are the command's: "/DENUM" and "/DEBUG" there
  // change nothing and are handed on. Standard error on a pipe nobody reads
  // takes the boxes of a folder that cannot move, and the run goes on.
  // clang-format off
  const Row rows[] = {
      {.options = "/DEBUG", .tail = "arg 'two words'", .printed = "[arg][two words]", .log = true},
      {.tail = "/DENUM /DEBUG /NOLAUNCH", .printed = "[/DENUM][/DEBUG][/NOLAUNCH]"},
      {.options = "/denum", .env = "DXVK_HUD=1", .printed = "[]", .hud = "1", .denum = true},
      {.errors = "3<>unread 2>unread 3<&-", .options = "/UNIQUE", .env = "./a=b",
       .tail = "sigpipe", .printed = "[sigpipe]", .hud = "a=b"},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.options + " -- " + row.env + " " + row.tail);
    fs::remove(game_ / "Shuffler.log");
    if (!row.errors.empty()) fs::create_directory(game_ / "mp3" / "folder");
    const int status =
        RunLine("timeout -s KILL 30 sh -c " +
                Quoted("echo $$ > pid.txt; exec " + row.errors +
                       " ./Shuffler " + row.options + " -- " + row.env +
                       " /bin/sh -c " + Quoted(report) + " sh " + row.tail));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), row.errors.empty() ? 7 : 128 + 13);
    EXPECT_EQ(stderr_, "");
    const std::string pid = ReadBytes(game_ / "pid.txt");
    ASSERT_FALSE(pid.empty());
    EXPECT_EQ(seen().rfind(pid, 0), 0u) << seen();
    EXPECT_NE(seen().find("\n" + row.printed + "\n"), std::string::npos);
    EXPECT_NE(seen().find("\nhud=" + row.hud + "\n"), std::string::npos);
    // The command saw the music already shuffled.
    const auto after = MusicContents();
    EXPECT_EQ(seen().find("temp"), std::string::npos);
    EXPECT_NE(seen().find(after.at("song")), std::string::npos);
    EXPECT_EQ(after.at("song") == "Song.mp3", row.denum);
    EXPECT_EQ(fs::exists(game_ / "Shuffler.log"), row.log);
    if (row.log) {
      EXPECT_EQ(ReadBytes(game_ / "Shuffler.log").rfind("Renamed \"", 0), 0u);
    }
    for (const auto& entry : fs::directory_iterator(game_ / "mp3")) {
      if (entry.is_directory()) fs::remove(entry.path());
    }
  }

  // Without a music folder the command still starts, found through PATH.
  fs::rename(game_ / "mp3", game_ / "music");
  EXPECT_EQ(Run("-- sh -c 'exit 5'"), 5 << 8);
  EXPECT_EQ(stderr_, "");
  fs::rename(game_ / "music", game_ / "mp3");

  // The command gets no file that Shuffler held: its open files are the
  // ones it would have had without Shuffler.
  ASSERT_EQ(std::system(("cd " + Quoted(game_.string()) +
                         " && /bin/sh -c 'ls /proc/$$/fd' > fds-alone.txt")
                            .c_str()),
            0);
  ASSERT_EQ(Run("/DEBUG -- /bin/sh -c 'ls /proc/$$/fd' > fds.txt"), 0);
  EXPECT_EQ(ReadBytes(game_ / "fds.txt"), ReadBytes(game_ / "fds-alone.txt"));

  // A command that cannot start: one box, the same in the log, and a
  // shell's status. A "--help" after "--" is the command's name, not a
  // question.
  WriteBytes(game_ / "not-a-program", "data");
  struct Unstartable {
    std::string command, box;
    int code;
  };
  const std::string not_found = "53\nDescription: File not found\n";
  const std::string refused = "70\nDescription: Permission denied\n";
  for (const Unstartable& row :
       {Unstartable{"./missing-game", not_found, 127},
        Unstartable{"A=1 B_2= missing-game", not_found, 127},
        Unstartable{"./not-a-program", refused, 126},
        Unstartable{"./mp3", refused, 126},
        Unstartable{"--help", not_found, 127}}) {
    SCOPED_TRACE(row.command);
    const int status = Run("/DEBUG -- " + row.command + " x");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), row.code);
    EXPECT_EQ(stderr_,
              "Shuffler: An error occurred!\n\nError Number: " + row.box);
    std::string logged = row.box.substr(0, row.box.size() - 1);
    logged.replace(logged.find("\nDescription: "), 14, ", ");
    EXPECT_TRUE(ReadBytes(game_ / "Shuffler.log")
                    .ends_with("\"\r\n*** An error occurred! " + logged + ": " +
                               row.command.substr(row.command.rfind(' ') + 1) +
                               "\r\n"));
  }
  // No game was started by any of these runs.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(game_ / "default.txt"));
}

// Asked for help or the version, in any spelling and letter case, Shuffler
// answers and ends: no file is touched, nothing is started. The name after
// "/LAUNCH" and the words after "--" are no questions.
TEST_F(ProgramTest, HelpAndVersionAnswerWithoutTouchingAnything) {
  WriteBytes(game_ / "mp3" / "07-Song.mp3", "song");
  std::vector<std::string> asked = {"/DEBUG --version", "/NOLAUNCH -h -- x"};
  for (std::string word : {"-h", "--help", "-help", "/h", "/help", "-?", "/?",
                           "--?", "-v", "--version", "-version", "/version"}) {
    asked.push_back(word);
    for (char& c : word)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    asked.push_back("/NOLAUNCH " + Quoted(word));
  }
  for (const std::string& args : asked) {
    SCOPED_TRACE(args);
    ASSERT_EQ(Run(args + " > out.txt"), 0);
    EXPECT_EQ(stderr_, "");
    const std::string out = ReadBytes(game_ / "out.txt");
    const bool version = args.find_first_of("vV") != std::string::npos;
    EXPECT_EQ(out.rfind(version ? "Shuffler " SHUFFLER_VERSION "\n"
                                : "Usage: Shuffler [options] [-- command",
                        0),
              0u)
        << out;
  }
  EXPECT_TRUE(fs::exists(game_ / "mp3" / "07-Song.mp3"));
  EXPECT_FALSE(fs::exists(game_ / "Shuffler.log"));
  ASSERT_EQ(Run("/launch -h /NOLAUNCH > out.txt"), 0);
  EXPECT_EQ(ReadBytes(game_ / "out.txt"), "");
  EXPECT_FALSE(fs::exists(game_ / "mp3" / "07-Song.mp3"));
}

// Shuffler knows its own file and folder with and without /proc (hidden in
// a mount namespace): through a symbolic link it shuffles the music next to
// the link, as Windows would; a copy started by a copy starts nothing; and
// where it cannot tell its folder it shuffles and starts nothing. Each run
// is traced in a process namespace of its own, which a timeout ends.
TEST_F(ProgramTest, WithOrWithoutProcItKnowsItsFolderAndNeverStartsItself) {
  if (RunLine("unshare -m -fp true && strace -V >/dev/null") != 0) {
    GTEST_SKIP() << "SKIPPED: needs root for unshare, and strace";
  }
  fs::create_directories(game_ / "install" / "mp3");
  fs::rename(game_ / "Shuffler", game_ / "install" / "Shuffler");
  fs::create_symlink("install/Shuffler", game_ / "Shuffler");
  fs::copy_file(game_ / "install" / "Shuffler", game_ / "gta3.exe");
  // Started by its open file (/dev/fd/N), under a name that is not its own.
  const std::string by_file =
      "python3 -c 'import os; os.execve(os.open(\"gta3.exe\", 0), "
      "[\"unrelated\", \"/NOLAUNCH\"], dict(os.environ))'";
  struct Row {
    std::string command = {};
    bool proc = true;
    int box = 0;  // its number, 0 for none
    int starts = 0, shuffles = 1;
  };
  const Row rows[] = {
      {.command = "./Shuffler /NOLAUNCH"},
      {.command = "./Shuffler /NOLAUNCH", .proc = false},
      {.command = "bash -c 'exec -a unrelated ./Shuffler /NOLAUNCH'",
       .proc = false},
      {.command = by_file},
      {.command = by_file, .proc = false, .box = 1001, .shuffles = 0},
      // Shuffler as the only game; then, with a second copy for the rows
      // that start two, copies under both games' names.
      {.command = "./gta3.exe", .proc = false, .box = 1000, .starts = 1},
      {.command = "./gta3.exe", .box = 1000, .starts = 2},
      {.command = "./gta3.exe", .proc = false, .box = 1000, .starts = 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command + (row.proc ? "" : ", without /proc"));
#ifdef __SANITIZE_ADDRESS__
    if (!row.proc) continue;  // the sanitizer's runtime needs /proc
#endif
    if (row.starts == 2) {
      fs::copy_file(game_ / "gta3.exe", game_ / "gta-vc.exe",
                    fs::copy_options::overwrite_existing);
    }
    WriteBytes(game_ / "mp3" / "01-Here.mp3", "here");
    WriteBytes(game_ / "install" / "mp3" / "01-Elsewhere.mp3", "elsewhere");
    RunLine(
        "timeout -s KILL 60 unshare -m --propagation private -fp "
        "--kill-child sh -c " +
        Quoted(std::string(row.proc ? "" : "mount -t tmpfs none /proc; ") +
               "exec strace -f -qq -e trace=execve,mkdir,mkdirat -o "
               "trace.txt " +
               row.command));
    // One box at most ("An error occurred!"), with the row's number.
    EXPECT_EQ(std::count(stderr_.begin(), stderr_.end(), '!'), row.box ? 1 : 0)
        << stderr_;
    EXPECT_NE(stderr_.find(row.box ? "Number: " + std::to_string(row.box) : ""),
              std::string::npos);
    std::istringstream trace(ReadBytes(game_ / "trace.txt"));
    int starts = 0, shuffles = 0;
    for (std::string line; std::getline(trace, line);) {
      starts +=
          line.find(".exe\", [") != std::string::npos && line.ends_with("= 0");
      // "temp" made, by its path or in the music folder opened before.
      shuffles += (line.find("\"" + (game_ / "mp3" / "temp").string() +
                             "\", ") != std::string::npos ||
                   line.find(", \"temp\", ") != std::string::npos) &&
                  line.ends_with("= 0");
    }
    EXPECT_EQ(starts, row.starts);
    EXPECT_EQ(shuffles, row.shuffles);
    EXPECT_TRUE(fs::exists(game_ / "install" / "mp3" / "01-Elsewhere.mp3"));
  }
}

}  // namespace
