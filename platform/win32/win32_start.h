// Starting a program on Windows: maximised, in its own folder, and through
// the shell, with its elevation prompt, when the program asks to run as
// administrator. This header includes no OS header.
#pragma once

#include <functional>
#include <string>

#include "platform/platform.h"

namespace shuffler::win32 {

/// A program to start, in the forms the Windows API takes.
struct ProgramStart {
  /// The program's path for CreateProcessW: its short form when the path
  /// is too long for the classic limit.
  std::wstring application;
  std::wstring command_line;  ///< its quoted path, then its arguments
  std::wstring file;          ///< the program's path, for the shell
  std::wstring parameters;    ///< its arguments alone
  /// The folder it starts in: its own. Empty when that folder's path is too
  /// long to be a working folder even in its short form; the program then
  /// starts in Shuffler's.
  std::wstring folder;
};

/// How `program` is started with `arguments`.
ProgramStart ProgramStartOf(TextView program, TextView arguments);

/// The two ways of starting a program; each returns 0 when the program
/// started, else the Windows error code.
struct ProgramStarter {
  /// A process of its own, maximised (CreateProcessW).
  std::function<unsigned long(const ProgramStart&)> create_process;
  /// The shell's "open", maximised (ShellExecuteExW).
  std::function<unsigned long(const ProgramStart&)> shell_open;
};

/// The starter that calls Windows.
ProgramStarter SystemProgramStarter();

/// Starts `start` as its own process, or through the shell when Windows
/// answers that the program needs elevation; throws `Failure` when neither
/// starts it. A prompt the user declines is `kPermissionDenied`.
void StartProgram(const ProgramStart& start, const ProgramStarter& starter);

/// Takes the mark that Shuffler started this program out of its
/// environment: the program it names, or empty text when there is none. A
/// Shuffler that finds its own file named there was started by a Shuffler.
Text TakeStartMark();

/// Marks the environment that the programs this process starts inherit,
/// for as long as it lives: Shuffler started `program`.
class StartMark {
 public:
  explicit StartMark(TextView program);
  StartMark(const StartMark&) = delete;
  StartMark& operator=(const StartMark&) = delete;
  ~StartMark();
};

}  // namespace shuffler::win32
