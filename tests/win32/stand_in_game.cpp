// A stand-in for a game, for the tests that start one: writes how it was
// started into "started.txt" next to itself and exits. The file holds five
// lines: "show=" the show command and "flags=" the flags of its startup
// information, then in UTF-8 "command=" its command line, "folder=" its
// working folder and "path=" its own path. It is written under another name
// first, so that it appears complete.
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(),
                                       static_cast<int>(wide.size()), nullptr,
                                       0, nullptr, nullptr);
  std::string bytes(size > 0 ? size : 0, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                      bytes.data(), size, nullptr, nullptr);
  return bytes;
}

std::wstring OwnPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(),
                                            static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring WorkingFolder() {
  std::wstring folder(GetCurrentDirectoryW(0, nullptr), L'\0');
  folder.resize(
      GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
  return folder;
}

std::wstring OwnFolder() {
  std::wstring path = OwnPath();
  path.resize(path.rfind(L'\\'));
  if (path.size() >= MAX_PATH - 20 && path.rfind(L"\\\\?\\", 0) != 0) {
    path = L"\\\\?\\" + path;
  }
  return path;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/,
                    PWSTR /*command_line*/, int /*show*/) {
  STARTUPINFOW startup;
  GetStartupInfoW(&startup);
  const std::string report = "show=" + std::to_string(startup.wShowWindow) +
                             "\r\n" +
                             "flags=" + std::to_string(startup.dwFlags) +
                             "\r\n" + "command=" + Utf8(GetCommandLineW()) +
                             "\r\n" + "folder=" + Utf8(WorkingFolder()) +
                             "\r\n" + "path=" + Utf8(OwnPath()) + "\r\n";

  const std::wstring folder = OwnFolder();
  const std::wstring partial = folder + L"\\started.partial";
  const HANDLE file =
      CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  const BOOL ok =
      WriteFile(file, report.data(), static_cast<DWORD>(report.size()),
                &written, nullptr);
  CloseHandle(file);
  if (!ok || written != report.size()) return 3;
  return MoveFileExW(partial.c_str(), (folder + L"\\started.txt").c_str(), 0)
             ? 0
             : 4;
}
