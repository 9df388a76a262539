#include "tests/win32/win32_testing.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <stdexcept>

#include "platform/win32/win32_rules.h"

namespace shuffler::win32_testing {
namespace {

using win32::FromWide;
using win32::SystemPath;
using win32::ToWide;

[[noreturn]] void Fail(const char* what, const Text& path) {
  std::string message = what;
  message += " failed (error ";
  message += std::to_string(GetLastError());
  message += ") for ";
  for (const char16_t c : path) {
    message.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  throw std::runtime_error(message);
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

DWORD AttributesOf(const Text& path) {
  return GetFileAttributesW(SystemPath(path).c_str());
}

void AddAttribute(const Text& path, DWORD attribute) {
  const DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      !SetFileAttributesW(SystemPath(path).c_str(), attributes | attribute)) {
    Fail("SetFileAttributesW", path);
  }
}

// Removes a tree once; false when something could not be removed.
bool RemoveTreeOnce(const Text& path) {
  const DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  SetFileAttributesW(SystemPath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return DeleteFileW(SystemPath(path).c_str());
  }
  bool removed = true;
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    for (const Text& name : EntriesOf(path)) {
      removed = RemoveTreeOnce(path + u"\\" + name) && removed;
    }
  }
  return RemoveDirectoryW(SystemPath(path).c_str()) && removed;
}

}  // namespace

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) Fail("GetTempPathW", Text());
  Text base = FromWide(std::wstring_view(temp, length));
  if (!base.empty() && base.back() == u'\\') base.pop_back();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string unique = std::to_string(GetCurrentProcessId()) + "-" +
                               std::to_string(GetTickCount64()) + "-" +
                               std::to_string(counter++);
    path_ = base + u"\\shuffler-test-" + Text(unique.begin(), unique.end());
    if (CreateDirectoryW(SystemPath(path_).c_str(), nullptr)) return;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  Fail("CreateDirectoryW", path_);
}

TempFolder::~TempFolder() {
  try {
    RemoveTree(path_);
  } catch (const std::exception&) {
    // Left behind in the temporary folder; nothing else to do.
  }
}

Text FullPath(const Text& path) {
  const std::wstring wide = ToWide(path);
  std::wstring full(wide.size() + MAX_PATH, L'\0');
  const DWORD length = GetFullPathNameW(
      wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length == 0 || length >= full.size()) Fail("GetFullPathNameW", path);
  full.resize(length);
  return FromWide(full);
}

void CreateFolder(const Text& path) {
  if (!CreateDirectoryW(SystemPath(path).c_str(), nullptr)) {
    Fail("CreateDirectoryW", path);
  }
}

void WriteBytes(const Text& path, std::string_view bytes) {
  const Handle file(CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE, 0,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
  if (!file.valid()) Fail("CreateFileW", path);
  DWORD written = 0;
  if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                 &written, nullptr) ||
      written != bytes.size()) {
    Fail("WriteFile", path);
  }
}

std::optional<std::string> ReadBytes(const Text& path) {
  const Handle file(
      CreateFileW(SystemPath(path).c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return std::nullopt;
  std::string bytes;
  char block[4096];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), block, sizeof block, &read, nullptr)) {
      return std::nullopt;
    }
    if (read == 0) return bytes;
    bytes.append(block, read);
  }
}

void CopyFileTo(const Text& from, const Text& to) {
  if (!CopyFileW(SystemPath(from).c_str(), SystemPath(to).c_str(), TRUE)) {
    Fail("CopyFileW", from);
  }
}

bool Exists(const Text& path) {
  return AttributesOf(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const Text& path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void MarkHidden(const Text& path) {
  AddAttribute(path, FILE_ATTRIBUTE_HIDDEN);
}

void MarkSystem(const Text& path) {
  AddAttribute(path, FILE_ATTRIBUTE_SYSTEM);
}

std::vector<Text> EntriesOf(const Text& folder) {
  std::vector<Text> names;
  WIN32_FIND_DATAW found;
  const HANDLE search =
      FindFirstFileW(SystemPath(folder + u"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return names;
    Fail("FindFirstFileW", folder);
  }
  do {
    const Text name = FromWide(found.cFileName);
    if (name != u"." && name != u"..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

void RemoveTree(const Text& path) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (RemoveTreeOnce(path)) return;
    Sleep(100);
  }
  Fail("RemoveTree", path);
}

Text OwnCommandLine() {
  return FromWide(GetCommandLineW());
}

unsigned AnsiCodePage() {
  return GetACP();
}

RunResult RunAndWait(const Text& program, const Text& command_line,
                     unsigned timeout_ms) {
  const std::wstring application = SystemPath(program);
  std::wstring arguments = ToWide(command_line);
  STARTUPINFOW startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started;
  std::memset(&started, 0, sizeof started);
  if (!CreateProcessW(application.c_str(), arguments.data(), nullptr, nullptr,
                      FALSE, 0, nullptr, nullptr, &startup, &started)) {
    Fail("CreateProcessW", program);
  }
  const Handle process(started.hProcess);
  const Handle thread(started.hThread);
  RunResult result;
  if (WaitForSingleObject(process.get(), timeout_ms) != WAIT_OBJECT_0) {
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 5000);
    return result;
  }
  DWORD exit_code = 0;
  GetExitCodeProcess(process.get(), &exit_code);
  result.finished = true;
  result.exit_code = exit_code;
  return result;
}

bool WaitForFile(const Text& path, unsigned timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  while (!Exists(path)) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(20);
  }
  return true;
}

}  // namespace shuffler::win32_testing
