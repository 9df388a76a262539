// Shuffler's platform on POSIX systems (Linux first: glibc, renameat2,
// /proc/self/exe).
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/names.h"
#include "platform/platform.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_start.h"
#include "platform/posix/utf8.h"

namespace shuffler {

namespace {

using posix::EntryAt;
using posix::PathBytes;
using posix::PathRole;
using posix::RaiseError;
using posix::WorkFolders;

// Names that begin with "." are hidden, except "." and ".." themselves.
template <typename Name>
bool IsHidden(const Name& name) {
  return !name.empty() && name[0] == '.' && name.size() > 1 &&
         !(name.size() == 2 && name[1] == '.');
}

bool IsDotOrDotDot(std::string_view name) {
  return name == "." || name == "..";
}

// Opens the folder at `path` for reading, through `work` when given.
int OpenFolder(WorkFolders* work, const std::string& path) {
  return work != nullptr
             ? work->OpenFolder(path)
             : open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// Where the entry at `path` is; raises the failure of an entry in `role`
// when a folder on the way cannot be opened.
EntryAt At(WorkFolders& work, const std::string& path, PathRole role) {
  EntryAt at;
  if (const int error = work.Resolve(path, at)) {
    RaiseSystemFailure(FailureNumberFor(error, role), error, DecodeUtf8(path));
  }
  return at;
}

// The status of the entry at `at`, a link not followed; errno when it
// cannot be had.
int StatusOf(const EntryAt& at, struct stat& status) {
  return fstatat(at.folder, at.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0
             ? 0
             : errno;
}

// True when the entry `name` of `folder` has Windows' hidden or system
// attribute, on a file system that keeps them.
bool HasHiddenOrSystemAttribute(WorkFolders& work, const std::string& folder,
                                const std::string& name) {
  if (IsDotOrDotDot(name)) return false;
  const int fd = work.OpenFolder(folder);
  if (fd < 0) return false;
  posix::WindowsAttributes attributes;
  attributes.Prepare(fd, folder);
  const bool hidden =
      attributes.Any() && attributes.HiddenOrSystem(name.c_str());
  close(fd);
  return hidden;
}

// True when `path` is a folder (not a link to one); raises when it cannot
// be looked at. Only the type is asked for, and taken from what the system
// already knows where it can: an entry's type never changes, while a FUSE
// file system is asked again for everything else after each rename of the
// entry, a round trip to its driver.
bool IsFolder(const EntryAt& at, const std::string& path) {
#ifdef STATX_TYPE
  struct statx status;
  if (statx(at.folder, at.name.c_str(),
            AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC, STATX_TYPE,
            &status) != 0) {
    RaiseError(errno, PathRole::kExisting, path);
  }
  return S_ISDIR(status.stx_mode);
#else
  struct stat status;
  if (const int error = StatusOf(at, status)) {
    RaiseError(error, PathRole::kExisting, path);
  }
  return S_ISDIR(status.st_mode);
#endif
}

bool Exists(WorkFolders& work, const std::string& path) {
  EntryAt at;
  struct stat status;
  return work.Resolve(path, at) == 0 && StatusOf(at, status) == 0;
}

// Raises the failure of a rename of `from` that failed with `error`. A
// missing entry is the source when the source is gone, else the target's
// folder.
[[noreturn]] void RaiseRenameError(WorkFolders& work, int error,
                                   const std::string& from) {
  const bool source_missing = error == ENOENT && !Exists(work, from);
  RaiseError(error, source_missing ? PathRole::kExisting : PathRole::kTarget,
             from);
}

// Writes all of `bytes` to `fd`; false when a write fails.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// Writes all of `bytes` to `fd` without being killed by SIGPIPE where `fd`
// is a pipe nobody reads any more; false when a write fails. The signal is
// held back for the write, and the one it raised is taken off again, so the
// process and what it starts keep the signal handling they were given.
bool WriteAllWithoutSigpipe(int fd, std::string_view bytes) {
  sigset_t pipe_signal, old_mask, pending;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  const bool was_pending =
      sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
  if (sigprocmask(SIG_BLOCK, &pipe_signal, &old_mask) != 0) return false;
  const bool written = WriteAll(fd, bytes);
  if (!written && errno == EPIPE && !was_pending) {
    const timespec now{};
    while (sigtimedwait(&pipe_signal, nullptr, &now) < 0 && errno == EINTR) {
    }
  }
  sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  return written;
}

// True when `word` sets a variable of the environment, as env reads it: a
// name of letters, digits and "_" that does not begin with a digit, then "="
// and the value.
bool IsAssignment(std::string_view word) {
  const size_t equals = word.find('=');
  if (equals == 0 || equals == std::string_view::npos) return false;
  for (size_t i = 0; i < equals; ++i) {
    const char c = word[i];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!letter && c != '_' && (i == 0 || c < '0' || c > '9')) return false;
  }
  return true;
}

// A path cut at its last '/': the folder to open and the text that joins a
// name found there back onto it.
struct Place {
  std::string folder;  // "." when the path has no folder, "/" for the root
  Text prefix;         // the folder and its separator, or empty
  Text name;
};

Place PlaceOf(const Text& path) {
  const TextView name = posix::NameOf(TextView(path));
  Place place;
  place.folder = PathBytes(posix::FolderOf(TextView(path)));
  place.prefix = path.substr(0, path.size() - name.size());
  place.name = Text(name);
  return place;
}

// Reads a folder's visible entries one at a time, keeping it open between
// calls.
class FolderReader {
 public:
  /// A reader that opens folders through `work`, when given.
  explicit FolderReader(WorkFolders* work = nullptr) : work_(work) {}
  FolderReader(const FolderReader&) = delete;
  FolderReader& operator=(const FolderReader&) = delete;
  ~FolderReader() { Close(); }

  /// Opens `folder`; false when it is missing or not a folder.
  bool Open(const std::string& folder) {
    Close();
    folder_ = folder;
    const int fd = OpenFolder(work_, folder);
    if (fd >= 0) {
      dir_ = fdopendir(fd);
      if (dir_ == nullptr) {
        const int error = errno;
        close(fd);
        RaiseError(error, PathRole::kFolder, folder);
      }
      attributes_.Prepare(fd, folder);
      return true;
    }
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR) return false;
    RaiseError(error, PathRole::kFolder, folder);
  }

  void Close() {
    if (dir_ != nullptr) closedir(dir_);
    dir_ = nullptr;
  }

  bool IsOpen() const { return dir_ != nullptr; }

  /// The next entry that is not hidden and that `mask` admits, and its
  /// name; false at the end of the folder.
  bool Next(ListMask mask, Text& name) {
    for (;;) {
      errno = 0;
      const dirent* entry = readdir(dir_);
      if (entry == nullptr) {
        if (errno != 0) RaiseError(errno, PathRole::kFolder, folder_);
        return false;
      }
      const std::string_view bytes = entry->d_name;
      if (IsHidden(bytes) && !AdmitsDotNames(mask)) continue;
      if (!AdmitsFolders(mask) && !IsNonFolder(*entry)) continue;
      if (attributes_.Any() && !IsDotOrDotDot(bytes) &&
          attributes_.HiddenOrSystem(entry->d_name)) {
        continue;
      }
      name = DecodeUtf8(entry->d_name);
      return true;
    }
  }

 private:
  // True when the entry is not a folder (a symbolic link is not one); false
  // too when it vanished while being looked at.
  bool IsNonFolder(const dirent& entry) {
#ifdef _DIRENT_HAVE_D_TYPE
    if (entry.d_type != DT_UNKNOWN) return entry.d_type != DT_DIR;
#endif
    struct stat status;
    if (fstatat(dirfd(dir_), entry.d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) return false;
      RaiseError(errno, PathRole::kExisting, folder_ + '/' + entry.d_name);
    }
    return !S_ISDIR(status.st_mode);
  }

  WorkFolders* work_;
  DIR* dir_ = nullptr;
  std::string folder_;  // the folder open, for the failure it may raise
  posix::WindowsAttributes attributes_;
};

// The real name of an entry in `place.folder` that `mask` admits and whose
// name equals `place.name` ignoring ASCII letter case, the name itself when
// it is there; empty when there is none. Of several, the first that
// `preferred` holds for, when it is given and holds for any.
Text FindIgnoringCase(
    const Place& place, ListMask mask = ListMask::kNormalFiles,
    const std::function<bool(const Text&)>& preferred = nullptr,
    WorkFolders* work = nullptr) {
  FolderReader reader(work);
  if (!reader.Open(place.folder)) return Text();
  Text name, found;
  bool found_preferred = false;
  while (reader.Next(mask, name)) {
    if (name == place.name) return name;
    if (found_preferred || !EqualsIgnoringAsciiCase(name, place.name)) {
      continue;
    }
    if (found.empty()) found = name;
    if (preferred && preferred(name)) {
      found = name;
      found_preferred = true;
    }
  }
  return found;
}

// The name that the entry at `path`, found by `place.name`, has in its
// folder. They differ only where the file system ignores letter case (FAT
// and exFAT drives), which a second look, at the name with its letter case
// turned, tells: Windows lists such an entry by its own name, and so does
// this.
Text NameOnDisk(WorkFolders& work, const std::string& path,
                const Place& place) {
  std::string turned = path;
  bool any_letter = false;
  for (size_t i = path.size() - PathBytes(place.name).size(); i < turned.size();
       ++i) {
    char& c = turned[i];
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
      any_letter = true;
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
      any_letter = true;
    }
  }
  if (!any_letter || !Exists(work, turned)) return place.name;
  const Text name =
      FindIgnoringCase(place, ListMask::kWithFolders, nullptr, &work);
  return name.empty() ? place.name : name;
}

// How many changes have been made through one platform and its movers.
// Shared by the platform and every mover it creates.
using ChangeCount = std::shared_ptr<uint64_t>;

// The never-replacing rename, shared by the platform and its movers so that
// what it learns about a folder is learnt once.
using Renamer = std::shared_ptr<posix::NoReplaceRenamer>;

// The folders the run works inside, shared by the platform and its movers.
using Work = std::shared_ptr<WorkFolders>;

class PosixFileMover : public FileMover {
 public:
  PosixFileMover(ChangeCount changes, Renamer renamer, Work work)
      : changes_(std::move(changes)),
        renamer_(std::move(renamer)),
        work_(std::move(work)) {}

  void Move(const Text& source, const Text& destination) override {
    MoveFile(source, destination, false);
  }
  void MoveKnownFile(const Text& source, const Text& destination) override {
    MoveFile(source, destination, true);
  }

 private:
  void MoveFile(const Text& source, const Text& destination, bool known) {
    posix::AssignPathBytes(source, from_);
    const bool own_last_target = IsOwnLastTarget(from_);
    const EntryAt from_at = At(*work_, from_, PathRole::kExisting);
    if (!known && !own_last_target && IsFolder(from_at, from_)) {
      Raise(kFileNotFound);  // files only
    }
    posix::AssignPathBytes(destination, to_);
    if (!destination.empty() && destination.back() == u'/') {
      // Into that folder, under the source's own name.
      AppendUtf8(posix::NameOf(TextView(source)), to_);
    }
    // A target in a folder that cannot be opened fails as the rename
    // would, naming the source.
    EntryAt to_at;
    int error = work_->Resolve(to_, to_at);
    // Straight back to where the last move took it from: that name was
    // freed a moment ago, by this mover.
    if (error == 0) {
      error = own_last_target && to_ == last_source_
                  ? renamer_->RenameOntoFreedName(from_, to_, from_at, to_at)
                  : renamer_->Rename(from_, to_, from_at, to_at);
    }
    ++*changes_;
    if (error != 0) {
      last_target_.clear();
      RaiseRenameError(*work_, error, from_);
    }
    last_target_.assign(to_);
    last_source_.assign(from_);
    changes_at_last_target_ = *changes_;
  }

  // True when `path` is where this mover's last move put its file and
  // nothing has changed through the platform or a mover since: the file it
  // looked at a moment ago is still there, so moving it again (out into
  // "temp" and straight back) needs no second look. That look is a system
  // call of its own, and where system calls are dear it costs a good part
  // of the move. A change made outside Shuffler in between goes unseen, as
  // it does between any look and the rename that follows it.
  bool IsOwnLastTarget(const std::string& path) const {
    return !last_target_.empty() && *changes_ == changes_at_last_target_ &&
           path == last_target_;
  }

  ChangeCount changes_;
  Renamer renamer_;
  Work work_;
  std::string last_target_;  // empty when the last move failed
  std::string last_source_;  // where the last move took its file from
  uint64_t changes_at_last_target_ = 0;
  // The byte paths of the current move; kept to reuse their storage.
  std::string from_, to_;
};

class PosixPlatform : public PlatformDefaults {
 public:
  PosixPlatform(int argc, char** argv)
      : own_(argc > 0 && argv != nullptr ? argv[0] : nullptr) {
    // Options are read only before a lone "--": what follows is a command,
    // kept byte for byte, whose paths may hold "/debug" or "/launch". Its
    // leading NAME=value words are its environment.
    for (int i = 1; i < argc; ++i) {
      const std::string_view argument = argv[i];
      if (has_command_) {
        if (command_.empty() && IsAssignment(argument)) {
          environment_.emplace_back(argument);
        } else {
          command_.emplace_back(argument);
        }
        continue;
      }
      if (argument == "--") {
        has_command_ = true;
        continue;
      }
      if (i > 1) arguments_ += u' ';
      const bool quoted = argument.empty() ||
                          argument.find_first_of(" \t") != std::string::npos;
      if (quoted) arguments_ += u'"';
      arguments_ += DecodeUtf8(argument);
      if (quoted) arguments_ += u'"';
    }
  }

  ~PosixPlatform() override {
    CloseLogQuietly();
    for (const Claimed& claimed : claims_) {
      if (claimed.fd >= 0) close(claimed.fd);
    }
  }

  char16_t Separator() const override { return u'/'; }

  Text ArgumentText() override { return arguments_; }

  // The folder without its trailing separator: the root is empty.
  Text ProgramFolder() override {
    std::string program = own_.Path();
    program.resize(program.size() - posix::NameOf(program).size());
    if (!program.empty()) program.pop_back();
    return DecodeUtf8(program);
  }

  // The claim is a lock on the folder itself, whatever path or link reaches
  // it. It belongs to the open folder, which is kept until the process ends
  // and is closed in every program started, so the lock ends with this
  // process however it ends. A folder claimed to work inside stays open
  // for that work too.
  bool ClaimFolder(const Text& folder, Claim claim) override {
    std::string bytes;
    try {
      bytes = PathBytes(folder);
    } catch (const Failure&) {
      return true;
    }
    const int fd = open(bytes.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return true;
    struct stat status {};
    if (fstat(fd, &status) == 0) {
      for (const Claimed& claimed : claims_) {
        if (claimed.device == status.st_dev && claimed.inode == status.st_ino) {
          // This run's own already, locked through another open.
          if (claim == Claim::kWorkInside) {
            work_->Add(bytes, fd);
          } else {
            close(fd);
          }
          return true;
        }
      }
    }
    int result;
    do {
      result = flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
      const int error = errno;
      close(fd);
      return error != EWOULDBLOCK;
    }
    if (claim == Claim::kWorkInside) {
      work_->Add(bytes, fd);  // which closes it at the end
      claims_.push_back({-1, status.st_dev, status.st_ino});
    } else {
      claims_.push_back({fd, status.st_dev, status.st_ino});
    }
    return true;
  }

  Text ListFirst(const Text& pattern, ListMask mask) override {
    EndListing();
    const std::string path = PathBytes(pattern);
    const Place place = PlaceOf(pattern);
    if (place.name.empty()) return Text();
    if (!HasWildcards(place.name)) {
      Text found = LookUp(path, place, mask);
      if (!found.empty()) listing_ = Listing::kExactReturned;
      return found;
    }
    if (!reader_.Open(place.folder)) return Text();
    listing_ = Listing::kScanning;
    list_name_ = place.name;
    list_mask_ = mask;
    return ListNext();
  }

  // "*" and "?" are characters of a name like any other here.
  Text FindEntry(const Text& path, ListMask mask) override {
    EndListing();
    const Place place = PlaceOf(path);
    if (place.name.empty()) return Text();
    return LookUp(PathBytes(path), place, mask);
  }

  Text ListNext() override {
    switch (listing_) {
      case Listing::kNone:
        Raise(kInvalidArgument);
      case Listing::kExactReturned:
        EndListing();
        return Text();
      case Listing::kScanning:
        break;
    }
    try {
      Text name;
      while (reader_.Next(list_mask_, name)) {
        if (MatchesPattern(name, list_name_)) return name;
      }
    } catch (...) {
      EndListing();
      throw;
    }
    EndListing();
    return Text();
  }

  void MakeFolder(const Text& path) override {
    ++*changes_;
    const std::string bytes = PathBytes(path);
    work_->Changing(bytes);
    const EntryAt at = At(*work_, bytes, PathRole::kFolder);
    if (mkdirat(at.folder, at.name.c_str(), 0777) != 0) {
      RaiseError(errno, PathRole::kFolder, bytes);
    }
  }

  // A symbolic link is no folder, here as below a work folder.
  void RemoveFolder(const Text& path) override {
    ++*changes_;
    const std::string bytes = PathBytes(path);
    work_->Changing(bytes);
    const EntryAt at = At(*work_, bytes, PathRole::kFolder);
    if (unlinkat(at.folder, at.name.c_str(), AT_REMOVEDIR) != 0) {
      RaiseError(errno, PathRole::kFolder, bytes);
    }
  }

  void RenameEntry(const Text& old_path, const Text& new_path) override {
    ++*changes_;
    std::string& from = rename_from_;
    std::string& to = rename_to_;
    posix::AssignPathBytes(old_path, from);
    posix::AssignPathBytes(new_path, to);
    const EntryAt from_at = At(*work_, from, PathRole::kExisting);
    if (old_path == new_path) {
      struct stat status;
      if (const int error = StatusOf(from_at, status)) {
        RaiseError(error, PathRole::kExisting, from);
      }
      return;
    }
    // A folder keeps its name where renaming it would lose what it holds.
    if (LosesRenamedFolders(from) && IsFolder(from_at, from)) {
      Raise(kPathFileAccessError);
    }
    work_->Changing(from);
    work_->Changing(to);
    EntryAt to_at;
    int error = work_->Resolve(to, to_at);
    if (error == 0) error = renamer_->Rename(from, to, from_at, to_at);
    if (error != 0) RaiseRenameError(*work_, error, from);
  }

  Text FolderNameInAnyCase(const Text& folder, const Text& name) override {
    try {
      const std::string exact = PathBytes(folder + u'/' + name);
      if (Exists(*work_, exact)) return name;
      FolderReader reader(work_.get());
      if (!reader.Open(PathBytes(folder))) return name;
      Text entry, found;
      int folders = 0;
      while (reader.Next(ListMask::kWithFolders, entry)) {
        if (!EqualsIgnoringAsciiCase(entry, name)) continue;
        struct stat status;
        if (stat(PathBytes(folder + u'/' + entry).c_str(), &status) == 0 &&
            S_ISDIR(status.st_mode)) {
          found = entry;
          ++folders;
        }
      }
      return folders == 1 ? found : name;
    } catch (const Failure&) {
      return name;
    }
  }

  std::unique_ptr<FileMover> CreateFileMover() override {
    return std::make_unique<PosixFileMover>(changes_, renamer_, work_);
  }

  // What the system already knows is taken, as in `IsFolder`: a FUSE file
  // system is not asked again for facts it gave a moment ago.
  EntryFacts FactsOf(const Text& path) override {
    const std::string bytes = PathBytes(path);
    const EntryAt at = At(*work_, bytes, PathRole::kExisting);
    EntryFacts facts;
#ifdef STATX_TYPE
    struct statx status;
    if (statx(at.folder, at.name.c_str(),
              AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC,
              STATX_TYPE | STATX_SIZE | STATX_MTIME, &status) != 0) {
      RaiseError(errno, PathRole::kExisting, bytes);
    }
    facts.folder = S_ISDIR(status.stx_mode);
    if (!facts.folder) {
      facts.size = status.stx_size;
      facts.modified = status.stx_mtime.tv_sec;
    }
#else
    struct stat status;
    if (const int error = StatusOf(at, status)) {
      RaiseError(error, PathRole::kExisting, bytes);
    }
    facts.folder = S_ISDIR(status.st_mode);
    if (!facts.folder) {
      facts.size = static_cast<uint64_t>(status.st_size);
      facts.modified = static_cast<int64_t>(status.st_mtim.tv_sec);
    }
#endif
    return facts;
  }

  // Opened without blocking, so that a pipe in the file's place cannot hold
  // the run, and without following a symbolic link in its place; only a
  // regular file is read.
  std::string ReadWholeFile(const Text& path) override {
    const std::string bytes = PathBytes(path);
    const EntryAt at = At(*work_, bytes, PathRole::kExisting);
    const int fd = openat(at.folder, at.name.c_str(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) RaiseError(errno, PathRole::kExisting, bytes);
    std::string content;
    int error = 0;
    int32_t number = 0;
    struct stat status;
    if (fstat(fd, &status) != 0) {
      error = errno;
    } else if (!S_ISREG(status.st_mode)) {
      number = kPathFileAccessError;
    } else if (static_cast<uint64_t>(status.st_size) > kLargestWholeFile) {
      number = kOutOfMemory;
    } else {
      content.resize(static_cast<size_t>(status.st_size) + 1);
      size_t done = 0;
      for (;;) {
        if (done == content.size()) {
          if (content.size() > kLargestWholeFile) break;  // it grew
          content.resize(content.size() * 2);
        }
        const ssize_t got =
            read(fd, content.data() + done, content.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) error = errno;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
      }
      if (done > kLargestWholeFile) number = kOutOfMemory;
      content.resize(done);
    }
    close(fd);
    if (error != 0) RaiseError(error, PathRole::kExisting, bytes);
    if (number != 0) RaiseSystemFailure(number, 0, DecodeUtf8(bytes));
    return content;
  }

  // The new file is made afresh, never emptied: see `OpenLog` for fusefat.
  // A ".new" that a stopped run left is removed first.
  void ReplaceWholeFile(const Text& path, std::string_view content) override {
    ++*changes_;
    const std::string target = PathBytes(path);
    const std::string fresh = target + ".new";
    work_->Changing(fresh);
    work_->Changing(target);
    const EntryAt fresh_at = At(*work_, fresh, PathRole::kTarget);
    // A folder there stays, and the open fails; a link there is removed
    // itself, never what it points to.
    unlinkat(fresh_at.folder, fresh_at.name.c_str(), 0);
    const int fd =
        openat(fresh_at.folder, fresh_at.name.c_str(),
               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) RaiseError(errno, PathRole::kTarget, fresh);
    int error = WriteAll(fd, content) ? 0 : errno;
    if (error == 0 && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    if (error != 0) {
      unlinkat(fresh_at.folder, fresh_at.name.c_str(), 0);
      RaiseError(error, PathRole::kTarget, fresh);
    }
    EntryAt target_at;
    error = work_->Resolve(target, target_at);
    if (error == 0 && renameat(fresh_at.folder, fresh_at.name.c_str(),
                               target_at.folder, target_at.name.c_str()) != 0) {
      error = errno;
    }
    if (error != 0) {
      unlinkat(fresh_at.folder, fresh_at.name.c_str(), 0);
      RaiseError(error, PathRole::kTarget, target);
    }
    // The rename is durable once the folder that holds the name is.
    if (target_at.folder != AT_FDCWD) {
      error = fsync(target_at.folder) != 0 && errno != EINVAL ? errno : 0;
      if (error != 0) RaiseError(error, PathRole::kFolder, target);
      return;
    }
    const size_t cut = target.rfind('/');
    const std::string folder = cut == std::string::npos ? "."
                               : cut == 0               ? "/"
                                                        : target.substr(0, cut);
    const int folder_fd =
        open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_fd < 0) RaiseError(errno, PathRole::kFolder, folder);
    // EINVAL: a file system that has no way to flush a folder.
    error = fsync(folder_fd) != 0 && errno != EINVAL ? errno : 0;
    close(folder_fd);
    if (error != 0) RaiseError(error, PathRole::kFolder, folder);
  }

  // The log is a file of its own: a symbolic link in its place is never
  // followed, so whatever it points to is neither emptied nor written. A
  // pipe in its place is not waited on.
  void OpenLog(const Text& path) override {
    ++*changes_;
    const std::string bytes = PathBytes(path);
    CloseLog();
    constexpr int kOwnFile = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    // Emptied through one open and written through another: fusefat keeps
    // writing a file it emptied through the same open into the cluster it
    // freed, fails at the next cluster and loses the log on disk.
    int fd = open(bytes.c_str(), O_WRONLY | O_CREAT | O_TRUNC | kOwnFile, 0666);
    if (fd >= 0 && close(fd) == 0) {
      fd = open(bytes.c_str(), O_WRONLY | kOwnFile);
    }
    if (fd < 0) RaiseError(errno, PathRole::kTarget, bytes);
    log_fd_ = fd;
    log_path_ = bytes;
  }

  // Each line is written as it comes, so that it is in the file before the
  // next change to the music folder, and a run that is killed or fails to
  // write later keeps every line written before.
  void WriteLogLine(const Text& line) override {
    if (log_fd_ < 0) Raise(kBadFileNameOrNumber);
    log_line_ = EncodeWindows1252(line);
    log_line_ += "\r\n";
    if (!WriteAll(log_fd_, log_line_)) {
      // A full disk is said as such; any other failure to write is one of
      // access to the file.
      const int error = errno;
      RaiseSystemFailure(
          FailureNumberFor(error, PathRole::kExisting) == kDiskFull
              ? kDiskFull
              : kPathFileAccessError,
          error, Text());
    }
  }

  void CloseLog() override {
    if (log_fd_ < 0) return;
    if (!CloseLogQuietly()) Raise(kPathFileAccessError);
  }

  void StartMaximized(const Text& program, const Text& arguments) override {
    ++*changes_;
    const posix::ProgramFile file = ProgramFileOf(program);
    if (file.folder) Raise(kPathFileAccessError);
    if (own_.Is(file.identity)) Raise(kStartsItself);
    posix::StartProgram(file.path, arguments);
  }

  bool StartedByItself() override {
    return own_.StartedByItself();
  }

  bool IsOwnProgram(const Text& program) override {
    try {
      return own_.Is(ProgramFileOf(program).identity);
    } catch (const Failure&) {
      return false;
    }
  }

  TextView ProgramExtension() const override {
    return TextView();
  }

  bool HasCommand() const override {
    return has_command_;
  }

  // The command is found as a shell finds it, through PATH (its own, when
  // it sets one) unless it holds a "/", and starts in the folder Shuffler
  // was started in. Every other file Shuffler opens is closed on exec.
  void RunCommand() override {
    CloseLogQuietly();
    std::fflush(nullptr);
    std::vector<char*> argv;
    for (std::string& word : command_)
      argv.push_back(word.data());
    argv.push_back(nullptr);
    int error = 0;
    for (const std::string& assignment : environment_) {
      const size_t equals = assignment.find('=');
      if (setenv(assignment.substr(0, equals).c_str(),
                 assignment.c_str() + equals + 1, 1) != 0) {
        error = errno;
        break;
      }
    }
    if (error == 0 && !command_.empty()) {
      execvp(argv[0], argv.data());
      error = errno;
    }
    if (error == 0) error = ENOENT;  // no command was given
    // Only a command that cannot start comes back here.
    exit_status_ = error == ENOENT ? 127 : 126;
    const std::string name = command_.empty() ? std::string() : command_[0];
    const Failure failure =
        MakeFailure(FailureNumberFor(error, PathRole::kExisting));
    LogCommandFailure(failure, name);
    RaiseSystemFailure(failure.Number, error, DecodeUtf8(name));
  }

  void ShowStopBox(const Text& prompt, const Text& caption) override {
    Text message = caption.empty() ? Text(u"Shuffler") : caption;
    message += u": ";
    for (size_t i = 0; i < prompt.size(); ++i) {
      if (prompt[i] == u'\r' && i + 1 < prompt.size() &&
          prompt[i + 1] == u'\n') {
        continue;  // the line feed that follows ends the line
      }
      message += prompt[i];
    }
    message += u'\n';
    // A box nobody can see is dropped, and the run goes on.
    WriteAllWithoutSigpipe(STDERR_FILENO, EncodeUtf8(message));
  }

  void ProcessMessages() override {}

  [[noreturn]] void EndProcess() override {
    CloseLogQuietly();
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(exit_status_);
  }

 protected:
  uint64_t ClockSeed() override {
    timespec wall{}, steady{};
    clock_gettime(CLOCK_REALTIME, &wall);
    clock_gettime(CLOCK_MONOTONIC, &steady);
    const auto nanoseconds = [](const timespec& time) {
      return static_cast<uint64_t>(time.tv_sec) * 1000000000ULL +
             static_cast<uint64_t>(time.tv_nsec);
    };
    const uint64_t monotonic = nanoseconds(steady) * 0x9e3779b97f4a7c15ULL;
    return nanoseconds(wall) ^ ((monotonic << 29) | (monotonic >> 35)) ^
           (static_cast<uint64_t>(getpid()) * 0xd1b54a32d192ed03ULL);
  }

 private:
  enum class Listing { kNone, kExactReturned, kScanning };

  // True when the folder of `path` is on a file system that loses the
  // contents of a renamed folder; learnt once per folder.
  bool LosesRenamedFolders(const std::string& path) {
    const std::string_view folder = posix::FolderOf(path);
    if (folder != checked_folder_) {
      checked_folder_.assign(folder);
      loses_folders_ = posix::LosesRenamedFolderContents(checked_folder_);
    }
    return loses_folders_;
  }

  // The file `StartMaximized` starts for `program`: itself, or where it is
  // missing the file of its folder whose name differs only in letter case.
  posix::ProgramFile ProgramFileOf(const Text& program) const {
    return posix::ProgramFileOf(
        program,
        [](const std::string& folder, const Text& name,
           const std::function<bool(const Text&)>& preferred) {
          return FindIgnoringCase(Place{folder, Text(), name},
                                  ListMask::kNormalFiles, preferred);
        },
        own_);
  }

  // The exact-name lookup of `path` (whose parts are `place`). Below a
  // work folder, nothing is found through a link.
  Text LookUp(const std::string& path, const Place& place, ListMask mask) {
    if (IsHidden(place.name) && !AdmitsDotNames(mask)) return Text();
    EntryAt at;
    struct stat status;
    int error = work_->Resolve(path, at);
    if (error == 0) error = StatusOf(at, status);
    if (error == 0) {
      const bool admitted = (AdmitsFolders(mask) || !S_ISDIR(status.st_mode)) &&
                            !HasHiddenOrSystemAttribute(*work_, place.folder,
                                                        PathBytes(place.name));
      return admitted ? NameOnDisk(*work_, path, place) : Text();
    }
    if (error != ENOENT && error != ENOTDIR) {
      RaiseError(error, PathRole::kExisting, path);
    }
    // Windows names ignore letter case, and launching relies on that. A
    // folder that may be passed through but not read leaves the exact
    // answer: there is no such entry.
    if (error == ENOENT && mask == ListMask::kNormalFiles) {
      try {
        return FindIgnoringCase(place, mask, nullptr, work_.get());
      } catch (const Failure& failure) {
        if (failure.SystemError != EACCES) throw;
      }
    }
    return Text();
  }

  void EndListing() {
    reader_.Close();
    listing_ = Listing::kNone;
  }

  // Adds the failure of the command `name` to the end of the log this run
  // wrote, if it wrote one, in the log's own style for a failure: a
  // launcher may show nobody Shuffler's standard error.
  void LogCommandFailure(const Failure& failure, const std::string& name) {
    if (log_path_.empty()) return;
    const int fd = open(log_path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return;
    Text line = u"*** An error occurred! " +
                DecodeUtf8(std::to_string(failure.Number)) + u", " +
                failure.Description;
    if (!name.empty()) line += u": " + DecodeUtf8(name);
    WriteAll(fd, EncodeWindows1252(line) + "\r\n");
    close(fd);
  }

  // Closes the log; false when closing failed.
  bool CloseLogQuietly() {
    if (log_fd_ < 0) return true;
    const bool closed = close(log_fd_) == 0;
    log_fd_ = -1;
    return closed;
  }

  posix::OwnProgram own_;
  Text arguments_;
  bool has_command_ = false;
  std::vector<std::string> command_;  // the words after "--", as given
  // The NAME=value words between "--" and the command.
  std::vector<std::string> environment_;
  int exit_status_ = 0;

  // The byte paths of the current rename; kept to reuse their storage.
  std::string rename_from_, rename_to_;
  // The last folder renamed in, and whether it loses renamed folders.
  std::string checked_folder_;
  bool loses_folders_ = false;
  // Counts every change made through the platform and its movers.
  ChangeCount changes_ = std::make_shared<uint64_t>(0);
  Renamer renamer_ = std::make_shared<posix::NoReplaceRenamer>();
  Work work_ = std::make_shared<WorkFolders>();

  FolderReader reader_{work_.get()};
  Listing listing_ = Listing::kNone;
  Text list_name_;
  ListMask list_mask_ = ListMask::kNormalFiles;

  int log_fd_ = -1;
  std::string log_line_;  // the line being written
  std::string log_path_;  // the log this run opened; empty when none

  // The folders this run claimed, locked: each one's descriptor (-1 for
  // those the work folders keep) and identity.
  struct Claimed {
    int fd;
    dev_t device;
    ino_t inode;
  };
  std::vector<Claimed> claims_;
};

}  // namespace

std::unique_ptr<Platform> CreateSystemPlatform(int argc, char** argv) {
  return std::make_unique<PosixPlatform>(argc, argv);
}

}  // namespace shuffler
