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

// Paths from this length on may not fit the classic limit: a folder's path
// must leave room for an 8.3 name within MAX_PATH.
constexpr size_t kLongPath = MAX_PATH - 12;

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::wstring SystemPath(TextView path) {
  std::wstring wide = ToWide(path);
  if (wide.size() < kLongPath || StartsWith(wide, L"\\\\?\\") ||
      StartsWith(wide, L"\\\\.\\") || StartsWith(wide, L"\\??\\")) {
    return wide;
  }
  // Resolve the path as Windows would resolve a short one (current folder,
  // "." and "..", "/"), since the extended form is taken literally.
  std::wstring full(wide.size() + MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetFullPathNameW(
        wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return wide;
    if (length < full.size()) {
      full.resize(length);
      break;
    }
    full.resize(length + 1);
  }
  if (StartsWith(full, L"\\\\?\\") || StartsWith(full, L"\\\\.\\")) {
    return full;
  }
  if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') {
    return L"\\\\?\\" + full;
  }
  return wide;
}

int32_t FailureNumberOf(unsigned long error, Operation operation) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return kFileNotFound;
    case ERROR_PATH_NOT_FOUND:
      return kPathNotFound;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return operation == Operation::kMakeFolder ? kPathFileAccessError
                                                 : kFileAlreadyExists;
    case ERROR_ACCESS_DENIED:
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
