#include "platform/win32/win32_start.h"

#include <windows.h>
// After <windows.h>, which they need.
#include <objbase.h>
#include <shellapi.h>

#include <cstring>

#include "platform/win32/win32_rules.h"

namespace shuffler::win32 {

namespace {

// The variable that marks a program Shuffler started: its path.
constexpr wchar_t kStartMark[] = L"SHUFFLER_LAUNCHED";

// ERROR_ELEVATION_REQUIRED, which not every SDK's headers define.
constexpr unsigned long kElevationRequired = 740;

// The longest working folder Windows takes, without the trailing separator
// it adds and the terminating null.
constexpr size_t kLongestWorkingFolder = MAX_PATH - 2;

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The short (8.3) form of the existing `path`, without the extended-path
// prefix; empty when there is none.
std::wstring ShortForm(TextView path) {
  const std::wstring system = SystemPath(path);
  std::wstring short_form(system.size() + 1, L'\0');
  for (;;) {
    const DWORD length =
        GetShortPathNameW(system.c_str(), short_form.data(),
                          static_cast<DWORD>(short_form.size()));
    if (length == 0) return std::wstring();
    if (length < short_form.size()) {
      short_form.resize(length);
      break;
    }
    short_form.resize(length + 1);
  }
  if (StartsWith(short_form, L"\\\\?\\UNC\\")) {
    return L"\\\\" + short_form.substr(8);
  }
  if (StartsWith(short_form, L"\\\\?\\")) return short_form.substr(4);
  return short_form;
}

// `path` in a form no longer than `longest` that the shell and the working
// folder accept: itself, else its short form; empty when neither fits.
std::wstring WithinLimit(TextView path, size_t longest) {
  if (path.size() <= longest) return ToWide(path);
  std::wstring short_form = ShortForm(path);
  if (short_form.empty() || short_form.size() > longest) return std::wstring();
  return short_form;
}

unsigned long CreateMaximizedProcess(const ProgramStart& start) {
  STARTUPINFOW startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWMAXIMIZED;
  PROCESS_INFORMATION started;
  std::memset(&started, 0, sizeof started);
  std::wstring command_line = start.command_line;
  if (!CreateProcessW(start.application.c_str(), command_line.data(), nullptr,
                      nullptr, FALSE, 0, nullptr,
                      start.folder.empty() ? nullptr : start.folder.c_str(),
                      &startup, &started)) {
    return GetLastError();
  }
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return 0;
}

unsigned long OpenMaximizedThroughShell(const ProgramStart& start) {
  // The shell may hand the start to extensions that need COM.
  const HRESULT com = CoInitializeEx(
      nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  SHELLEXECUTEINFOW info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  // Shuffler ends right after the start, so the shell must finish it first;
  // a failure is reported in Shuffler's own box.
  info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = start.file.c_str();
  info.lpParameters =
      start.parameters.empty() ? nullptr : start.parameters.c_str();
  info.lpDirectory = start.folder.empty() ? nullptr : start.folder.c_str();
  info.nShow = SW_SHOWMAXIMIZED;
  const unsigned long error = ShellExecuteExW(&info) ? 0 : GetLastError();
  if (SUCCEEDED(com)) CoUninitialize();
  return error;
}

}  // namespace

ProgramStart ProgramStartOf(TextView program, TextView arguments) {
  ProgramStart start;
  // Neither a process nor the shell takes a longer program path, not even
  // in the extended form; the short form is the one way to reach it.
  start.application = WithinLimit(program, MAX_PATH - 1);
  if (start.application.empty()) start.application = SystemPath(program);
  start.file = start.application;
  start.command_line = L"\"" + ToWide(program) + L"\"";
  if (!arguments.empty()) start.command_line += L" " + ToWide(arguments);
  start.parameters = ToWide(arguments);

  const size_t cut = program.find_last_of(u"\\/");
  if (cut != TextView::npos) {
    TextView folder = program.substr(0, cut);
    // A drive's root keeps its separator: "C:" alone means the current
    // folder on that drive.
    if (folder.size() == 2 && folder[1] == u':') folder = program.substr(0, 3);
    start.folder = WithinLimit(folder, kLongestWorkingFolder);
  }
  return start;
}

ProgramStarter SystemProgramStarter() {
  return {CreateMaximizedProcess, OpenMaximizedThroughShell};
}

void StartProgram(const ProgramStart& start, const ProgramStarter& starter) {
  unsigned long error = starter.create_process(start);
  // A program marked to run as administrator: only the shell can ask the
  // user to elevate it.
  if (error == kElevationRequired) error = starter.shell_open(start);
  if (error == 0) return;
  RaiseSystemFailure(
      error == ERROR_CANCELLED ? kPermissionDenied : FailureNumberFor(error),
      error, FromWide(start.file));
}

Text TakeStartMark() {
  const DWORD size = GetEnvironmentVariableW(kStartMark, nullptr, 0);
  if (size == 0) return Text();
  std::wstring mark(size, L'\0');
  mark.resize(GetEnvironmentVariableW(kStartMark, mark.data(), size));
  SetEnvironmentVariableW(kStartMark, nullptr);
  return FromWide(mark);
}

// The path is made absolute here: the program starts in another folder.
StartMark::StartMark(TextView program) {
  SetEnvironmentVariableW(kStartMark, SystemPath(program).c_str());
}

StartMark::~StartMark() {
  SetEnvironmentVariableW(kStartMark, nullptr);
}

}  // namespace shuffler::win32
