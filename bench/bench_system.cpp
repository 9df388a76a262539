#include "bench/bench_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <stdexcept>

extern char** environ;

namespace shuffler::bench {

namespace {

[[noreturn]] void Fail(const std::string& what, int error) {
  throw std::runtime_error(what + ": " + std::strerror(error));
}

int64_t MonotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

bool IsLink(const char* name) {
  return name[0] == '.' &&
         (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

int DecimalDigits(size_t count) {
  int digits = 1;
  for (; count >= 10; count /= 10)
    ++digits;
  return digits;
}

}  // namespace

ChildFigures RunChild(const std::vector<std::string>& argv,
                      const std::string& output) {
  std::vector<std::string> words = argv;
  std::vector<char*> pointers;
  for (std::string& word : words)
    pointers.push_back(word.data());
  pointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);

  const int64_t start = MonotonicNanoseconds();
  pid_t child = 0;
  const int error = posix_spawn(&child, pointers[0], &actions, nullptr,
                                pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) Fail("cannot start " + argv[0], error);
  int status = 0;
  rusage usage{};
  while (wait4(child, &status, 0, &usage) != child) {
    if (errno != EINTR) Fail("wait4", errno);
  }
  ChildFigures figures;
  figures.nanoseconds = MonotonicNanoseconds() - start;
  figures.peak_kib = usage.ru_maxrss;
  figures.exit_status =
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return figures;
}

double BareShuffle(const std::string& music, uint64_t seed, bool plain_rename) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();

  // The count pass, then the collect pass.
  size_t count = 0;
  DIR* dir = opendir(music.c_str());
  if (dir == nullptr) Fail("opendir " + music, errno);
  while (const dirent* entry = readdir(dir)) {
    if (!IsLink(entry->d_name)) ++count;
  }
  closedir(dir);
  std::vector<std::string> names;
  names.reserve(count);
  dir = opendir(music.c_str());
  if (dir == nullptr) Fail("opendir " + music, errno);
  while (const dirent* entry = readdir(dir)) {
    if (!IsLink(entry->d_name)) names.emplace_back(entry->d_name);
  }
  closedir(dir);

  const std::string temp_folder = music + "temp";
  const std::string into_temp = temp_folder + "/";
  if (mkdir(temp_folder.c_str(), 0777) != 0)
    Fail("mkdir " + temp_folder, errno);

  std::mt19937_64 random(seed);
  std::vector<uint32_t> order(names.size());
  for (uint32_t i = 0; i < order.size(); ++i)
    order[i] = i;
  std::shuffle(order.begin(), order.end(), random);
  std::uniform_int_distribution<size_t> number(1, std::max<size_t>(count, 1));
  const int digits = DecimalDigits(count);

  std::string old_path = music, new_path = music, temp_path = into_temp;
  char prefix[32];
  for (const uint32_t index : order) {
    const std::string& name = names[index];
    const size_t dash = name.find('-');
    const char* bare =
        name.c_str() + (dash == std::string::npos ? 0 : dash + 1);
    const int length =
        snprintf(prefix, sizeof prefix, "%0*zu-", digits, number(random));
    old_path.resize(music.size());
    old_path += name;
    new_path.resize(music.size());
    new_path.append(prefix, static_cast<size_t>(length)).append(bare);
    temp_path.resize(into_temp.size());
    temp_path.append(prefix, static_cast<size_t>(length)).append(bare);

    const unsigned flags = plain_rename ? 0 : RENAME_NOREPLACE;
    if (renameat2(AT_FDCWD, old_path.c_str(), AT_FDCWD, new_path.c_str(),
                  flags) != 0 ||
        renameat2(AT_FDCWD, new_path.c_str(), AT_FDCWD, temp_path.c_str(),
                  flags) != 0 ||
        renameat2(AT_FDCWD, temp_path.c_str(), AT_FDCWD, new_path.c_str(),
                  flags) != 0) {
      Fail("rename " + old_path, errno);
    }
  }
  if (rmdir(temp_folder.c_str()) != 0) Fail("rmdir " + temp_folder, errno);

  return std::chrono::duration<double>(Clock::now() - start).count();
}

void SyncFileSystem(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) Fail("open " + path, errno);
  syncfs(fd);
  close(fd);
}

int StayOnThisProcessor() {
  const int processor = sched_getcpu();
  if (processor < 0) Fail("sched_getcpu", errno);
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(processor, &set);
  if (sched_setaffinity(0, sizeof set, &set) != 0) {
    Fail("sched_setaffinity", errno);
  }
  return processor;
}

}  // namespace shuffler::bench
