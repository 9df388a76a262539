// Shuffler against the bare file-system work a shuffle cannot avoid.
//
// For each folder size N, on real folders in the system's temporary
// directory, the bench alternates two measurements, pair after pair:
//   A  the real Shuffler program, run with "/NOLAUNCH" as a whole process on
//      a fresh sample game folder (the program is hard-linked next to the
//      folder's "mp3", where it looks for its music);
//   B  a bare loop in this process that does only the unavoidable work: the
//      count and collect listings of the music folder, then for every entry,
//      in random order, one never-replacing rename to its new name and the
//      two moves into "mp3/temp" and back, with "temp" made before and
//      removed after.
// Preparing each fresh folder, syncing it to disk and checking the result
// are not timed. The bench also times Shuffler on an empty music folder (its
// start-up cost) next to /bin/true (the cost of starting any process).
//
// It prints figures only; nothing here passes or fails on a time.
//
// Linux only: it uses renameat2, posix_spawn, wait4 and syncfs directly.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------- helpers

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what);
}

[[noreturn]] void FailErrno(const std::string& what, int error) {
  Fail(what + ": " + std::strerror(error));
}

double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle]
                                : (values[middle - 1] + values[middle]) / 2;
}

// Decimal digits of `count`, 1 for 0 to 9: the width of the new prefixes.
int DecimalDigits(int64_t count) {
  int digits = 1;
  for (; count >= 10; count /= 10)
    ++digits;
  return digits;
}

// The sample entry `index` of a folder: "07-Track 0042.mp3" and so on, each
// with an old two-digit number prefix and a distinct bare name.
std::string SampleName(int index) {
  char name[64];
  std::snprintf(name, sizeof name, "%02d-Track %04d.mp3", index % 12 + 1,
                index + 1);
  return name;
}

// What is left of a sample name once its old prefix is gone.
std::string SampleBareName(int index) {
  const std::string name = SampleName(index);
  return name.substr(name.find('-') + 1);
}

void MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0755) != 0) FailErrno("mkdir " + path, errno);
}

// Creates every sample file in `music`, which must exist. The files are
// empty: a shuffle only renames them, which costs the same whatever their
// size, while freeing data blocks can cost far more than the shuffle itself
// (on a file system mounted with "discard", every freed block is trimmed).
void FillMusicFolder(const std::string& music, int count) {
  for (int i = 0; i < count; ++i) {
    const std::string path = music + SampleName(i);
    const int fd =
        open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) FailErrno("create " + path, errno);
    close(fd);
  }
}

// Writes everything dirty on the file system holding `path` to disk, so the
// preparation's writes do not land inside the next timed run.
void SyncFileSystem(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) FailErrno("open " + path, errno);
  syncfs(fd);
  close(fd);
}

// Every entry name of `folder` except "." and "..".
std::vector<std::string> ListNames(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) FailErrno("opendir " + folder, errno);
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  closedir(dir);
  return names;
}

// Checks that `music` holds exactly the `count` sample entries, each under a
// new `digits`-wide number prefix, and that "temp" is gone.
void CheckShuffled(const std::string& music, int count, const char* who) {
  const int digits = DecimalDigits(count);
  std::set<std::string> expected;
  for (int i = 0; i < count; ++i)
    expected.insert(SampleBareName(i));
  const std::vector<std::string> names = ListNames(music);
  std::set<std::string> found;
  for (const std::string& name : names) {
    const bool prefixed =
        static_cast<int>(name.size()) > digits + 1 && name[digits] == '-' &&
        std::all_of(name.begin(), name.begin() + digits,
                    [](char c) { return c >= '0' && c <= '9'; });
    if (!prefixed) Fail(std::string(who) + " left an unexpected " + name);
    found.insert(name.substr(static_cast<size_t>(digits) + 1));
  }
  if (names.size() != static_cast<size_t>(count) || found != expected) {
    Fail(std::string(who) + " left " + std::to_string(names.size()) +
         " entries (" + std::to_string(found.size()) +
         " distinct sample names) instead of " + std::to_string(count));
  }
}

// ------------------------------------------------------------- the folder

// A sample game folder: the Shuffler program linked into it and its "mp3"
// music folder.
class GameFolder {
 public:
  GameFolder(const std::string& root, const std::string& program)
      : folder_(root + "/game/"), music_(folder_ + "mp3/") {
    fs::remove_all(folder_);
    MakeFolder(folder_);
    program_ = folder_ + "Shuffler";
    // Shuffler finds its music folder next to its own executable, which a
    // hard link gives without copying; a copy does when linking fails.
    if (link(program.c_str(), program_.c_str()) != 0) {
      fs::copy_file(program, program_);
    }
    MakeFolder(music_);
  }

  ~GameFolder() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  GameFolder(const GameFolder&) = delete;
  GameFolder& operator=(const GameFolder&) = delete;

  const std::string& Folder() const { return folder_; }
  const std::string& Music() const { return music_; }
  const std::string& Program() const { return program_; }

  // Replaces the music folder with a fresh one of `count` sample entries and
  // writes it all to disk.
  void Refill(int count) {
    fs::remove_all(music_);
    MakeFolder(music_);
    FillMusicFolder(music_, count);
    SyncFileSystem(folder_);
  }

 private:
  std::string folder_;
  std::string music_;
  std::string program_;
};

// ------------------------------------------------------------ A: Shuffler

// The programs the bench runs.
struct Programs {
  std::string shuffler;  // the Shuffler program under test
  std::string launcher;  // shuffler_bench_launcher, which times and weighs it
};

struct ProcessRun {
  double seconds = 0;
  long peak_kib = 0;  // the child's peak resident set
};

// Runs `program` with `arguments` as a whole process, its output sent to the
// file `output`, through the launcher, which times it from the spawn to the
// end of its wait and reads its peak memory.
ProcessRun RunProcess(const std::string& launcher, const std::string& program,
                      const std::vector<std::string>& arguments,
                      const std::string& output) {
  std::vector<std::string> words = {launcher, output, program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) FailErrno("pipe", errno);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
  pid_t child = 0;
  const int error = posix_spawn(&child, launcher.c_str(), &actions, nullptr,
                                argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_ends[1]);
  if (error != 0) {
    close(pipe_ends[0]);
    FailErrno("spawn " + launcher, error);
  }
  std::string report;
  char buffer[256];
  for (ssize_t got; (got = read(pipe_ends[0], buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    report.append(buffer, static_cast<size_t>(got));
  }
  close(pipe_ends[0]);
  int status = 0;
  if (waitpid(child, &status, 0) != child) FailErrno("waitpid", errno);

  long long nanoseconds = 0;
  long peak_kib = 0;
  int exit_status = -1;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      std::sscanf(report.c_str(), "%lld %ld %d", &nanoseconds, &peak_kib,
                  &exit_status) != 3) {
    Fail("the launcher could not run " + program);
  }
  if (exit_status != 0) {
    Fail(program + " ended with status " + std::to_string(exit_status));
  }
  return {static_cast<double>(nanoseconds) * 1e-9, peak_kib};
}

// One Shuffler run on the game folder; whatever it printed is an error (a
// stop box on POSIX is a line on standard error).
ProcessRun RunShuffler(const std::string& launcher, const GameFolder& game,
                       const std::string& output) {
  const ProcessRun run =
      RunProcess(launcher, game.Program(), {"/NOLAUNCH"}, output);
  std::error_code error;
  if (fs::file_size(output, error) != 0) {
    Fail("Shuffler reported a failure; see " + output);
  }
  return run;
}

// ------------------------------------------------------- B: the bare loop

// Lists `music` twice, counting and then collecting, and renames and moves
// every entry the way a shuffle must, with nothing else around it. Returns
// the elapsed time.
double RunBareLoop(const std::string& music, std::mt19937_64& random) {
  const Clock::time_point start = Clock::now();

  // The count pass and the collect pass.
  auto is_link = [](const char* name) {
    return name[0] == '.' &&
           (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
  };
  size_t count = 0;
  DIR* dir = opendir(music.c_str());
  if (dir == nullptr) FailErrno("opendir", errno);
  while (const dirent* entry = readdir(dir)) {
    if (!is_link(entry->d_name)) ++count;
  }
  closedir(dir);
  std::vector<std::string> names;
  names.reserve(count);
  dir = opendir(music.c_str());
  if (dir == nullptr) FailErrno("opendir", errno);
  while (const dirent* entry = readdir(dir)) {
    if (!is_link(entry->d_name)) names.emplace_back(entry->d_name);
  }
  closedir(dir);

  const std::string temp_folder = music + "temp";
  const std::string into_temp = temp_folder + "/";
  if (mkdir(temp_folder.c_str(), 0777) != 0) FailErrno("mkdir temp", errno);

  // Every entry once, in random order, to a random zero-padded number and
  // its name without the old prefix.
  std::vector<uint32_t> order(names.size());
  for (uint32_t i = 0; i < order.size(); ++i)
    order[i] = i;
  std::shuffle(order.begin(), order.end(), random);
  std::uniform_int_distribution<int> number(1, static_cast<int>(count));
  const int digits = DecimalDigits(static_cast<int64_t>(count));

  std::string old_path = music, new_path = music, temp_path = into_temp;
  char prefix[32];
  for (const uint32_t index : order) {
    const std::string& name = names[index];
    const size_t dash = name.find('-');
    const char* bare =
        name.c_str() + (dash == std::string::npos ? 0 : dash + 1);
    const int length =
        std::snprintf(prefix, sizeof prefix, "%0*d-", digits, number(random));

    old_path.resize(music.size());
    old_path += name;
    new_path.resize(music.size());
    new_path.append(prefix, static_cast<size_t>(length)).append(bare);
    temp_path.resize(into_temp.size());
    temp_path.append(prefix, static_cast<size_t>(length)).append(bare);

    if (renameat2(AT_FDCWD, old_path.c_str(), AT_FDCWD, new_path.c_str(),
                  RENAME_NOREPLACE) != 0 ||
        renameat2(AT_FDCWD, new_path.c_str(), AT_FDCWD, temp_path.c_str(),
                  RENAME_NOREPLACE) != 0 ||
        renameat2(AT_FDCWD, temp_path.c_str(), AT_FDCWD, new_path.c_str(),
                  RENAME_NOREPLACE) != 0) {
      FailErrno("rename " + name, errno);
    }
  }
  if (rmdir(temp_folder.c_str()) != 0) FailErrno("rmdir temp", errno);

  return Seconds(Clock::now() - start);
}

// ------------------------------------------------------------ the report

struct SizeResult {
  int count = 0;
  int pairs = 0;
  double a_median = 0, b_median = 0;
  double ratio_min = 0, ratio_max = 0;
  long peak_kib = 0;
};

SizeResult MeasureSize(const std::string& root, const Programs& programs,
                       int count, int pairs, std::mt19937_64& random) {
  GameFolder game(root, programs.shuffler);
  const std::string output = root + "/shuffler-output.txt";
  std::vector<double> a_times, b_times, ratios;
  SizeResult result;
  result.count = count;
  result.pairs = pairs;
  // One untimed run of each first, so both start with warm caches.
  for (int pair = -1; pair < pairs; ++pair) {
    game.Refill(count);
    const ProcessRun a = RunShuffler(programs.launcher, game, output);
    CheckShuffled(game.Music(), count, "Shuffler");

    game.Refill(count);
    const double b = RunBareLoop(game.Music(), random);
    CheckShuffled(game.Music(), count, "the bare loop");

    if (pair < 0) continue;
    a_times.push_back(a.seconds);
    b_times.push_back(b);
    ratios.push_back(a.seconds / b);
    result.peak_kib = std::max(result.peak_kib, a.peak_kib);
    std::fprintf(stderr, "  N=%d pair %d/%d: A %.1f ms, B %.1f ms\n", count,
                 pair + 1, pairs, a.seconds * 1e3, b * 1e3);
  }
  result.a_median = Median(a_times);
  result.b_median = Median(b_times);
  result.ratio_min = *std::min_element(ratios.begin(), ratios.end());
  result.ratio_max = *std::max_element(ratios.begin(), ratios.end());
  return result;
}

struct StartupResult {
  int runs = 0;
  double shuffler_median = 0, shuffler_min = 0;
  double true_median = 0, true_min = 0;
  long peak_kib = 0;
};

// Shuffler on an empty music folder, alternated with /bin/true.
StartupResult MeasureStartup(const std::string& root, const Programs& programs,
                             int runs) {
  GameFolder game(root, programs.shuffler);
  const std::string output = root + "/shuffler-output.txt";
  std::vector<double> shuffler, baseline;
  StartupResult result;
  result.runs = runs;
  for (int run = -3; run < runs; ++run) {
    const ProcessRun a = RunShuffler(programs.launcher, game, output);
    const ProcessRun t = RunProcess(programs.launcher, "/bin/true", {}, output);
    if (run < 0) continue;
    shuffler.push_back(a.seconds);
    baseline.push_back(t.seconds);
    result.peak_kib = std::max(result.peak_kib, a.peak_kib);
  }
  if (!ListNames(game.Music()).empty()) Fail("the empty folder changed");
  result.shuffler_median = Median(shuffler);
  result.shuffler_min = *std::min_element(shuffler.begin(), shuffler.end());
  result.true_median = Median(baseline);
  result.true_min = *std::min_element(baseline.begin(), baseline.end());
  return result;
}

void PrintReport(const std::vector<SizeResult>& sizes,
                 const StartupResult& startup) {
  std::printf(
      "\n| N | pairs | Shuffler (A) | bare loop (B) | A/B | A/B min..max "
      "| A entries/s | B entries/s | A us/entry | B us/entry "
      "| A peak RSS |\n"
      "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const SizeResult& s : sizes) {
    std::printf(
        "| %d | %d | %.1f ms | %.1f ms | %.3f | %.3f..%.3f | %.0f | %.0f "
        "| %.2f | %.2f | %.1f MiB |\n",
        s.count, s.pairs, s.a_median * 1e3, s.b_median * 1e3,
        s.a_median / s.b_median, s.ratio_min, s.ratio_max, s.count / s.a_median,
        s.count / s.b_median, s.a_median * 1e6 / s.count,
        s.b_median * 1e6 / s.count, s.peak_kib / 1024.0);
  }
  if (sizes.size() >= 2) {
    const SizeResult& first = sizes.front();
    const SizeResult& last = sizes.back();
    const auto per_entry = [](double seconds, int count) {
      return seconds / count;
    };
    std::printf("\nPer-entry time at N=%d over N=%d: A %.3f, B %.3f\n",
                last.count, first.count,
                per_entry(last.a_median, last.count) /
                    per_entry(first.a_median, first.count),
                per_entry(last.b_median, last.count) /
                    per_entry(first.b_median, first.count));
  }
  std::printf(
      "\n| empty music folder (%d runs) | median | min | peak RSS |\n"
      "|---|---:|---:|---:|\n"
      "| Shuffler /NOLAUNCH, whole process | %.2f ms | %.2f ms | %.1f MiB |\n"
      "| /bin/true, whole process | %.2f ms | %.2f ms | |\n",
      startup.runs, startup.shuffler_median * 1e3, startup.shuffler_min * 1e3,
      startup.peak_kib / 1024.0, startup.true_median * 1e3,
      startup.true_min * 1e3);
}

// ---------------------------------------------------------------- options

struct Options {
  Programs programs = {SHUFFLER_PROGRAM_PATH, SHUFFLER_LAUNCHER_PATH};
  std::vector<int> sizes = {1000, 10000, 32767};
  std::vector<int> pairs = {41, 25, 21};
  int startup_runs = 300;
};

std::vector<int> ParseList(const std::string& text) {
  std::vector<int> values;
  size_t at = 0;
  while (at <= text.size()) {
    const size_t comma = std::min(text.find(',', at), text.size());
    values.push_back(std::stoi(text.substr(at, comma - at)));
    at = comma + 1;
  }
  return values;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const auto value = [&](std::string_view key) -> const char* {
      if (argument.rfind(key, 0) != 0) return nullptr;
      return argv[i] + key.size();
    };
    if (const char* v = value("--program=")) {
      options.programs.shuffler = v;
    } else if (const char* s = value("--sizes=")) {
      options.sizes = ParseList(s);
    } else if (const char* p = value("--pairs=")) {
      options.pairs = ParseList(p);
    } else if (const char* r = value("--startup-runs=")) {
      options.startup_runs = std::stoi(r);
    } else {
      Fail(
          "usage: shuffler_bench [--program=PATH] [--sizes=N,N,...] "
          "[--pairs=P,P,...] [--startup-runs=R]");
    }
  }
  if (options.pairs.size() == 1) {
    options.pairs.assign(options.sizes.size(), options.pairs.front());
  }
  if (options.pairs.size() != options.sizes.size()) {
    Fail("--pairs needs one count, or one per size");
  }
  for (size_t i = 0; i < options.sizes.size(); ++i) {
    if (options.sizes[i] < 1 || options.sizes[i] > 32767) {
      Fail("sizes run from 1 to 32767 entries");
    }
    if (options.pairs[i] < 1) Fail("every size needs at least one pair");
  }
  if (options.startup_runs < 1) Fail("--startup-runs must be at least 1");
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  std::string root;
  try {
    const Options options = ParseOptions(argc, argv);
    root = (fs::temp_directory_path() / "shuffler-bench-XXXXXX").string();
    if (mkdtemp(root.data()) == nullptr) FailErrno("mkdtemp", errno);
    std::fprintf(stderr, "shuffler_bench: %s in %s\n",
                 options.programs.shuffler.c_str(), root.c_str());

    std::mt19937_64 random(std::random_device{}());
    std::vector<SizeResult> sizes;
    for (size_t i = 0; i < options.sizes.size(); ++i) {
      sizes.push_back(MeasureSize(root, options.programs, options.sizes[i],
                                  options.pairs[i], random));
    }
    const StartupResult startup =
        MeasureStartup(root, options.programs, options.startup_runs);
    PrintReport(sizes, startup);
    fs::remove_all(root);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "shuffler_bench: %s\n", error.what());
    if (!root.empty()) {
      std::error_code ignored;
      fs::remove_all(root, ignored);
    }
    return 1;
  }
}
