// The bench's launcher: runs one program as a whole process and reports how
// long it took and its peak resident memory.
//
//   shuffler_bench_launcher OUTPUT PROGRAM [ARGUMENT...]
//
// The program's standard output and error go to the file OUTPUT. The
// launcher prints "<nanoseconds> <peak KiB> <exit status>" on its own
// standard output: the time from the spawn to the end of wait4, and wait4's
// ru_maxrss of the child.
//
// Why a separate, statically linked program: on Linux a child's ru_maxrss
// also counts the peak of the memory it was spawned from (the parent's, up
// to its exec). Spawned by the bench itself, Shuffler would be charged with
// the bench's folder lists. Spawned from this small program, the floor under
// the figure is only this program's own few hundred KiB.
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace {

long long Nanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s OUTPUT PROGRAM [ARGUMENT...]\n", argv[0]);
    return 2;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, argv[1],
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);

  const long long start = Nanoseconds();
  pid_t child = 0;
  const int error =
      posix_spawn(&child, argv[2], &actions, nullptr, argv + 2, environ);
  if (error != 0) {
    fprintf(stderr, "%s: cannot start %s (error %d)\n", argv[0], argv[2],
            error);
    return 2;
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) {
    perror("wait4");
    return 2;
  }
  const long long elapsed = Nanoseconds() - start;
  const int exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  printf("%lld %ld %d\n", elapsed, usage.ru_maxrss, exit_status);
  return 0;
}
