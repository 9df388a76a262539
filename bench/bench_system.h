// What the shuffle benchmark (bench/) needs from a POSIX system: running a
// program as a whole process with its time and peak memory, the bare
// shuffle it is compared with, and writing a file system's changes to disk.
// Built into the benchmark and its launcher only, never into Shuffler.
// Failures throw std::runtime_error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace shuffler::bench {

/// How a child process went.
struct ChildFigures {
  int64_t nanoseconds = 0;  ///< from the spawn to the end of the wait
  int64_t peak_kib = 0;     ///< the child's peak resident memory
  int exit_status = 0;      ///< 128 + the signal when a signal ended it
};

/// Runs `argv[0]` with the arguments `argv` and waits for it; its standard
/// output and error go to the file `output`. The peak memory is wait4's
/// ru_maxrss, which on Linux also counts the peak of the process it was
/// spawned from up to its exec: the caller should be a small process.
ChildFigures RunChild(const std::vector<std::string>& argv,
                      const std::string& output);

/// The work a shuffle of the folder `music` (ending in '/') cannot avoid,
/// and nothing else: lists it twice (count, then collect), makes
/// "temp" in it, then for every entry in a random order renames it, never
/// replacing, to a random number zero-padded to the count's digits, "-" and
/// its name without an old number prefix, moves it into "temp" and straight
/// back, and removes "temp". Returns the seconds it took. Each rename is
/// renameat2 with RENAME_NOREPLACE, or with `plain_rename` a plain rename():
/// the floor on file systems that refuse the flag.
double BareShuffle(const std::string& music, uint64_t seed,
                   bool plain_rename = false);

/// Writes every change on the file system holding `path` to disk.
void SyncFileSystem(const std::string& path);

/// Keeps this process, and every process it starts from now on, on the
/// processor it is running on, and returns that processor's number.
int StayOnThisProcessor();

}  // namespace shuffler::bench
