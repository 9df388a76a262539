#include "platform/win32/win32_rules.h"

#include <windows.h>

namespace shuffler::win32 {

std::wstring ToWide(TextView text) {
  return std::wstring(text.begin(), text.end());
}

Text FromWide(std::wstring_view text) {
  return Text(text.begin(), text.end());
}

Text ArgumentTextOf(TextView command_line) {
  const auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
  size_t i = 0;
  if (!command_line.empty() && command_line[0] == u'"') {
    const size_t closing = command_line.find(u'"', 1);
    i = closing == TextView::npos ? command_line.size() : closing + 1;
  } else {
    while (i < command_line.size() && !blank(command_line[i]))
      ++i;
  }
  while (i < command_line.size() && blank(command_line[i]))
    ++i;
  return Text(command_line.substr(i));
}

namespace {

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

bool IsDriveLetter(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool IsDeviceForm(std::wstring_view path) {
  return StartsWith(path, L"\\\\?\\") || StartsWith(path, L"\\\\.\\") ||
         StartsWith(path, L"\\??\\");
}

// The length of the root of a fully qualified classic path: 2 for "X:\...",
// the length of "\\server\share" for a network path; 0 for any other path.
size_t RootLength(std::wstring_view path) {
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' &&
      IsSeparator(path[2])) {
    return 2;
  }
  if (path.size() < 3 || !IsSeparator(path[0]) || !IsSeparator(path[1])) {
    return 0;
  }
  size_t server_end = 2;
  while (server_end < path.size() && !IsSeparator(path[server_end]))
    ++server_end;
  if (server_end == 2 || server_end + 1 >= path.size()) return 0;
  size_t share_end = server_end + 1;
  while (share_end < path.size() && !IsSeparator(path[share_end]))
    ++share_end;
  return share_end == server_end + 1 ? 0 : share_end;
}

// The full path Windows gives `path`; empty when it cannot.
std::wstring FullPathOf(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetFullPathNameW(
        path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return std::wstring();
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length + 1);
  }
}

// `path` fully qualified in the classic form, its names untouched: only the
// folder it is relative to, if any, comes from the system. Empty when that
// folder cannot be found.
std::wstring Qualified(const std::wstring& path) {
  if (RootLength(path) > 0) return path;
  // A network path without its share names no folder.
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    return std::wstring();
  }
  // Relative to the current folder of a drive ("X:name"), to the root of
  // the current drive ("\name"), or to the current folder.
  std::wstring anchor = L".";
  size_t taken = 0;
  if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == L':') {
    anchor = path.substr(0, 2);
    taken = 2;
  } else if (!path.empty() && IsSeparator(path[0])) {
    anchor = L"\\";
    taken = 1;
  }
  std::wstring base = FullPathOf(anchor);
  if (StartsWith(base, L"\\\\?\\UNC\\")) {
    base = L"\\\\" + base.substr(8);
  } else if (StartsWith(base, L"\\\\?\\")) {
    base = base.substr(4);
  }
  if (RootLength(base) == 0) return std::wstring();
  return base + L"\\" + path.substr(taken);
}

}  // namespace

std::wstring SystemPath(TextView path) {
  const std::wstring wide = ToWide(path);
  if (IsDeviceForm(wide)) return wide;
  const std::wstring qualified = Qualified(wide);
  const size_t root = RootLength(qualified);
  if (root == 0) return wide;

  std::wstring extended = L"\\\\?\\";
  if (qualified[1] == L':') {
    extended += qualified.substr(0, root);
  } else {
    extended += L"UNC";
    for (size_t i = 1; i < root; ++i) {
      extended += IsSeparator(qualified[i]) ? L'\\' : qualified[i];
    }
  }
  // "." and ".." are resolved here, since the extended form would take
  // them as names; every other name is kept exactly, trailing dots and
  // spaces included.
  const size_t root_end = extended.size();
  size_t start = root;
  while (start < qualified.size()) {
    size_t end = start;
    while (end < qualified.size() && !IsSeparator(qualified[end]))
      ++end;
    const std::wstring_view name =
        std::wstring_view(qualified).substr(start, end - start);
    if (name == L"..") {
      const size_t cut = extended.rfind(L'\\');
      if (cut != std::wstring::npos && cut >= root_end) extended.resize(cut);
    } else if (!name.empty() && name != L".") {
      extended += L'\\';
      extended += name;
    }
    start = end + 1;
  }
  if (extended.size() == root_end || IsSeparator(qualified.back())) {
    extended += L'\\';
  }
  return extended;
}

int32_t FailureNumberFor(unsigned long error, Operation operation) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return kFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:  // a file where a folder should be
      return kPathNotFound;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return operation == Operation::kMakeFolder ? kPathFileAccessError
                                                 : kFileAlreadyExists;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return kDiskFull;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:  // a locked card or a read-only medium
      return kPermissionDenied;
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_BAD_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
    case ERROR_INVALID_EXE_SIGNATURE:
      return kInvalidArgument;  // not a program Windows can start
    case ERROR_DIR_NOT_EMPTY:
    default:
      return kPathFileAccessError;
  }
}

}  // namespace shuffler::win32
