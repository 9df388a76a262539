// Shuffler's platform on POSIX systems (Linux first: glibc, renameat2,
// /proc/self/exe).
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/arguments.h"
#include "platform/names.h"
#include "platform/platform.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/utf8.h"

extern char** environ;

namespace shuffler {

namespace {

using posix::FailureNumberFor;
using posix::PathBytes;
using posix::PathRole;

// Raises the failure for the errno value `error` about `path` in `role`.
[[noreturn]] void RaiseError(int error, PathRole role,
                             const std::string& path) {
  RaiseSystemFailure(FailureNumberFor(error, role), error, DecodeUtf8(path));
}

// Names that begin with "." are hidden, except "." and ".." themselves.
template <typename Name>
bool IsHidden(const Name& name) {
  return !name.empty() && name[0] == '.' && name.size() > 1 &&
         !(name.size() == 2 && name[1] == '.');
}

bool IsDotOrDotDot(std::string_view name) {
  return name == "." || name == "..";
}

// True when the entry `name` of `folder` has Windows' hidden or system
// attribute, on a file system that keeps them.
bool HasHiddenOrSystemAttribute(const std::string& folder,
                                const std::string& name) {
  if (IsDotOrDotDot(name)) return false;
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
bool IsFolder(const std::string& path) {
#ifdef STATX_TYPE
  struct statx status;
  if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC,
            STATX_TYPE, &status) != 0) {
    RaiseError(errno, PathRole::kExisting, path);
  }
  return S_ISDIR(status.stx_mode);
#else
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) {
    RaiseError(errno, PathRole::kExisting, path);
  }
  return S_ISDIR(status.st_mode);
#endif
}

bool Exists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

// Raises the failure of a rename of `from` that failed with `error`. A
// missing entry is the source when the source is gone, else the target's
// folder.
[[noreturn]] void RaiseRenameError(int error, const std::string& from) {
  const bool source_missing = error == ENOENT && !Exists(from);
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

// A path cut at its last '/': the folder to open and the text that joins a
// name found there back onto it.
struct Place {
  std::string folder;  // "." when the path has no folder, "/" for the root
  Text prefix;         // the folder and its separator, or empty
  Text name;
};

Place PlaceOf(const Text& path) {
  const size_t cut = path.rfind(u'/');
  if (cut == Text::npos) return {".", Text(), path};
  Place place;
  place.prefix = path.substr(0, cut + 1);
  place.name = path.substr(cut + 1);
  place.folder = cut == 0 ? "/" : PathBytes(path.substr(0, cut));
  return place;
}

// Reads a folder's visible entries one at a time, keeping it open between
// calls.
class FolderReader {
 public:
  FolderReader() = default;
  FolderReader(const FolderReader&) = delete;
  FolderReader& operator=(const FolderReader&) = delete;
  ~FolderReader() { Close(); }

  /// Opens `folder`; false when it is missing or not a folder.
  bool Open(const std::string& folder) {
    Close();
    dir_ = opendir(folder.c_str());
    folder_ = folder;
    if (dir_ != nullptr) {
      attributes_.Prepare(dirfd(dir_), folder);
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

  DIR* dir_ = nullptr;
  std::string folder_;  // the folder open, for the failure it may raise
  posix::WindowsAttributes attributes_;
};

// The real name of an entry in `place.folder` that `mask` admits and whose
// name equals `place.name` ignoring ASCII letter case, the name itself when
// it is there; empty when there is none.
Text FindIgnoringCase(const Place& place,
                      ListMask mask = ListMask::kNormalFiles) {
  FolderReader reader;
  if (!reader.Open(place.folder)) return Text();
  Text name, found;
  while (reader.Next(mask, name)) {
    if (name == place.name) return name;
    if (found.empty() && EqualsIgnoringAsciiCase(name, place.name)) {
      found = name;
    }
  }
  return found;
}

// The name that the entry at `path`, found by `place.name`, has in its
// folder. They differ only where the file system ignores letter case (FAT
// and exFAT drives), which a second look, at the name with its letter case
// turned, tells: Windows lists such an entry by its own name, and so does
// this.
Text NameOnDisk(const std::string& path, const Place& place) {
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
  struct stat other;
  if (!any_letter || lstat(turned.c_str(), &other) != 0) return place.name;
  const Text name = FindIgnoringCase(place, ListMask::kWithFolders);
  return name.empty() ? place.name : name;
}

// How many changes have been made through one platform and its movers.
// Shared by the platform and every mover it creates.
using ChangeCount = std::shared_ptr<uint64_t>;

// The never-replacing rename, shared by the platform and its movers so that
// what it learns about a folder is learnt once.
using Renamer = std::shared_ptr<posix::NoReplaceRenamer>;

// The paths (hashed) that `FactsOf` found files, followed through every
// rename and move made since: a mover need not look again whether such a
// path is a folder, so that a run that looks at every entry first makes no
// more system calls than one that does not. Shared by the platform and its
// movers; empty, and never consulted, until `FactsOf` is called. A change
// made outside Shuffler goes unseen, as between any look and the rename
// after it.
class KnownFiles {
 public:
  void Learn(const std::string& path, bool file) {
    if (file) {
      hashes_.insert(Hash(path));
    } else if (!hashes_.empty()) {
      hashes_.erase(Hash(path));
    }
  }
  bool Knows(const std::string& path) const {
    return !hashes_.empty() && hashes_.count(Hash(path)) != 0;
  }
  // After `from` was renamed to `to`.
  void Follow(const std::string& from, const std::string& to) {
    if (!hashes_.empty() && hashes_.erase(Hash(from)) != 0) {
      hashes_.insert(Hash(to));
    }
  }

 private:
  static size_t Hash(const std::string& path) {
    return std::hash<std::string>()(path);
  }
  std::unordered_set<size_t> hashes_;
};
using SharedKnownFiles = std::shared_ptr<KnownFiles>;

class PosixFileMover : public FileMover {
 public:
  PosixFileMover(ChangeCount changes, Renamer renamer, SharedKnownFiles known)
      : changes_(std::move(changes)),
        renamer_(std::move(renamer)),
        known_(std::move(known)) {}

  void Move(const Text& source, const Text& destination) override {
    posix::AssignPathBytes(source, from_);
    const bool own_last_target = IsOwnLastTarget(from_);
    if (!own_last_target && !known_->Knows(from_) && IsFolder(from_)) {
      Raise(kFileNotFound);  // files only
    }
    posix::AssignPathBytes(destination, to_);
    if (!destination.empty() && destination.back() == u'/') {
      // Into that folder, under the source's own name.
      const size_t cut = source.rfind(u'/');
      const TextView name = cut == Text::npos
                                ? TextView(source)
                                : TextView(source).substr(cut + 1);
      AppendUtf8(name, to_);
    }
    // Straight back to where the last move took it from: that name was
    // freed a moment ago, by this mover.
    const int error = own_last_target && to_ == last_source_
                          ? renamer_->RenameOntoFreedName(from_, to_)
                          : renamer_->Rename(from_, to_);
    ++*changes_;
    if (error != 0) {
      last_target_.clear();
      RaiseRenameError(error, from_);
    }
    known_->Follow(from_, to_);
    last_target_.assign(to_);
    last_source_.assign(from_);
    changes_at_last_target_ = *changes_;
  }

 private:
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
  SharedKnownFiles known_;
  std::string last_target_;  // empty when the last move failed
  std::string last_source_;  // where the last move took its file from
  uint64_t changes_at_last_target_ = 0;
  // The byte paths of the current move; kept to reuse their storage.
  std::string from_, to_;
};

class PosixPlatform : public Platform {
 public:
  PosixPlatform(int argc, char** argv) {
    if (argc > 0 && argv != nullptr && argv[0] != nullptr) argv0_ = argv[0];
    // Options are read only before a lone "--": what follows is a command,
    // kept byte for byte, whose paths may hold "/debug" or "/launch".
    for (int i = 1; i < argc; ++i) {
      const std::string_view argument = argv[i];
      if (has_command_) {
        command_.emplace_back(argument);
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
    if (claim_fd_ >= 0) close(claim_fd_);
  }

  char16_t Separator() const override { return u'/'; }

  Text ArgumentText() override { return arguments_; }

  Text ProgramFolder() override {
    std::string program = ProgramPath();
    const size_t cut = program.rfind('/');
    program.resize(cut == std::string::npos ? 0 : cut);
    return DecodeUtf8(program);
  }

  // The claim is a lock on the folder itself. It belongs to the open folder,
  // which is kept until the process ends and is closed in every program
  // started, so the lock ends with this process however it ends.
  bool ClaimFolder(const Text& folder) override {
    if (claim_fd_ >= 0) return true;
    const int fd =
        open(PathBytes(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return true;
    int result;
    do {
      result = flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
      claim_fd_ = fd;
      return true;
    }
    const int error = errno;
    close(fd);
    return error != EWOULDBLOCK;
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
    if (mkdir(bytes.c_str(), 0777) != 0) {
      RaiseError(errno, PathRole::kFolder, bytes);
    }
    known_->Learn(bytes, false);
  }

  void RemoveFolder(const Text& path) override {
    ++*changes_;
    const std::string bytes = PathBytes(path);
    if (rmdir(bytes.c_str()) != 0) {
      RaiseError(errno, PathRole::kFolder, bytes);
    }
  }

  void RenameEntry(const Text& old_path, const Text& new_path) override {
    ++*changes_;
    std::string& from = rename_from_;
    std::string& to = rename_to_;
    posix::AssignPathBytes(old_path, from);
    posix::AssignPathBytes(new_path, to);
    if (old_path == new_path) {
      struct stat status;
      if (lstat(from.c_str(), &status) != 0) {
        RaiseError(errno, PathRole::kExisting, from);
      }
      return;
    }
    // A folder keeps its name where renaming it would lose what it holds.
    if (LosesRenamedFolders(from) && IsFolder(from)) {
      Raise(kPathFileAccessError);
    }
    const int error = renamer_->Rename(from, to);
    if (error != 0) RaiseRenameError(error, from);
    known_->Follow(from, to);
  }

  Text FolderNameInAnyCase(const Text& folder, const Text& name) override {
    try {
      const std::string exact = PathBytes(folder + u'/' + name);
      if (Exists(exact)) return name;
      FolderReader reader;
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
    return std::make_unique<PosixFileMover>(changes_, renamer_, known_);
  }

  // What the system already knows is taken, as in `IsFolder`: a FUSE file
  // system is not asked again for facts it gave a moment ago.
  EntryFacts FactsOf(const Text& path) override {
    const std::string bytes = PathBytes(path);
    EntryFacts facts;
#ifdef STATX_TYPE
    struct statx status;
    if (statx(AT_FDCWD, bytes.c_str(), AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC,
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
    if (lstat(bytes.c_str(), &status) != 0) {
      RaiseError(errno, PathRole::kExisting, bytes);
    }
    facts.folder = S_ISDIR(status.st_mode);
    if (!facts.folder) {
      facts.size = static_cast<uint64_t>(status.st_size);
      facts.modified = static_cast<int64_t>(status.st_mtim.tv_sec);
    }
#endif
    known_->Learn(bytes, !facts.folder);
    return facts;
  }

  // Opened without blocking, so that a pipe in the file's place cannot hold
  // the run; only a regular file is read.
  std::string ReadWholeFile(const Text& path) override {
    const std::string bytes = PathBytes(path);
    const int fd = open(bytes.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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
    unlink(fresh.c_str());  // a folder there stays, and the open fails
    const int fd =
        open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) RaiseError(errno, PathRole::kTarget, fresh);
    int error = WriteAll(fd, content) ? 0 : errno;
    if (error == 0 && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    if (error != 0) {
      unlink(fresh.c_str());
      RaiseError(error, PathRole::kTarget, fresh);
    }
    if (rename(fresh.c_str(), target.c_str()) != 0) {
      error = errno;
      unlink(fresh.c_str());
      RaiseError(error, PathRole::kTarget, target);
    }
    // The rename is durable once the folder that holds the name is.
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

  void OpenLog(const Text& path) override {
    ++*changes_;
    const std::string bytes = PathBytes(path);
    CloseLog();
    // Emptied through one open and written through another: fusefat keeps
    // writing a file it emptied through the same open into the cluster it
    // freed, fails at the next cluster and loses the log on disk.
    int fd =
        open(bytes.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0 && close(fd) == 0) {
      fd = open(bytes.c_str(), O_WRONLY | O_CLOEXEC);
    }
    if (fd < 0) RaiseError(errno, PathRole::kTarget, bytes);
    log_fd_ = fd;
  }

  // Each line is written as it comes, so that it is in the file before the
  // next change to the music folder, and a run that is killed or fails to
  // write later keeps every line written before.
  void WriteLogLine(const Text& line) override {
    if (log_fd_ < 0) Raise(kBadFileNameOrNumber);
    log_line_ = EncodeWindows1252(line);
    log_line_ += "\r\n";
    if (!WriteAll(log_fd_, log_line_)) Raise(kPathFileAccessError);
  }

  void CloseLog() override {
    if (log_fd_ < 0) return;
    if (!CloseLogQuietly()) Raise(kPathFileAccessError);
  }

  void StartMaximized(const Text& program, const Text& arguments) override {
    ++*changes_;
    struct stat status;
    const std::string path = ProgramFile(program, status);
    if (S_ISDIR(status.st_mode)) Raise(kPathFileAccessError);
    if (IsSelf(status)) Raise(kStartsItself);

    std::vector<std::string> words = {path};
    for (const Text& argument : SplitArguments(arguments)) {
      words.push_back(EncodeUtf8(argument));
    }
    std::vector<char*> argv;
    for (std::string& word : words)
      argv.push_back(word.data());
    argv.push_back(nullptr);

    // The program starts in its own folder, where games look for their
    // data. A relative path is taken from there.
    const size_t cut = path.rfind('/');
    const std::string folder = cut == std::string::npos ? "."
                               : cut == 0               ? "/"
                                                        : path.substr(0, cut);
    const std::string run = path[0] == '/' ? path : "./" + path.substr(cut + 1);
    posix_spawn_file_actions_t actions;
    int error = posix_spawn_file_actions_init(&actions);
    if (error != 0) RaiseError(error, PathRole::kExisting, path);
    error = posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t child = 0;
    if (error == 0) {
      error = posix_spawn(&child, run.c_str(), &actions, nullptr, argv.data(),
                          environ);
    }
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) RaiseError(error, PathRole::kExisting, path);
  }

  bool IsOwnProgram(const Text& program) override {
    struct stat status;
    try {
      ProgramFile(program, status);
    } catch (const Failure&) {
      return false;
    }
    return IsSelf(status);
  }

  TextView ProgramExtension() const override {
    return TextView();
  }

  bool HasCommand() const override {
    return has_command_;
  }

  // The command is found as a shell finds it, through PATH unless it holds
  // a "/", and starts in the folder Shuffler was started in. Every other
  // file Shuffler opens is closed on exec.
  void RunCommand() override {
    CloseLogQuietly();
    std::fflush(nullptr);
    std::vector<char*> argv;
    for (std::string& word : command_)
      argv.push_back(word.data());
    argv.push_back(nullptr);
    if (!command_.empty()) execvp(argv[0], argv.data());
    // Only a command that cannot start comes back here.
    const int error = command_.empty() ? ENOENT : errno;
    exit_status_ = error == ENOENT ? 127 : 126;
    RaiseError(error, PathRole::kExisting,
               command_.empty() ? std::string() : command_[0]);
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
    WriteAll(STDERR_FILENO, EncodeUtf8(message));
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

  // The path the program was started by, in a folder without symbolic
  // links. Started through a symbolic link, that is the link, not its target:
  // the program belongs to the folder it was started from, as on Windows,
  // and finds its music next to the link. /proc/self/exe names the target,
  // so it only checks that the path the program was started by (argv[0], or
  // the folder of PATH it was found in) names this very program, and stands
  // in when it does not. Without /proc that path is taken as it is.
  std::string ProgramPath() {
    struct stat self;
    const bool knows_self = stat("/proc/self/exe", &self) == 0;
    const auto is_self = [&](const std::string& path) {
      struct stat status;
      if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return false;
      }
      return knows_self
                 ? status.st_dev == self.st_dev && status.st_ino == self.st_ino
                 : access(path.c_str(), X_OK) == 0;
    };
    for (const std::string& started : StartedPaths()) {
      if (!is_self(started)) continue;
      const size_t cut = started.rfind('/');
      const std::string folder = cut == 0 ? "/" : started.substr(0, cut);
      std::unique_ptr<char, decltype(&std::free)> resolved(
          realpath(folder.c_str(), nullptr), &std::free);
      if (resolved == nullptr) continue;
      std::string path = resolved.get();
      if (path != "/") path += '/';
      return path + started.substr(cut + 1);
    }
    std::string buffer(256, '\0');
    for (;;) {
      const ssize_t length =
          readlink("/proc/self/exe", buffer.data(), buffer.size());
      if (length < 0) break;
      if (static_cast<size_t>(length) < buffer.size()) {
        buffer.resize(static_cast<size_t>(length));
        return buffer;
      }
      buffer.resize(buffer.size() * 2);
    }
    RaiseError(errno, PathRole::kExisting, "/proc/self/exe");
  }

  // The paths argv[0] may have been started by, each with a '/': itself
  // when it has one; else where a search of PATH finds it, in order, and
  // the working folder (a program started by its bare name without a
  // search).
  std::vector<std::string> StartedPaths() const {
    if (argv0_.empty()) return {};
    if (argv0_.find('/') != std::string::npos) return {argv0_};
    std::vector<std::string> paths;
    const char* search = std::getenv("PATH");
    std::string_view folders = search != nullptr ? search : "";
    while (search != nullptr) {
      const size_t cut = folders.find(':');
      const std::string_view folder = folders.substr(0, cut);
      paths.push_back(
          (folder.empty() ? std::string(".") : std::string(folder)) + "/" +
          argv0_);
      if (cut == std::string_view::npos) break;
      folders.remove_prefix(cut + 1);
    }
    paths.push_back("./" + argv0_);
    return paths;
  }

  // True when the folder of `path` is on a file system that loses the
  // contents of a renamed folder; learnt once per folder.
  bool LosesRenamedFolders(const std::string& path) {
    const size_t cut = path.rfind('/');
    const std::string_view folder =
        cut == std::string::npos ? std::string_view(".")
        : cut == 0               ? std::string_view("/")
                                 : std::string_view(path).substr(0, cut);
    if (folder != checked_folder_) {
      checked_folder_.assign(folder);
      loses_folders_ = posix::LosesRenamedFolderContents(checked_folder_);
    }
    return loses_folders_;
  }

  // The file `StartMaximized` starts for `program`, with its `status`
  // (links followed): `program` itself, or where it is missing the file of
  // its folder whose name differs only in letter case.
  static std::string ProgramFile(const Text& program, struct stat& status) {
    std::string path = PathBytes(program);
    if (stat(path.c_str(), &status) == 0) return path;
    if (errno != ENOENT) RaiseError(errno, PathRole::kExisting, path);
    const Place place = PlaceOf(program);
    const Text name = FindIgnoringCase(place);
    if (name.empty()) Raise(kFileNotFound);
    path = PathBytes(place.prefix + name);
    if (stat(path.c_str(), &status) != 0) {
      RaiseError(errno, PathRole::kExisting, path);
    }
    return path;
  }

  // True when `status` is that of the file this process runs: the same
  // file, whatever name or link it was reached by.
  static bool IsSelf(const struct stat& status) {
    struct stat self;
    return stat("/proc/self/exe", &self) == 0 && status.st_dev == self.st_dev &&
           status.st_ino == self.st_ino;
  }

  // The exact-name lookup of `path` (whose parts are `place`).
  Text LookUp(const std::string& path, const Place& place, ListMask mask) {
    if (IsHidden(place.name) && !AdmitsDotNames(mask)) return Text();
    struct stat status;
    if (lstat(path.c_str(), &status) == 0) {
      const bool admitted =
          (AdmitsFolders(mask) || !S_ISDIR(status.st_mode)) &&
          !HasHiddenOrSystemAttribute(place.folder, PathBytes(place.name));
      return admitted ? NameOnDisk(path, place) : Text();
    }
    const int error = errno;
    if (error != ENOENT && error != ENOTDIR) {
      RaiseError(error, PathRole::kExisting, path);
    }
    // Windows names ignore letter case, and launching relies on that.
    if (error == ENOENT && mask == ListMask::kNormalFiles) {
      return FindIgnoringCase(place);
    }
    return Text();
  }

  void EndListing() {
    reader_.Close();
    listing_ = Listing::kNone;
  }

  // Closes the log; false when closing failed.
  bool CloseLogQuietly() {
    if (log_fd_ < 0) return true;
    const bool closed = close(log_fd_) == 0;
    log_fd_ = -1;
    return closed;
  }

  std::string argv0_;
  Text arguments_;
  bool has_command_ = false;
  std::vector<std::string> command_;  // the words after "--", as given
  int exit_status_ = 0;

  // The byte paths of the current rename; kept to reuse their storage.
  std::string rename_from_, rename_to_;
  // The last folder renamed in, and whether it loses renamed folders.
  std::string checked_folder_;
  bool loses_folders_ = false;
  // Counts every change made through the platform and its movers.
  ChangeCount changes_ = std::make_shared<uint64_t>(0);
  Renamer renamer_ = std::make_shared<posix::NoReplaceRenamer>();
  SharedKnownFiles known_ = std::make_shared<KnownFiles>();

  FolderReader reader_;
  Listing listing_ = Listing::kNone;
  Text list_name_;
  ListMask list_mask_ = ListMask::kNormalFiles;

  int log_fd_ = -1;
  std::string log_line_;  // the line being written

  int claim_fd_ = -1;  // the folder this run claimed, locked
};

}  // namespace

std::unique_ptr<Platform> CreateSystemPlatform(int argc, char** argv) {
  return std::make_unique<PosixPlatform>(argc, argv);
}

}  // namespace shuffler
