// Helpers for the Windows tests: real files, folders and processes, reached
// without the platform layer under test, so that the tests can set up and
// check what it does independently. This header includes no OS header.
// Every helper throws std::runtime_error when the system refuses.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace shuffler::win32_testing {

/// A fresh, empty folder inside the system's temporary folder; removed with
/// everything in it on destruction.
class TempFolder {
 public:
  TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder();

  /// Its full path, without a trailing separator.
  const Text& path() const { return path_; }

 private:
  Text path_;
};

/// `path` made absolute against the current folder, as Windows resolves it.
Text FullPath(const Text& path);

/// Creates one folder.
void CreateFolder(const Text& path);
/// Creates or overwrites the file `path` with exactly `bytes`.
void WriteBytes(const Text& path, std::string_view bytes);
/// The content of the file `path`, or nothing when it cannot be read. The
/// file may be open for writing elsewhere.
std::optional<std::string> ReadBytes(const Text& path);
/// Copies a file, failing when the target exists.
void CopyFileTo(const Text& from, const Text& to);

/// True when a file or folder `path` exists.
bool Exists(const Text& path);
/// True when `path` is an existing folder.
bool IsFolder(const Text& path);
/// Adds the hidden attribute to `path`.
void MarkHidden(const Text& path);
/// Adds the system attribute to `path`.
void MarkSystem(const Text& path);
/// Every entry of `folder` (hidden and system ones too, "." and ".." not),
/// sorted.
std::vector<Text> EntriesOf(const Text& folder);
/// Removes `path` and everything in it; waits a little for files that a
/// finishing process still holds.
void RemoveTree(const Text& path);

/// This process's command line, as Windows gives it.
Text OwnCommandLine();
/// The system's ANSI code page.
unsigned AnsiCodePage();

/// How a program run by RunAndWait ended.
struct RunResult {
  bool finished = false;        ///< false: still running at the time limit
  unsigned long exit_code = 0;  ///< valid when finished
};
/// Starts `program` with `command_line` and waits for it to end, at most
/// `timeout_ms` milliseconds (it is killed then).
RunResult RunAndWait(const Text& program, const Text& command_line,
                     unsigned timeout_ms);
/// Waits until the file `path` exists, at most `timeout_ms` milliseconds.
bool WaitForFile(const Text& path, unsigned timeout_ms);

}  // namespace shuffler::win32_testing
