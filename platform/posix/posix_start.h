// Starting a program on POSIX systems, in its own folder and with its
// arguments split as Windows splits a command line, and finding the file
// this program runs from. This header includes no OS header.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace shuffler::posix {

/// What tells one file from every other: its device and inode, the same
/// whatever name or link reaches it.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

/// The name of the entry of the folder `folder` (a path to open) that a
/// start may take for `name`, whose name differs from it only in ASCII
/// letter case; empty when there is none. Of several, the first that
/// `preferred` holds for, when it holds for any.
using FindInAnyCase = std::function<Text(
    const std::string& folder, const Text& name,
    const std::function<bool(const Text& found)>& preferred)>;

/// The file a start of `program` starts.
struct ProgramFile {
  std::string path;  ///< `program`, or the name its folder holds it by
  FileIdentity identity;
  bool folder = false;  ///< it is a folder, which cannot be started
};

class OwnProgram;

/// The file a start of `program` starts, links followed: `program` itself,
/// or, where it is missing, the file of its folder that `find_in_any_case`
/// finds, one that is not `own` when there is one. Fails when there is none
/// or it cannot be looked at.
ProgramFile ProgramFileOf(const Text& program,
                          const FindInAnyCase& find_in_any_case,
                          const OwnProgram& own);

/// The file this program runs from, found when it starts.
class OwnProgram {
 public:
  /// Finds it before anything changes the working folder, from the path the
  /// system started it by, its name `argv0` (null when none) and
  /// /proc/self/exe; and takes the mark of a start by Shuffler out of the
  /// environment.
  explicit OwnProgram(const char* argv0);

  /// The path the program was started by, in a folder without symbolic
  /// links. Started through a symbolic link, that is the link, not its
  /// target: the program belongs to the folder it was started from, as on
  /// Windows, and finds its music next to the link. Fails with
  /// `kOwnFolderUnknown` when no path is known for certain to name this
  /// program's file.
  std::string Path() const;
  /// True when `identity` is that of the file this process runs; false
  /// when that file is not known.
  bool Is(const FileIdentity& identity) const;
  /// True when the program a Shuffler started, as its mark named it, is
  /// this program's file.
  bool StartedByItself() const { return started_by_itself_; }

 private:
  bool identity_known_ = false;
  FileIdentity identity_;
  std::string path_;  // empty when unknown
  int error_ = 0;     // why it is unknown
  bool started_by_itself_ = false;
};

/// Starts the program file `path` with `arguments` in the folder that holds
/// it, and returns at once, without waiting for it. Its environment is this
/// program's, with the mark that Shuffler started it, which names `path`.
/// Fails when it cannot be started.
void StartProgram(const std::string& path, const Text& arguments);

}  // namespace shuffler::posix
