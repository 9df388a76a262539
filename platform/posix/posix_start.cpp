#include "platform/posix/posix_start.h"

#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/auxv.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/arguments.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/utf8.h"

extern char** environ;

namespace shuffler::posix {

namespace {

// The mark in the environment of a program Shuffler starts: the path of
// that program. A Shuffler that finds its own file named there was started
// by a Shuffler.
constexpr std::string_view kStartMark = "SHUFFLER_LAUNCHED";

FileIdentity IdentityOf(const struct stat& status) {
  return {static_cast<uint64_t>(status.st_dev),
          static_cast<uint64_t>(status.st_ino)};
}

// The identity of the file at `path`, links followed, when it is a file.
std::optional<FileIdentity> FileIdentityOf(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return std::nullopt;
  }
  return IdentityOf(status);
}

// The path the system started this program by (what execve was given), or
// empty where the system does not say.
std::string ExecutedPath() {
#if defined(__linux__) && defined(AT_EXECFN)
  const char* path = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  if (path != nullptr) return path;
#endif
  return std::string();
}

// The paths argv[0] may have been started by, each with a '/': itself when
// it has one; else where a search of PATH finds it, in order, and the
// working folder (a program started by its bare name without a search).
std::vector<std::string> StartedPaths(const std::string& argv0) {
  if (argv0.empty()) return {};
  if (argv0.find('/') != std::string::npos) return {argv0};
  std::vector<std::string> paths;
  const char* search = std::getenv("PATH");
  std::string_view folders = search != nullptr ? search : "";
  while (search != nullptr) {
    const size_t cut = folders.find(':');
    const std::string_view folder = folders.substr(0, cut);
    paths.push_back((folder.empty() ? std::string(".") : std::string(folder)) +
                    "/" + argv0);
    if (cut == std::string_view::npos) break;
    folders.remove_prefix(cut + 1);
  }
  paths.push_back("./" + argv0);
  return paths;
}

// `path` with its folder resolved: a path without symbolic links in its
// folder, or empty when the folder cannot be resolved.
std::string InResolvedFolder(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(
      realpath(std::string(FolderOf(path)).c_str(), nullptr), &std::free);
  if (resolved == nullptr) return std::string();
  std::string folder = resolved.get();
  if (folder != "/") folder += '/';
  return folder.append(NameOf(path));
}

// The target of /proc/self/exe, or empty when it cannot be read.
std::string ProcessFile() {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length =
        readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::string();
    if (static_cast<size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<size_t>(length));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

ProgramFile ProgramFileOf(const Text& program,
                          const FindInAnyCase& find_in_any_case,
                          const OwnProgram& own) {
  ProgramFile file;
  file.path = PathBytes(program);
  struct stat status;
  if (stat(file.path.c_str(), &status) != 0) {
    if (errno != ENOENT) RaiseError(errno, PathRole::kExisting, file.path);
    // Where several names differ only in letter case, Shuffler's own file
    // under one of them is never the program meant.
    const TextView name = NameOf(TextView(program));
    const Text prefix = program.substr(0, program.size() - name.size());
    const Text found = find_in_any_case(
        PathBytes(FolderOf(TextView(program))), Text(name),
        [&](const Text& other) {
          const auto identity = FileIdentityOf(PathBytes(prefix + other));
          return identity && !own.Is(*identity);
        });
    if (found.empty()) Raise(kFileNotFound);
    file.path = PathBytes(prefix + found);
    if (stat(file.path.c_str(), &status) != 0) {
      RaiseError(errno, PathRole::kExisting, file.path);
    }
  }
  file.identity = IdentityOf(status);
  file.folder = S_ISDIR(status.st_mode);
  return file;
}

// The file this process runs is the one /proc/self/exe names. Without /proc
// it is the one the system was asked to start, which is taken as soon as
// the program starts. The path the program goes by is the first that names
// that very file: the one it was started by, then argv[0] (or the folder of
// PATH it was found in). /proc/self/exe, which names the target of a link,
// stands in when none does. Nothing else is taken for it: an executable
// that merely has the program's name may be another program entirely.
OwnProgram::OwnProgram(const char* argv0) {
  const std::string executed = ExecutedPath();
  struct stat status;
  if (stat("/proc/self/exe", &status) == 0) {
    identity_ = IdentityOf(status);
    identity_known_ = true;
  } else if (const auto identity = FileIdentityOf(executed)) {
    identity_ = *identity;
    identity_known_ = true;
  }
  std::vector<std::string> candidates =
      StartedPaths(argv0 != nullptr ? argv0 : "");
  if (!executed.empty()) candidates.insert(candidates.begin(), executed);
  for (const std::string& candidate : candidates) {
    const auto identity = FileIdentityOf(candidate);
    if (!identity || !Is(*identity)) continue;
    path_ = InResolvedFolder(candidate);
    // A path through the system's process files (/proc/self/exe, or
    // /dev/fd/N for a program started by its open file) is no game folder.
    if (path_.starts_with("/proc/")) path_.clear();
    if (!path_.empty()) break;
  }
  if (path_.empty() && identity_known_) path_ = ProcessFile();
  if (path_.empty()) error_ = errno;

  // The mark is for this program only, never for what it starts later.
  if (const char* mark = std::getenv(std::string(kStartMark).c_str())) {
    const auto identity = FileIdentityOf(mark);
    started_by_itself_ = identity && Is(*identity);
    unsetenv(std::string(kStartMark).c_str());
  }
}

std::string OwnProgram::Path() const {
  if (path_.empty()) {
    RaiseSystemFailure(kOwnFolderUnknown, error_, Text());
  }
  return path_;
}

bool OwnProgram::Is(const FileIdentity& identity) const {
  return identity_known_ && identity == identity_;
}

// The program starts in its own folder, where games look for their data. A
// relative path is taken from there.
void StartProgram(const std::string& path, const Text& arguments) {
  std::vector<std::string> words = {path};
  for (const Text& argument : SplitArguments(arguments)) {
    words.push_back(EncodeUtf8(argument));
  }
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  // The mark names the program by a path that holds wherever it starts.
  std::string mark = std::string(kStartMark) + "=";
  if (!path.starts_with('/')) {
    const std::unique_ptr<char, decltype(&std::free)> working(
        getcwd(nullptr, 0), &std::free);
    if (working != nullptr) mark.append(working.get()).append("/");
  }
  mark += path;
  std::vector<char*> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string_view text = *variable;
    if (!(text.starts_with(kStartMark) &&
          text.substr(kStartMark.size()).starts_with('='))) {
      environment.push_back(*variable);
    }
  }
  environment.push_back(mark.data());
  environment.push_back(nullptr);

  const std::string folder(FolderOf(path));
  const std::string run =
      path.starts_with('/') ? path : "./" + std::string(NameOf(path));
  posix_spawn_file_actions_t actions;
  int error = posix_spawn_file_actions_init(&actions);
  if (error != 0) RaiseError(error, PathRole::kExisting, path);
  error = posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t child = 0;
  if (error == 0) {
    error = posix_spawn(&child, run.c_str(), &actions, nullptr, argv.data(),
                        environment.data());
  }
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) RaiseError(error, PathRole::kExisting, path);
}

}  // namespace shuffler::posix
