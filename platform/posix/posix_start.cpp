#include "platform/posix/posix_start.h"

#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/arguments.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/utf8.h"

extern char** environ;

namespace shuffler::posix {

namespace {

FileIdentity IdentityOf(const struct stat& status) {
  return {static_cast<uint64_t>(status.st_dev),
          static_cast<uint64_t>(status.st_ino)};
}

}  // namespace

ProgramFile ProgramFileOf(const Text& program,
                          const FindInAnyCase& find_in_any_case) {
  ProgramFile file;
  file.path = PathBytes(program);
  struct stat status;
  if (stat(file.path.c_str(), &status) != 0) {
    if (errno != ENOENT) RaiseError(errno, PathRole::kExisting, file.path);
    const TextView name = NameOf(TextView(program));
    const Text found = find_in_any_case(PathBytes(FolderOf(TextView(program))),
                                        Text(name));
    if (found.empty()) Raise(kFileNotFound);
    file.path = PathBytes(program.substr(0, program.size() - name.size()) +
                          found);
    if (stat(file.path.c_str(), &status) != 0) {
      RaiseError(errno, PathRole::kExisting, file.path);
    }
  }
  file.identity = IdentityOf(status);
  file.folder = S_ISDIR(status.st_mode);
  return file;
}

OwnProgram::OwnProgram(const char* argv0) {
  if (argv0 != nullptr) argv0_ = argv0;
}

// /proc/self/exe names the target of a link, so it only checks that the
// path the program was started by (argv[0], or the folder of PATH it was
// found in) names this very program, and stands in when it does not.
// Without /proc that path is taken as it is.
std::string OwnProgram::Path() const {
  struct stat self;
  const bool knows_self = stat("/proc/self/exe", &self) == 0;
  const auto is_self = [&](const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
      return false;
    }
    return knows_self ? IdentityOf(status) == IdentityOf(self)
                      : access(path.c_str(), X_OK) == 0;
  };
  for (const std::string& started : StartedPaths()) {
    if (!is_self(started)) continue;
    const std::unique_ptr<char, decltype(&std::free)> resolved(
        realpath(std::string(FolderOf(started)).c_str(), nullptr), &std::free);
    if (resolved == nullptr) continue;
    std::string path = resolved.get();
    if (path != "/") path += '/';
    return path.append(NameOf(started));
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

bool OwnProgram::Is(const FileIdentity& identity) const {
  struct stat self;
  return stat("/proc/self/exe", &self) == 0 && identity == IdentityOf(self);
}

// The paths argv[0] may have been started by, each with a '/': itself when
// it has one; else where a search of PATH finds it, in order, and the
// working folder (a program started by its bare name without a search).
std::vector<std::string> OwnProgram::StartedPaths() const {
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
                        environ);
  }
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) RaiseError(error, PathRole::kExisting, path);
}

}  // namespace shuffler::posix
