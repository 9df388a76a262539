// The Windows implementation of the platform interface. Wide-character API
// only; every path goes through SystemPath, every error through
// FailureNumberFor.
#include "platform/platform.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/win32_rules.h"
#include "platform/win32/win32_start.h"

namespace shuffler {
namespace {

using win32::FailureNumberFor;
using win32::FromWide;
using win32::Operation;
using win32::SystemPath;
using win32::ToWide;

// Raises the failure for `error` about `path`.
[[noreturn]] void RaiseError(DWORD error, const Text& path,
                             Operation operation = Operation::kOther) {
  RaiseSystemFailure(FailureNumberFor(error, operation), error, path);
}

// Raises the failure for the last error, about `path`.
[[noreturn]] void RaiseLastError(const Text& path,
                                 Operation operation = Operation::kOther) {
  RaiseError(GetLastError(), path, operation);
}

// A listing that fails with one of these simply matches nothing: the
// folder, or a folder on the way to it, is missing or is a file. A file
// listed as a folder gives ERROR_DIRECTORY, or ERROR_INVALID_NAME for a
// pattern in the extended form under Wine; a name no entry can have
// matches nothing either.
bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_NO_MORE_FILES || error == ERROR_DIRECTORY ||
         error == ERROR_INVALID_NAME;
}

// The name after the last separator.
TextView NameOf(TextView path) {
  const size_t cut = path.rfind(u'\\');
  return cut == TextView::npos ? path : path.substr(cut + 1);
}

// What tells one file or folder from every other: its volume and its index
// there, the same whatever name, letter case or link reaches it.
struct FileIdentity {
  DWORD volume = 0;
  DWORD index_high = 0;
  DWORD index_low = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the entry at the system path `path`, links followed;
// false when it cannot be opened.
bool IdentityOf(const std::wstring& path, FileIdentity& identity) {
  const HANDLE handle = CreateFileW(
      path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information;
  const bool known = GetFileInformationByHandle(handle, &information) != 0;
  CloseHandle(handle);
  if (!known) return false;
  identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh,
              information.nFileIndexLow};
  return true;
}

// The full path of the program's own file.
std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(),
                                            static_cast<DWORD>(path.size()));
    if (length == 0) RaiseLastError(Text());
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    // Truncated: try again with room to spare.
    path.resize(path.size() * 2);
  }
}

std::wstring Hex(uint64_t value) {
  std::wstring text;
  do {
    text.insert(text.begin(), L"0123456789ABCDEF"[value % 16]);
    value /= 16;
  } while (value != 0);
  return text;
}

// The name of the mutex that claims `folder` for one run, in the session's
// own namespace. It is made from the folder's identity, so that every path
// to the folder (another letter case, its short form, a link) names the
// same mutex; from its path, upper-cased and hashed, when the folder
// cannot be opened.
std::wstring ClaimName(const Text& folder) {
  FileIdentity identity;
  if (IdentityOf(SystemPath(folder), identity)) {
    return L"Local\\Shuffler-" + Hex(identity.volume) + L"-" +
           Hex((static_cast<uint64_t>(identity.index_high) << 32) |
               identity.index_low);
  }
  uint64_t hash = 0xcbf29ce484222325ULL;
  for (char16_t c : folder) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    hash = (hash ^ c) * 0x100000001b3ULL;
  }
  return L"Local\\Shuffler-path-" + Hex(hash);
}

// The music folder the run works inside, once claimed: below it no
// junction, symbolic link or other reparse point is taken for a folder.
// Windows has no call that renames relative to an open folder, so each
// folder on the way is looked at before the call that goes through it;
// what was found a folder is not looked at again until the run changes a
// folder there itself.
class WorkFolder {
 public:
  void Set(const Text& folder) {
    folder_ = folder;
    checked_.clear();
  }

  /// The error of a path that goes through a link below the work folder,
  /// or through a folder on the way that cannot be looked at; 0 when there
  /// is none.
  DWORD ErrorOnTheWay(const Text& path) {
    const size_t last = path.rfind(u'\\');
    if (!IsBelow(path) || last <= folder_.size()) return 0;
    const Text way = path.substr(0, last);
    if (way == checked_) return 0;
    for (size_t cut = path.find(u'\\', folder_.size() + 1);
         cut != Text::npos && cut <= last; cut = path.find(u'\\', cut + 1)) {
      const DWORD attributes =
          GetFileAttributesW(SystemPath(path.substr(0, cut)).c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
      if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
          (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return ERROR_PATH_NOT_FOUND;  // as for a file on the way
      }
    }
    checked_ = way;
    return 0;
  }

  /// True when the entry at `path`, below the work folder, is a reparse
  /// point.
  bool IsLinkBelow(const Text& path) const {
    if (!IsBelow(path)) return false;
    const DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  }

  /// Before a change to the folder at `path`: what was checked is looked
  /// at again.
  void Changing() { checked_.clear(); }

 private:
  bool IsBelow(const Text& path) const {
    if (folder_.empty() || path.size() <= folder_.size() + 1 ||
        path[folder_.size()] != u'\\') {
      return false;
    }
    for (size_t i = 0; i < folder_.size(); ++i) {
      char16_t a = path[i], b = folder_[i];
      if (a >= u'a' && a <= u'z') a = static_cast<char16_t>(a - u'a' + u'A');
      if (b >= u'a' && b <= u'z') b = static_cast<char16_t>(b - u'a' + u'A');
      if (a != b) return false;
    }
    return true;
  }

  Text folder_;
  Text checked_;  // the last way found to hold folders only
};

// Raises the failure of a path that goes through a link below the work
// folder, as for a file on the way.
void CheckTheWay(WorkFolder& work, const Text& path, const Text& reported) {
  if (const DWORD error = work.ErrorOnTheWay(path)) {
    RaiseError(error, reported);
  }
}

// One directory listing at a time, as the interface asks.
class Listing {
 public:
  Listing() = default;
  Listing(const Listing&) = delete;
  Listing& operator=(const Listing&) = delete;
  ~Listing() { Close(); }

  Text First(const Text& pattern, ListMask mask, WorkFolder& work) {
    Close();
    mask_ = mask;
    pattern_ = pattern;
    // A folder through a link below the work folder lists nothing, as a
    // file does.
    if (const DWORD error = work.ErrorOnTheWay(pattern)) {
      if (IsMissing(error)) return Text();
      RaiseError(error, pattern);
    }
    WIN32_FIND_DATAW found;
    handle_ = FindFirstFileExW(SystemPath(pattern).c_str(), FindExInfoBasic,
                               &found, FindExSearchNameMatch, nullptr,
                               FIND_FIRST_EX_LARGE_FETCH);
    if (handle_ == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (IsMissing(error)) return Text();
      RaiseError(error, pattern);
    }
    if (Admits(found)) return FromWide(found.cFileName);
    return Next();
  }

  Text Next() {
    if (handle_ == INVALID_HANDLE_VALUE) return Text();
    WIN32_FIND_DATAW found;
    for (;;) {
      if (!FindNextFileW(handle_, &found)) {
        const DWORD error = GetLastError();
        Close();
        if (error == ERROR_NO_MORE_FILES) return Text();
        RaiseError(error, pattern_);
      }
      if (Admits(found)) return FromWide(found.cFileName);
    }
  }

 private:
  bool Admits(const WIN32_FIND_DATAW& found) const {
    const DWORD attributes = found.dwFileAttributes;
    if (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) {
      return false;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      return AdmitsFolders(mask_);
    }
    return true;
  }

  void Close() {
    if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  ListMask mask_ = ListMask::kNormalFiles;
  Text pattern_;  // of the listing in progress, for its failures
};

// True when `path` is a folder; false too when it cannot be looked at.
bool IsFolderAt(const Text& path) {
  const DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The attributes of `path`; fails when it does not exist.
DWORD AttributesOf(const Text& path) {
  const DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) RaiseLastError(path);
  return attributes;
}

// Opens the file at `path` itself, never what a symbolic link, junction or
// other reparse point in its place leads to: such an entry is opened as
// itself and refused as a link on the way is, the path not found. A folder
// is refused too, as a file that cannot be accessed. INVALID_HANDLE_VALUE,
// with the last error set, when the file cannot be had.
HANDLE OpenOwnFile(const Text& path, DWORD access, DWORD share,
                   DWORD disposition) {
  const std::wstring system_path = SystemPath(path);
  const HANDLE file = CreateFileW(
      system_path.c_str(), access, share, nullptr, disposition,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  DWORD error = 0, attributes = 0;
  if (file == INVALID_HANDLE_VALUE) {
    // A folder, or a link to one, may not open as a file at all: what is
    // there tells the failure.
    error = GetLastError();
    attributes = GetFileAttributesW(system_path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) attributes = 0;
  } else {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) {
      error = GetLastError();
    } else {
      attributes = information.dwFileAttributes;
    }
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    error = ERROR_PATH_NOT_FOUND;
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error = ERROR_CANT_ACCESS_FILE;
  }
  if (error == 0) return file;
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

class Win32FileMover final : public FileMover {
 public:
  explicit Win32FileMover(WorkFolder& work) : work_(work) {}

  void Move(const Text& source, const Text& destination) override {
    CheckTheWay(work_, source, source);
    if (AttributesOf(source) & FILE_ATTRIBUTE_DIRECTORY) Raise(kFileNotFound);
    Text target = destination;
    if (!target.empty() && target.back() == u'\\') target += NameOf(source);
    CheckTheWay(work_, target, source);
    // Without MOVEFILE_REPLACE_EXISTING an existing target is never
    // replaced; the move fails instead.
    if (!MoveFileExW(SystemPath(source).c_str(), SystemPath(target).c_str(),
                     MOVEFILE_COPY_ALLOWED)) {
      RaiseLastError(source);
    }
  }

 private:
  WorkFolder& work_;
};

// The log: lines in the system's ANSI code page, each written to the file
// as it comes, so that it is there before the next change to the music
// folder, and a run that is killed or fails to write later keeps every
// line written before.
class Log {
 public:
  Log() = default;
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;
  ~Log() { Close(); }

  // The log is a file of its own (see `OpenOwnFile`): whatever a link in
  // its place leads to is neither emptied nor written.
  void Open(const Text& path) {
    Close();
    const HANDLE file =
        OpenOwnFile(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) RaiseLastError(path);
    if (!SetEndOfFile(file)) {  // emptied, at its start
      const DWORD error = GetLastError();
      CloseHandle(file);
      RaiseError(error, path);
    }
    file_ = file;
  }

  void WriteLine(const Text& line) {
    if (file_ == INVALID_HANDLE_VALUE) Raise(kBadFileNameOrNumber);
    line_.clear();
    AppendAnsi(line);
    line_ += "\r\n";
    if (!WriteAll(file_, line_)) RaiseLastError(Text());
  }

  void Close() {
    if (file_ == INVALID_HANDLE_VALUE) return;
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }

 private:
  // Appends `line` in the ANSI code page, "?" for every character the code
  // page lacks (a surrogate pair is one character) and no best-fit
  // look-alikes. A system whose ANSI code page is UTF-8 lacks nothing.
  void AppendAnsi(const Text& line) {
    if (line.empty()) return;
    const bool utf8 = GetACP() == CP_UTF8;
    std::wstring wide;
    wide.reserve(line.size());
    for (size_t i = 0; i < line.size(); ++i) {
      const char16_t c = line[i];
      const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < line.size() &&
                        line[i + 1] >= 0xDC00 && line[i + 1] <= 0xDFFF;
      if (pair && !utf8) {
        wide.push_back(L'?');  // no single-byte code page has it
        ++i;
      } else {
        wide.push_back(c);
      }
    }
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* fallback = utf8 ? nullptr : "?";
    const int length = static_cast<int>(wide.size());
    const int size = WideCharToMultiByte(CP_ACP, flags, wide.data(), length,
                                         nullptr, 0, fallback, nullptr);
    if (size <= 0) RaiseLastError(Text());
    const size_t start = line_.size();
    line_.resize(start + size);
    if (WideCharToMultiByte(CP_ACP, flags, wide.data(), length,
                            line_.data() + start, size, fallback,
                            nullptr) != size) {
      line_.resize(start);
      RaiseLastError(Text());
    }
  }

  static bool WriteAll(HANDLE file, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(bytes.size() - done);
      if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr)) {
        return false;
      }
      if (written == 0) {
        SetLastError(ERROR_WRITE_FAULT);
        return false;
      }
      done += written;
    }
    return true;
  }

  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::string line_;  // the line being written; kept for its storage
};

class Win32Platform final : public PlatformDefaults {
 public:
  Win32Platform() : started_by_(win32::TakeStartMark()) {}
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;
  ~Win32Platform() override {
    for (const auto& [name, mutex] : claims_)
      CloseHandle(mutex);
  }

  char16_t Separator() const override { return u'\\'; }

  Text ArgumentText() override {
    return win32::ArgumentTextOf(FromWide(GetCommandLineW()));
  }

  Text ProgramFolder() override {
    std::wstring path = ModulePath();
    const size_t cut = path.rfind(L'\\');
    if (cut != std::wstring::npos) path.resize(cut);
    return FromWide(path);
  }

  // The claim is a named mutex that this process keeps open: it is gone
  // when the last handle closes, which the end of the process does however
  // it ends. Programs started do not inherit it.
  bool ClaimFolder(const Text& folder, Claim claim) override {
    if (folder.empty()) return true;
    const std::wstring name = ClaimName(folder);
    for (const auto& [claimed, handle] : claims_) {
      if (claimed != name) continue;
      if (claim == Claim::kWorkInside) work_.Set(folder);
      return true;  // this run's own already
    }
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (mutex == nullptr) return true;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
      CloseHandle(mutex);
      return false;
    }
    claims_.emplace_back(name, mutex);
    if (claim == Claim::kWorkInside) work_.Set(folder);
    return true;
  }

  Text ListFirst(const Text& pattern, ListMask mask) override {
    return listing_.First(pattern, mask, work_);
  }
  Text ListNext() override { return listing_.Next(); }

  void MakeFolder(const Text& path) override {
    work_.Changing();
    CheckTheWay(work_, path, path);
    if (!CreateDirectoryW(SystemPath(path).c_str(), nullptr)) {
      RaiseLastError(path, Operation::kMakeFolder);
    }
  }

  // A junction or a symbolic link below the work folder is not removed: it
  // is no folder there.
  void RemoveFolder(const Text& path) override {
    work_.Changing();
    CheckTheWay(work_, path, path);
    if (work_.IsLinkBelow(path)) RaiseError(ERROR_DIRECTORY, path);
    if (!RemoveDirectoryW(SystemPath(path).c_str())) RaiseLastError(path);
  }

  void RenameEntry(const Text& old_path, const Text& new_path) override {
    work_.Changing();
    CheckTheWay(work_, old_path, old_path);
    CheckTheWay(work_, new_path, old_path);
    if (old_path == new_path) {
      AttributesOf(old_path);  // fails when there is nothing to rename
      return;
    }
    // Without MOVEFILE_REPLACE_EXISTING an existing entry is never replaced.
    if (!MoveFileExW(SystemPath(old_path).c_str(), SystemPath(new_path).c_str(),
                     0)) {
      RaiseLastError(old_path);
    }
  }

  std::unique_ptr<FileMover> CreateFileMover() override {
    return std::make_unique<Win32FileMover>(work_);
  }

  // No link is followed: none on the way below the work folder is gone
  // through, and GetFileAttributesExW reads a link's own facts.
  EntryFacts FactsOf(const Text& path) override {
    CheckTheWay(work_, path, path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(SystemPath(path).c_str(), GetFileExInfoStandard,
                              &data)) {
      RaiseLastError(path);
    }
    EntryFacts facts;
    facts.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!facts.folder) {
      facts.size =
          (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      // 100-nanosecond ticks since 1601, rounded down to whole seconds
      // since 1970.
      const int64_t ticks = static_cast<int64_t>(
          (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
          data.ftLastWriteTime.dwLowDateTime);
      const int64_t since_1970 = ticks - 116444736000000000LL;
      facts.modified =
          since_1970 / 10000000 - (since_1970 % 10000000 < 0 ? 1 : 0);
    }
    return facts;
  }

  // Only a file of its own is read (see `OpenOwnFile`).
  std::string ReadWholeFile(const Text& path) override {
    CheckTheWay(work_, path, path);
    const HANDLE file = OpenOwnFile(
        path, GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) RaiseLastError(path);
    std::string content;
    DWORD error = 0;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
      error = GetLastError();
    } else if (static_cast<uint64_t>(size.QuadPart) > kLargestWholeFile) {
      CloseHandle(file);
      RaiseSystemFailure(kOutOfMemory, 0, path);
    } else {
      content.resize(static_cast<size_t>(size.QuadPart));
      size_t done = 0;
      while (done < content.size()) {
        DWORD got = 0;
        if (!ReadFile(file, content.data() + done,
                      static_cast<DWORD>(content.size() - done), &got,
                      nullptr)) {
          error = GetLastError();
          break;
        }
        if (got == 0) break;  // cut short while it was read
        done += got;
      }
      content.resize(done);
    }
    CloseHandle(file);
    if (error != 0) RaiseError(error, path);
    return content;
  }

  // A ".new" that a stopped run left is removed first. MOVEFILE_WRITE_THROUGH
  // returns only once the move is on the medium. No link is followed: one
  // at ".new" is deleted itself, the new file is made afresh, and the move
  // replaces a link at `path` itself, never what it leads to.
  void ReplaceWholeFile(const Text& path, std::string_view content) override {
    work_.Changing();
    CheckTheWay(work_, path, path);
    if (IsFolderAt(path)) RaiseSystemFailure(kPathFileAccessError, 0, path);
    const Text fresh = path + u".new";
    const std::wstring fresh_path = SystemPath(fresh);
    DeleteFileW(fresh_path.c_str());
    const HANDLE file =
        CreateFileW(fresh_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) RaiseLastError(fresh);
    DWORD error = 0;
    size_t done = 0;
    while (error == 0 && done < content.size()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(
          std::min<size_t>(content.size() - done, size_t{1} << 30));
      if (!WriteFile(file, content.data() + done, chunk, &written, nullptr)) {
        error = GetLastError();
      } else if (written == 0) {
        error = ERROR_WRITE_FAULT;
      }
      done += written;
    }
    if (error == 0 && !FlushFileBuffers(file)) error = GetLastError();
    CloseHandle(file);
    if (error == 0 &&
        !MoveFileExW(fresh_path.c_str(), SystemPath(path).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      error = GetLastError();
    }
    if (error != 0) {
      DeleteFileW(fresh_path.c_str());
      RaiseError(error, path);
    }
  }

  void OpenLog(const Text& path) override { log_.Open(path); }
  void WriteLogLine(const Text& line) override { log_.WriteLine(line); }
  void CloseLog() override { log_.Close(); }

  void StartMaximized(const Text& program, const Text& arguments) override {
    if (IsOwnProgram(program)) Raise(kStartsItself);
    const win32::StartMark mark(program);
    win32::StartProgram(win32::ProgramStartOf(program, arguments),
                        win32::SystemProgramStarter());
  }

  bool StartedByItself() override {
    return !started_by_.empty() && IsOwnProgram(started_by_);
  }

  bool IsOwnProgram(const Text& program) override {
    FileIdentity own, other;
    try {
      return IdentityOf(ModulePath(), own) &&
             IdentityOf(SystemPath(program), other) && own == other;
    } catch (const Failure&) {
      return false;
    }
  }

  TextView ProgramExtension() const override { return u".exe"; }

  void ShowStopBox(const Text& prompt, const Text& caption) override {
    const std::wstring text = ToWide(prompt);
    const std::wstring title = caption.empty() ? L"Shuffler" : ToWide(caption);
    MessageBoxW(nullptr, text.c_str(), title.c_str(),
                MB_OK | MB_ICONSTOP | MB_TASKMODAL | MB_SETFOREGROUND);
  }

  void ProcessMessages() override {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  [[noreturn]] void EndProcess() override { ExitProcess(0); }

 protected:
  uint64_t ClockSeed() override {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t time =
        (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr uint64_t kGolden = 0x9e3779b97f4a7c15ULL;
    uint64_t seed = static_cast<uint64_t>(counter.QuadPart);
    seed = (seed * kGolden) ^ time;
    seed = (seed * kGolden) ^ GetCurrentProcessId();
    return seed;
  }

 private:
  WorkFolder work_;
  Listing listing_;
  Log log_;
  // The mutexes of the folders this run claimed, by name.
  std::vector<std::pair<std::wstring, HANDLE>> claims_;
  Text started_by_;  // the program a Shuffler started, when that was this one
};

}  // namespace

std::unique_ptr<Platform> CreateSystemPlatform(int /*argc*/, char** /*argv*/) {
  return std::make_unique<Win32Platform>();
}

}  // namespace shuffler
