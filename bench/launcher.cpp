// The benchmark's launcher: runs one program as a whole process and reports
// how long it took and its peak resident memory.
//
//   shuffler_bench_launcher OUTPUT PROGRAM [ARGUMENT...]
//
// The program's standard output and error go to the file OUTPUT. The
// launcher prints "<nanoseconds> <peak KiB> <exit status>" on its own
// standard output and ends with 0, or with 2 when the program could not be
// run.
//
// Why a separate, small, statically linked program: a child's peak memory
// as the system reports it also counts the peak of the process it was
// spawned from. Spawned by the benchmark itself, Shuffler would be charged
// with the benchmark's own folder lists; spawned from here, the floor under
// the figure is this launcher's own few hundred KiB.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "bench/bench_system.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUTPUT PROGRAM [ARGUMENT...]\n", argv[0]);
    return 2;
  }
  try {
    const std::vector<std::string> program(argv + 2, argv + argc);
    const shuffler::bench::ChildFigures figures =
        shuffler::bench::RunChild(program, argv[1]);
    std::printf("%lld %lld %d\n", static_cast<long long>(figures.nanoseconds),
                static_cast<long long>(figures.peak_kib), figures.exit_status);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", argv[0], error.what());
    return 2;
  }
}
