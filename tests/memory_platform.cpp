#include "tests/memory_platform.h"

#include <algorithm>

#include "platform/names.h"

namespace shuffler::testing {

namespace {

constexpr char16_t kSep = MemoryWorld::kSep;
constexpr int64_t kFirstModified = 1700000000;

Text ParentOf(const Text& path) {
  const size_t cut = path.rfind(kSep);
  return cut == Text::npos ? Text() : path.substr(0, cut);
}

Text NameOf(const Text& path) {
  const size_t cut = path.rfind(kSep);
  return cut == Text::npos ? path : path.substr(cut + 1);
}

bool EndsWithSep(const Text& path) {
  return !path.empty() && path.back() == MemoryWorld::kSep;
}

class MemoryMover : public FileMover {
 public:
  explicit MemoryMover(MemoryPlatform& platform) : platform_(platform) {}
  void Move(const Text& source, const Text& destination) override {
    platform_.Move(source, destination);
  }

 private:
  MemoryPlatform& platform_;
};

}  // namespace

MemoryWorld::MemoryWorld() {
  AddFolder(u"C:");
  AddFolder(u"C:\\Game");
}

void MemoryWorld::AddFolder(const Text& path, bool hidden) {
  const uint64_t order = next_order_++;
  nodes_[path] = Node{
      true, hidden, {}, order, kFirstModified + static_cast<int64_t>(order)};
}

void MemoryWorld::AddFile(const Text& path, std::string content, bool hidden) {
  const uint64_t order = next_order_++;
  nodes_[path] = Node{false, hidden, std::move(content), order,
                      kFirstModified + static_cast<int64_t>(order)};
}

void MemoryWorld::SetModified(const Text& path, int64_t modified) {
  nodes_.at(path).modified = modified;
}

void MemoryWorld::AddMusic(const std::vector<Text>& names) {
  const Text music(kMusic);
  if (!Exists(music)) AddFolder(music);
  for (const Text& name : names)
    AddFile(music + kSep + name, Narrow(name));
}

bool MemoryWorld::IsFolder(const Text& path) const {
  auto it = nodes_.find(path);
  return it != nodes_.end() && it->second.folder;
}

std::string MemoryWorld::Content(const Text& path) const {
  auto it = nodes_.find(path);
  return it == nodes_.end() ? std::string() : it->second.content;
}

std::vector<Text> MemoryWorld::Children(const Text& folder) const {
  std::vector<std::pair<uint64_t, Text>> found;
  const Text prefix = folder + kSep;
  for (auto it = nodes_.lower_bound(prefix);
       it != nodes_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
       ++it) {
    if (it->first.find(kSep, prefix.size()) == Text::npos) {
      found.emplace_back(it->second.order, it->first.substr(prefix.size()));
    }
  }
  std::sort(found.begin(), found.end());
  std::vector<Text> names;
  for (auto& entry : found)
    names.push_back(std::move(entry.second));
  return names;
}

std::vector<Text> MemoryWorld::Names(const Text& folder) const {
  return Children(folder);
}

std::vector<std::string> MemoryWorld::ContentsBelow(const Text& folder) const {
  std::vector<std::string> contents;
  const Text prefix = folder + kSep;
  for (const auto& [path, node] : nodes_) {
    if (!node.folder && path.compare(0, prefix.size(), prefix) == 0) {
      contents.push_back(node.content);
    }
  }
  std::sort(contents.begin(), contents.end());
  return contents;
}

Text MemoryWorld::Resolve(const Text& path) const {
  if (!ignore_case || Exists(path)) return path;
  const size_t cut = path.rfind(kSep);
  if (cut == Text::npos) return path;
  const Text parent = Resolve(path.substr(0, cut));
  const Text name = path.substr(cut + 1);
  for (const Text& child : Children(parent)) {
    if (EqualsIgnoringAsciiCase(child, name)) return parent + kSep + child;
  }
  return parent + kSep + name;
}

bool MemoryPlatform::ClaimFolder(const Text& folder, Claim claim) {
  world_.claims.push_back(folder);
  world_.claim_kinds.push_back(claim);
  return world_.claimed_elsewhere.count(folder) == 0;
}

Text MemoryPlatform::ListFirst(const Text& pattern, ListMask mask) {
  return StartListing(pattern, mask, false);
}

Text MemoryPlatform::FindEntry(const Text& path, ListMask mask) {
  // Without wildcards a look-up is the listing of that name; the others are
  // looked up here, as where "*" and "?" are characters of a name.
  return StartListing(path, mask, HasWildcards(NameOf(path)));
}

Text MemoryPlatform::StartListing(const Text& pattern, ListMask mask,
                                  bool literal) {
  listing_.clear();
  listing_open_ = true;
  const Text folder = world_.Resolve(ParentOf(pattern));
  const Text name_pattern = NameOf(pattern);
  if (!world_.IsFolder(folder)) return Text();

  auto admitted = [&](const Text& name) {
    const MemoryWorld::Node& node = world_.nodes_.at(folder + kSep + name);
    const bool dot_hidden = world_.dot_names_hidden && !name.empty() &&
                            name[0] == u'.' && !AdmitsDotNames(mask);
    return !node.hidden && !dot_hidden && (AdmitsFolders(mask) || !node.folder);
  };
  const auto matches_pattern = [&](TextView name) {
    return literal ? name == name_pattern : MatchesPattern(name, name_pattern);
  };
  if (AdmitsFolders(mask) && matches_pattern(u".")) {
    listing_ = {u".", u".."};
  }
  const bool any_case =
      world_.ignore_case && (literal || !HasWildcards(name_pattern));
  for (const Text& name : world_.Children(folder)) {
    const bool matches = any_case ? EqualsIgnoringAsciiCase(name, name_pattern)
                                  : matches_pattern(name);
    if (matches && admitted(name)) {
      listing_.push_back(name);
    }
  }
  // A file looked up by its exact name is found in any letter case, as on
  // Windows.
  if (listing_.empty() && !AdmitsFolders(mask) &&
      (literal || !HasWildcards(name_pattern))) {
    for (const Text& name : world_.Children(folder)) {
      if (EqualsIgnoringAsciiCase(name, name_pattern) && admitted(name)) {
        listing_.push_back(name);
        break;
      }
    }
  }
  return NextListed();
}

Text MemoryPlatform::ListNext() {
  if (!listing_open_) Raise(kInvalidArgument);
  return NextListed();
}

Text MemoryPlatform::NextListed() {
  if (listing_.empty()) {
    listing_open_ = false;
    return Text();
  }
  Text name = std::move(listing_.front());
  listing_.pop_front();
  return name;
}

void MemoryPlatform::RequireFolder(const Text& folder) const {
  if (!world_.IsFolder(folder)) Raise(kPathNotFound);
}

void MemoryPlatform::MakeFolder(const Text& given) {
  const Text path = world_.Resolve(given);
  if (world_.Exists(path)) Raise(kPathFileAccessError);
  RequireFolder(ParentOf(path));
  world_.AddFolder(path);
}

void MemoryPlatform::RemoveFolder(const Text& given) {
  const Text path = world_.Resolve(given);
  if (!world_.IsFolder(path)) Raise(kPathNotFound);
  if (!world_.Children(path).empty()) Raise(kPathFileAccessError);
  world_.nodes_.erase(path);
}

void MemoryWorld::MoveTree(const Text& from, const Text& to, bool recreate) {
  Node top = nodes_.at(from);
  nodes_.erase(from);
  if (recreate) top.order = next_order_++;
  std::vector<std::pair<Text, Node>> moved;
  const Text prefix = from + kSep;
  for (auto it = nodes_.lower_bound(prefix);
       it != nodes_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
       it = nodes_.erase(it)) {
    moved.emplace_back(to + it->first.substr(from.size()), it->second);
  }
  nodes_[to] = top;
  for (auto& [path, node] : moved)
    nodes_[path] = std::move(node);
}

void MemoryPlatform::RenameEntry(const Text& old_given, const Text& new_given) {
  const Text old_path = world_.Resolve(old_given);
  const Text new_path = world_.Resolve(new_given);
  if (!world_.Exists(old_path)) Raise(kFileNotFound);
  if (old_path == new_path) return;
  if (world_.Exists(new_path)) Raise(kFileAlreadyExists);
  RequireFolder(ParentOf(new_path));
  if (new_path.compare(0, old_path.size() + 1, old_path + kSep) == 0) {
    Raise(kPathFileAccessError);  // a folder into itself
  }
  // A rename keeps the entry where it is in its folder's order.
  world_.MoveTree(old_path, new_path, false);
}

std::unique_ptr<FileMover> MemoryPlatform::CreateFileMover() {
  return std::make_unique<MemoryMover>(*this);
}

void MemoryPlatform::Move(const Text& given, const Text& destination) {
  const Text source = world_.Resolve(given);
  if (!world_.Exists(source) || world_.IsFolder(source)) Raise(kFileNotFound);
  Text target = destination;
  if (EndsWithSep(destination)) target += NameOf(source);
  target = world_.Resolve(target);
  RequireFolder(ParentOf(target));
  if (world_.Exists(target)) Raise(kFileAlreadyExists);
  // A move re-creates the file: it now comes last in its folder's order.
  world_.MoveTree(source, target, true);
}

EntryFacts MemoryPlatform::FactsOf(const Text& given) {
  const Text path = world_.Resolve(given);
  if (!world_.Exists(path)) Raise(kFileNotFound);
  const MemoryWorld::Node& node = world_.nodes_.at(path);
  if (node.folder) return EntryFacts{true, 0, 0};
  return EntryFacts{false, node.content.size(), node.modified};
}

std::string MemoryPlatform::ReadWholeFile(const Text& given) {
  const Text path = world_.Resolve(given);
  if (!world_.Exists(path)) Raise(kFileNotFound);
  if (world_.IsFolder(path)) Raise(kPathFileAccessError);
  const std::string& content = world_.nodes_.at(path).content;
  if (content.size() > kLargestWholeFile) Raise(kOutOfMemory);
  return content;
}

void MemoryPlatform::ReplaceWholeFile(const Text& given,
                                      std::string_view bytes) {
  const Text path = world_.Resolve(given);
  if (world_.IsFolder(path)) Raise(kPathFileAccessError);
  RequireFolder(ParentOf(path));
  world_.AddFile(path, std::string(bytes));
}

void MemoryPlatform::OpenLog(const Text& path) {
  if (world_.IsFolder(path)) Raise(kPathFileAccessError);
  RequireFolder(ParentOf(path));
  if (!world_.Exists(path)) world_.AddFile(path);
  world_.nodes_[path].content.clear();
  log_path_ = path;
  log_open_ = true;
  world_.log_lines.clear();
}

void MemoryPlatform::WriteLogLine(const Text& line) {
  if (!log_open_) Raise(kBadFileNameOrNumber);
  world_.log_lines.push_back(line);
  if (world_.Exists(log_path_)) {
    world_.nodes_[log_path_].content += EncodeWindows1252(line) + "\r\n";
  }
}

Text MemoryWorld::ProgramFile(const Text& program) const {
  if (Exists(program)) return IsFolder(program) ? Text() : program;
  const Text folder = ParentOf(program);
  if (!IsFolder(folder)) return Text();
  Text first;
  for (const Text& child : Children(folder)) {
    const Text path = folder + kSep + child;
    if (EqualsIgnoringAsciiCase(child, NameOf(program)) && !IsFolder(path)) {
      if (own_program.count(path) == 0) return path;
      if (first.empty()) first = path;
    }
  }
  return first;
}

void MemoryPlatform::StartMaximized(const Text& program,
                                    const Text& arguments) {
  if (world_.IsFolder(program)) Raise(kPathFileAccessError);
  if (world_.ProgramFile(program).empty()) Raise(kFileNotFound);
  if (IsOwnProgram(program)) Raise(kStartsItself);
  world_.started.push_back(program);
  world_.started_arguments.push_back(arguments);
}

bool MemoryPlatform::IsOwnProgram(const Text& program) {
  const Text file = world_.ProgramFile(program);
  return !file.empty() && world_.own_program.count(file) != 0;
}

void MemoryPlatform::RunCommand() {
  if (!world_.has_command) Raise(kInvalidArgument);
  world_.command_ran = true;
  world_.log_open_at_command = log_open_;
  throw ProcessEnded{};
}

void MemoryPlatform::ShowStopBox(const Text& prompt, const Text& caption) {
  world_.boxes.push_back(
      {prompt, caption.empty() ? Text(u"Shuffler") : caption});
}

float MemoryPlatform::NextRandom() {
  if (world_.randoms.empty()) return PlatformDefaults::NextRandom();
  const float value = world_.randoms.front();
  world_.randoms.pop_front();
  return value;
}

void MemoryPlatform::EndProcess() {
  world_.ended = true;
  throw ProcessEnded{};
}

std::string Narrow(TextView text) {
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out += "\\u" + std::to_string(static_cast<int>(c));
    }
  }
  return out;
}

}  // namespace shuffler::testing
