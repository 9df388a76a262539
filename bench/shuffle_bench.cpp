// Shuffler against the bare file-system work a shuffle cannot avoid.
//
// For each folder size N, on real folders in the system's temporary
// directory, the benchmark alternates two measurements, pair after pair:
//   A  the real Shuffler program, run with "/NOLAUNCH" as a whole process on
//      a fresh sample game folder (the program is hard-linked next to the
//      folder's "mp3", where it looks for its music);
//   B  the bare loop of the platform layer (bench::BareShuffle), in this
//      process: the count and collect listings of the music folder, then
//      for every entry, in random order, one never-replacing rename to its
//      new name and the two moves into "mp3/temp" and back, with "temp" made
//      before and removed after.
// With "--folder=PATH" the folders are made in PATH instead (scripts/bench.sh
// passes an NTFS mount), and with "--bare=rename" B renames with plain
// rename() calls: the floor on file systems that refuse RENAME_NOREPLACE.
// Both run on one processor, the one the benchmark starts on: left to the
// scheduler, each new Shuffler process would start on whichever processor
// is idler, while the bare loop stays put, so other work on the machine
// would slow B more than A. On one processor it slows both alike, and the
// alternation spreads it over both. Preparing each fresh folder, writing it
// to disk and checking the result are not timed. The benchmark also times
// Shuffler on an empty music folder (its start-up cost) next to /bin/true (the
// cost of starting any process). Last, it times the work a "/KEEPNAMES" run
// adds at 32,767 entries, step by step, with the names file's size.
//
// It prints figures only; nothing here passes or fails on a time.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "bench/bench_system.h"
#include "music/own_names.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;
namespace bench = shuffler::bench;

// ---------------------------------------------------------------- helpers

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what);
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

void MakeFolder(const fs::path& path) {
  if (!fs::create_directory(path)) Fail("already there: " + path.string());
}

// Creates every sample file in `music`, which must exist. The files are
// empty: a shuffle only renames them, which costs the same whatever their
// size, while freeing data blocks can cost far more than the shuffle itself
// (on a file system mounted with "discard", every freed block is trimmed).
void FillMusicFolder(const std::string& music, int count) {
  for (int i = 0; i < count; ++i) {
    const std::string path = music + SampleName(i);
    std::FILE* file = std::fopen(path.c_str(), "wx");
    if (file == nullptr) Fail("cannot create " + path);
    std::fclose(file);
  }
}

// Every entry name of `folder`.
std::vector<std::string> ListNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
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
    std::error_code error;
    fs::create_hard_link(program, program_, error);
    if (error) fs::copy_file(program, program_);
    MakeFolder(music_);
  }

  ~GameFolder() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  GameFolder(const GameFolder&) = delete;
  GameFolder& operator=(const GameFolder&) = delete;

  const std::string& Music() const { return music_; }
  const std::string& Program() const { return program_; }

  // Replaces the music folder with a fresh one of `count` sample entries and
  // writes it all to disk.
  void Refill(int count) {
    fs::remove_all(music_);
    MakeFolder(music_);
    FillMusicFolder(music_, count);
    bench::SyncFileSystem(folder_);
  }

 private:
  std::string folder_;
  std::string music_;
  std::string program_;
};

// -------------------------------------------------------------- processes

// The programs the benchmark runs, and where their output goes.
struct Programs {
  std::string shuffler;  // the Shuffler program under test
  std::string launcher;  // shuffler_bench_launcher, which times and weighs it
  std::string output;    // the measured program's output
  std::string report;    // the launcher's report
};

struct ProcessRun {
  double seconds = 0;
  int64_t peak_kib = 0;
};

// Runs `program` with `arguments` as a whole process through the launcher,
// which times it from the spawn to the end of its wait and reads its peak
// memory.
ProcessRun RunProcess(const Programs& programs, const std::string& program,
                      const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {programs.launcher, programs.output, program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const bench::ChildFigures launcher = bench::RunChild(argv, programs.report);
  std::ifstream in(programs.report);
  long long nanoseconds = 0, peak_kib = 0;
  int exit_status = -1;
  if (launcher.exit_status != 0 ||
      !(in >> nanoseconds >> peak_kib >> exit_status)) {
    Fail("the launcher could not run " + program + "; see " + programs.report);
  }
  if (exit_status != 0) {
    Fail(program + " ended with status " + std::to_string(exit_status));
  }
  return {static_cast<double>(nanoseconds) * 1e-9, peak_kib};
}

// One Shuffler run on the game folder. Whatever it printed is an error: a
// stop box on POSIX is a line on standard error.
ProcessRun RunShuffler(const Programs& programs, const GameFolder& game,
                       const std::vector<std::string>& arguments = {
                           "/NOLAUNCH"}) {
  const ProcessRun run = RunProcess(programs, game.Program(), arguments);
  std::error_code error;
  if (fs::file_size(programs.output, error) != 0) {
    Fail("Shuffler reported a failure; see " + programs.output);
  }
  return run;
}

// ------------------------------------------------------------ the figures

struct SizeResult {
  int count = 0;
  int pairs = 0;
  double a_median = 0, b_median = 0;
  double ratio_median = 0, ratio_min = 0, ratio_max = 0;
  int64_t peak_kib = 0;
};

SizeResult MeasureSize(const std::string& root, const Programs& programs,
                       int count, int pairs, bool plain_rename,
                       std::mt19937_64& random) {
  GameFolder game(root, programs.shuffler);
  std::vector<double> a_times, b_times, ratios;
  SizeResult result;
  result.count = count;
  result.pairs = pairs;
  // One untimed pair first, so that both start with warm caches.
  for (int pair = -1; pair < pairs; ++pair) {
    game.Refill(count);
    const ProcessRun a = RunShuffler(programs, game);
    CheckShuffled(game.Music(), count, "Shuffler");

    game.Refill(count);
    const double b = bench::BareShuffle(game.Music(), random(), plain_rename);
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
  result.ratio_median = Median(ratios);
  result.ratio_min = *std::min_element(ratios.begin(), ratios.end());
  result.ratio_max = *std::max_element(ratios.begin(), ratios.end());
  return result;
}

struct StartupResult {
  int runs = 0;
  double shuffler_median = 0, shuffler_min = 0;
  double true_median = 0, true_min = 0;
  int64_t shuffler_peak_kib = 0, true_peak_kib = 0;
};

// Shuffler on an empty music folder, alternated with /bin/true.
StartupResult MeasureStartup(const std::string& root, const Programs& programs,
                             int runs) {
  GameFolder game(root, programs.shuffler);
  std::vector<double> shuffler, baseline;
  StartupResult result;
  result.runs = runs;
  for (int run = -3; run < runs; ++run) {
    const ProcessRun a = RunShuffler(programs, game);
    const ProcessRun t = RunProcess(programs, "/bin/true", {});
    if (run < 0) continue;
    shuffler.push_back(a.seconds);
    baseline.push_back(t.seconds);
    result.shuffler_peak_kib = std::max(result.shuffler_peak_kib, a.peak_kib);
    result.true_peak_kib = std::max(result.true_peak_kib, t.peak_kib);
  }
  if (!ListNames(game.Music()).empty()) Fail("the empty folder changed");
  result.shuffler_median = Median(shuffler);
  result.shuffler_min = *std::min_element(shuffler.begin(), shuffler.end());
  result.true_median = Median(baseline);
  result.true_min = *std::min_element(baseline.begin(), baseline.end());
  return result;
}

// The work a "/KEEPNAMES" run adds, on a folder of `count` sample entries
// with sizes like songs', measured in this process through the system's
// platform: a shuffle's renames and moves alone, alternated with the same
// shuffle after the first "/KEEPNAMES" steps (the facts of every entry,
// their records made, written durably); then what each later run adds
// (the file read back, parsed, and the shuffled entries matched).
struct NamesResult {
  int runs = 0, count = 0;
  size_t bytes = 0;
  // The shuffle alone, its median in seconds; the medians of the runs'
  // ratios to it of the shuffle after the first "/KEEPNAMES" steps, and
  // after those of a later run (all entries recorded).
  double plain = 0, first = 0, later = 0;
  std::vector<std::pair<const char*, double>> steps;  // median seconds
  // The whole program with "/UNIQUE": its median in seconds, the medians
  // of the ratios to it with "/KEEPNAMES" in a first run and a later one,
  // and the highest peak memory of those.
  double whole = 0, whole_first = 0, whole_later = 0;
  int64_t whole_peak_kib = 0;
};

namespace sh = shuffler;

// Renames every entry of `music` to a new number and its bare name, and
// moves it into "temp" and back, through `platform`; the new names.
std::vector<sh::Text> PlatformShuffle(sh::Platform& platform,
                                      const sh::Text& music,
                                      const std::vector<sh::Text>& names) {
  const sh::Text temp = music + u"temp";
  platform.MakeFolder(temp);
  const std::unique_ptr<sh::FileMover> mover = platform.CreateFileMover();
  std::vector<sh::Text> shuffled;
  shuffled.reserve(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string number = std::to_string(10000 + i * 7 % names.size());
    sh::Text name(number.begin(), number.end());
    name += names[i].substr(names[i].find(u'-'));
    platform.RenameEntry(music + names[i], music + name);
    mover->Move(music + name, temp + u"/");
    mover->Move(temp + u"/" + name, music);
    shuffled.push_back(std::move(name));
  }
  platform.RemoveFolder(temp);
  return shuffled;
}

NamesResult MeasureNamesFile(const std::string& root, const Programs& programs,
                             int count, int runs) {
  GameFolder game(root, programs.shuffler);
  const auto refill = [&] {
    game.Refill(count);
    for (int i = 0; i < count; ++i) {
      fs::resize_file(game.Music() + SampleName(i),
                      3000000 + static_cast<uint64_t>(i) * 7919 % 9000000);
    }
  };
  std::vector<sh::Text> names;
  for (int i = 0; i < count; ++i) {
    const std::string name = SampleName(i);
    names.emplace_back(name.begin(), name.end());
  }
  const sh::Text music(game.Music().begin(), game.Music().end());
  // In the game folder, next to "mp3/", as a run keeps it.
  const sh::Text file = music.substr(0, music.size() - 4) + u"Shuffler.names";
  const char* const kSteps[] = {"facts of every entry (FactsOf)",
                                "records made (RecordNew)",
                                "bytes made (Bytes)",
                                "written durably (ReplaceWholeFile)",
                                "read back (ReadWholeFile)",
                                "parsed (Parse)",
                                "matched after a shuffle (Match)"};
  std::vector<std::vector<double>> times(std::size(kSteps));
  std::vector<double> plain_times, first_times, later_times;
  NamesResult result;
  result.runs = runs;
  result.count = count;
  using Clock = std::chrono::steady_clock;
  for (int run = -1; run < runs; ++run) {
    auto start = Clock::now();
    const auto since = [&] {
      const auto now = Clock::now();
      const double seconds = std::chrono::duration<double>(now - start).count();
      start = now;
      return seconds;
    };
    // Which of the two goes first alternates, so that neither always
    // follows the other.
    double plain = 0;
    const auto shuffle_alone = [&] {
      refill();
      start = Clock::now();
      PlatformShuffle(*sh::CreateSystemPlatform(0, nullptr), music, names);
      plain = since();
    };
    if (run % 2 == 0) shuffle_alone();

    refill();
    const std::unique_ptr<sh::Platform> platform =
        sh::CreateSystemPlatform(0, nullptr);
    std::vector<double> step;
    start = Clock::now();
    std::vector<sh::PresentEntry> entries =
        sh::LookAtEntries(*platform, music, names);
    step.push_back(since());
    sh::OwnNames own;
    if (own.RecordNew(entries) != entries.size()) Fail("records missing");
    step.push_back(since());
    const std::string bytes = own.Bytes();
    step.push_back(since());
    platform->ReplaceWholeFile(file, bytes);
    step.push_back(since());
    const std::vector<sh::Text> shuffled =
        PlatformShuffle(*platform, music, names);
    const double shuffle = since();
    const double first = step[0] + step[1] + step[2] + step[3] + shuffle;

    const std::string read = platform->ReadWholeFile(file);
    step.push_back(since());
    const sh::OwnNames parsed = sh::OwnNames::Parse(read);
    step.push_back(since());
    for (size_t i = 0; i < entries.size(); ++i)
      entries[i].name = shuffled[i];
    start = Clock::now();
    const std::vector<size_t> matches = parsed.Match(entries);
    step.push_back(since());
    for (size_t i = 0; i < matches.size(); ++i) {
      if (matches[i] != i) Fail("an entry was not found after a shuffle");
    }
    result.bytes = bytes.size();
    if (run % 2 != 0) shuffle_alone();
    if (run < 0) continue;
    plain_times.push_back(plain);
    first_times.push_back(first / plain);
    later_times.push_back((step[0] + shuffle + step[4] + step[5] + step[6]) /
                          plain);
    for (size_t i = 0; i < step.size(); ++i)
      times[i].push_back(step[i]);
    std::fprintf(stderr,
                 "  names run %d/%d: shuffle alone %.1f ms; facts %.1f ms, "
                 "then the shuffle %.1f ms\n",
                 run + 1, runs, plain * 1e3, step[0] * 1e3, shuffle * 1e3);
  }
  for (size_t i = 0; i < times.size(); ++i)
    result.steps.emplace_back(kSteps[i], Median(times[i]));

  // The whole program: "/UNIQUE" alone, then with "/KEEPNAMES", each twice
  // on a fresh folder: a first run (which with "/KEEPNAMES" records every
  // entry) and a later one (which finds every entry recorded and writes
  // nothing), on a folder shuffled once already, which is slower to change.
  const std::string kept =
      game.Music().substr(0, game.Music().size() - 4) + "Shuffler.names";
  const std::vector<std::string> unique = {"/NOLAUNCH", "/UNIQUE"},
                                 keep = {"/NOLAUNCH", "/UNIQUE", "/KEEPNAMES"};
  std::vector<double> whole, whole_first, whole_later;
  for (int run = -1; run < runs; ++run) {
    refill();
    const double alone = RunShuffler(programs, game, unique).seconds;
    const double again = RunShuffler(programs, game, unique).seconds;
    refill();
    fs::remove(kept);
    const ProcessRun first = RunShuffler(programs, game, keep);
    const std::uintmax_t recorded = fs::file_size(kept);
    const ProcessRun later = RunShuffler(programs, game, keep);
    CheckShuffled(game.Music(), count, "Shuffler /KEEPNAMES");
    if (fs::file_size(kept) != recorded) Fail("a later run added records");
    if (run < 0) continue;
    whole.push_back(alone);
    whole_first.push_back(first.seconds / alone);
    whole_later.push_back(later.seconds / again);
    result.whole_peak_kib =
        std::max({result.whole_peak_kib, first.peak_kib, later.peak_kib});
    std::fprintf(stderr,
                 "  whole run %d/%d: /UNIQUE %.1f ms, later %.1f ms; with "
                 "/KEEPNAMES %.1f ms, later %.1f ms\n",
                 run + 1, runs, alone * 1e3, again * 1e3, first.seconds * 1e3,
                 later.seconds * 1e3);
  }
  result.whole = Median(whole);
  result.whole_first = Median(whole_first);
  result.whole_later = Median(whole_later);
  result.plain = Median(plain_times);
  result.first = Median(first_times);
  result.later = Median(later_times);
  return result;
}

void PrintNamesReport(const NamesResult& names) {
  std::printf(
      "\n| \"/KEEPNAMES\" steps, %d entries (%d runs) | median |\n"
      "|---|---:|\n",
      names.count, names.runs);
  for (const auto& [step, seconds] : names.steps) {
    std::printf("| %s | %.2f ms |\n", step, seconds * 1e3);
  }
  std::printf(
      "\nShuffler.names: %zu bytes (%.2f MiB), %.1f bytes an entry.\n"
      "A shuffle through the platform: %.1f ms alone; with the steps of a "
      "first \"/KEEPNAMES\" run %+.1f %%, of a later one %+.1f %% (medians "
      "of the runs' ratios).\n",
      names.bytes, static_cast<double>(names.bytes) / (1 << 20),
      static_cast<double>(names.bytes) / names.count, names.plain * 1e3,
      (names.first - 1) * 100, (names.later - 1) * 100);
  std::printf(
      "The whole program with \"/UNIQUE\": %.1f ms; with \"/KEEPNAMES\" "
      "too, a first run %+.1f %%, a later one %+.1f %% (medians of the "
      "runs' ratios); peak RSS %.1f MiB.\n",
      names.whole * 1e3, (names.whole_first - 1) * 100,
      (names.whole_later - 1) * 100,
      static_cast<double>(names.whole_peak_kib) / 1024);
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
        s.count, s.pairs, s.a_median * 1e3, s.b_median * 1e3, s.ratio_median,
        s.ratio_min, s.ratio_max, s.count / s.a_median, s.count / s.b_median,
        s.a_median * 1e6 / s.count, s.b_median * 1e6 / s.count,
        static_cast<double>(s.peak_kib) / 1024);
  }
  std::printf(
      "\nA and B: medians over the pairs; A/B: median of the pairs' ratios.\n");
  if (sizes.size() >= 2) {
    const SizeResult& first = sizes.front();
    const SizeResult& last = sizes.back();
    const auto growth = [&](double first_time, double last_time) {
      return (last_time / last.count) / (first_time / first.count);
    };
    std::printf("Per-entry time at N=%d over N=%d: A %.3f, B %.3f\n",
                last.count, first.count, growth(first.a_median, last.a_median),
                growth(first.b_median, last.b_median));
  }
  if (startup.runs == 0) return;
  std::printf(
      "\n| empty music folder (%d runs) | median | min | peak RSS |\n"
      "|---|---:|---:|---:|\n"
      "| Shuffler /NOLAUNCH, whole process | %.2f ms | %.2f ms | %.1f MiB |\n"
      "| /bin/true, whole process | %.2f ms | %.2f ms | %.1f MiB |\n",
      startup.runs, startup.shuffler_median * 1e3, startup.shuffler_min * 1e3,
      static_cast<double>(startup.shuffler_peak_kib) / 1024,
      startup.true_median * 1e3, startup.true_min * 1e3,
      static_cast<double>(startup.true_peak_kib) / 1024);
}

// ---------------------------------------------------------------- options

struct Options {
  std::string program = SHUFFLER_PROGRAM_PATH;
  std::vector<int> sizes = {1000, 10000, 32767};
  std::vector<int> pairs = {31, 21, 17};
  int startup_runs = 200;
  int names_runs = 15;        // of the names file's work at 32,767 entries
  std::string folder;         // where the work folder is made; empty: temp
  bool plain_rename = false;  // B renames with rename(), not renameat2
};

std::vector<int> ParseList(const std::string& text) {
  std::vector<int> values;
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, ',');) {
    values.push_back(std::stoi(item));
  }
  return values;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    const auto value = [&](std::string_view key) -> const char* {
      return argument.substr(0, key.size()) == key ? argv[i] + key.size()
                                                   : nullptr;
    };
    if (const char* v = value("--program=")) {
      options.program = v;
    } else if (const char* s = value("--sizes=")) {
      options.sizes = ParseList(s);
    } else if (const char* p = value("--pairs=")) {
      options.pairs = ParseList(p);
    } else if (const char* r = value("--startup-runs=")) {
      options.startup_runs = std::stoi(r);
    } else if (const char* n = value("--names-runs=")) {
      options.names_runs = std::stoi(n);
    } else if (const char* f = value("--folder=")) {
      options.folder = f;
    } else if (argument == "--bare=rename") {
      options.plain_rename = true;
    } else if (argument == "--bare=noreplace") {
      options.plain_rename = false;
    } else {
      Fail(
          "usage: shuffler_bench [--program=PATH] [--sizes=N,N,...] "
          "[--pairs=P,P,...] [--startup-runs=R] [--names-runs=R] "
          "[--folder=PATH] "
          "[--bare=noreplace|rename]");
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
  if (options.startup_runs < 0 || options.names_runs < 0) {
    Fail("--startup-runs and --names-runs must be 0 or more");
  }
  return options;
}

// A new folder in `base`, or in the system's temporary directory.
fs::path MakeWorkFolder(const std::string& base_folder,
                        std::mt19937_64& random) {
  const fs::path base =
      base_folder.empty() ? fs::temp_directory_path() : fs::path(base_folder);
  fs::path folder;
  do {
    folder = base / ("shuffler-bench-" + std::to_string(random()));
  } while (!fs::create_directory(folder));
  return folder;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path root;
  try {
    const Options options = ParseOptions(argc, argv);
    std::mt19937_64 random(std::random_device{}());
    root = MakeWorkFolder(options.folder, random);
    const Programs programs = {options.program, SHUFFLER_LAUNCHER_PATH,
                               (root / "output.txt").string(),
                               (root / "launcher.txt").string()};
    const int processor = bench::StayOnThisProcessor();
    std::fprintf(stderr, "shuffler_bench: %s in %s, on processor %d\n",
                 options.program.c_str(), root.c_str(), processor);

    std::vector<SizeResult> sizes;
    for (size_t i = 0; i < options.sizes.size(); ++i) {
      sizes.push_back(MeasureSize(root.string(), programs, options.sizes[i],
                                  options.pairs[i], options.plain_rename,
                                  random));
    }
    StartupResult startup;
    if (options.startup_runs > 0) {
      startup = MeasureStartup(root.string(), programs, options.startup_runs);
    }
    std::printf(
        "\nB renames with %s, in %s.\n",
        options.plain_rename ? "plain rename()" : "renameat2(RENAME_NOREPLACE)",
        root.c_str());
    PrintReport(sizes, startup);
    if (options.names_runs > 0) {
      PrintNamesReport(
          MeasureNamesFile(root.string(), programs, 32767, options.names_runs));
    }
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
