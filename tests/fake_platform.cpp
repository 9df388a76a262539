#include "tests/fake_platform.h"

#include <algorithm>

#include "platform/names.h"

namespace shuffler::testing {

namespace {

Text ParentOf(const Text& path) {
  const size_t cut = path.rfind(FakePlatform::kSep);
  return cut == Text::npos ? Text() : path.substr(0, cut);
}

Text NameOf(const Text& path) {
  const size_t cut = path.rfind(FakePlatform::kSep);
  return cut == Text::npos ? path : path.substr(cut + 1);
}

bool EndsWithSep(const Text& path) {
  return !path.empty() && path.back() == FakePlatform::kSep;
}

class FakeMover : public FileMover {
 public:
  explicit FakeMover(FakePlatform& platform) : platform_(platform) {}
  void MoveFile(const Text& source, const Text& destination) override {
    platform_.MoveFile(source, destination);
  }

 private:
  FakePlatform& platform_;
};

}  // namespace

const char* OpName(Op op) {
  switch (op) {
    case Op::kArgumentText:
      return "ArgumentText";
    case Op::kProgramFolder:
      return "ProgramFolder";
    case Op::kListFirst:
      return "ListFirst";
    case Op::kListNext:
      return "ListNext";
    case Op::kMakeFolder:
      return "MakeFolder";
    case Op::kRemoveFolder:
      return "RemoveFolder";
    case Op::kRenameEntry:
      return "RenameEntry";
    case Op::kCreateFileMover:
      return "CreateFileMover";
    case Op::kMoveFile:
      return "MoveFile";
    case Op::kOpenLog:
      return "OpenLog";
    case Op::kWriteLogLine:
      return "WriteLogLine";
    case Op::kCloseLog:
      return "CloseLog";
    case Op::kStartMaximized:
      return "StartMaximized";
    case Op::kRunCommand:
      return "RunCommand";
    case Op::kShowStopBox:
      return "ShowStopBox";
    case Op::kClockSeed:
      return "ClockSeed";
    case Op::kCount:
      break;
  }
  return "?";
}

FakePlatform::FakePlatform() {
  AddFolder(u"C:");
  AddFolder(u"C:\\Game");
}

void FakePlatform::AddFolder(const Text& path, bool hidden) {
  nodes_[path] = Node{true, hidden, {}, next_order_++};
}

void FakePlatform::AddFile(const Text& path, std::string content, bool hidden) {
  nodes_[path] = Node{false, hidden, std::move(content), next_order_++};
}

void FakePlatform::AddMusic(const std::vector<Text>& names) {
  const Text music(kMusic);
  if (!Exists(music)) AddFolder(music);
  for (const Text& name : names)
    AddFile(music + kSep + name, Narrow(name));
}

bool FakePlatform::IsFolder(const Text& path) const {
  auto it = nodes_.find(path);
  return it != nodes_.end() && it->second.folder;
}

std::string FakePlatform::Content(const Text& path) const {
  auto it = nodes_.find(path);
  return it == nodes_.end() ? std::string() : it->second.content;
}

std::vector<Text> FakePlatform::Children(const Text& folder) const {
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

std::vector<Text> FakePlatform::Names(const Text& folder) const {
  return Children(folder);
}

std::vector<std::string> FakePlatform::ContentsBelow(const Text& folder) const {
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

void FakePlatform::FailCall(Op op, int nth, int32_t number) {
  injections_.push_back({op, nth, false, false, number});
}

void FakePlatform::FailFrom(Op op, int nth, int32_t number) {
  injections_.push_back({op, nth, true, false, number});
}

void FakePlatform::FailOverallCall(int k, int32_t number) {
  injections_.push_back({Op::kArgumentText, k, false, true, number});
}

int FakePlatform::CallsOf(Op op) const {
  return call_counts_[static_cast<size_t>(op)];
}

void FakePlatform::Enter(Op op) {
  calls.push_back(op);
  const int nth = ++call_counts_[static_cast<size_t>(op)];
  if (before_call) before_call(op, nth);
  for (const Injection& injection : injections_) {
    const bool hit =
        injection.overall
            ? injection.nth == OverallCalls()
            : injection.op == op && (injection.onwards ? nth >= injection.nth
                                                       : nth == injection.nth);
    if (hit) {
      ++injected;
      Raise(injection.number);
    }
  }
}

Text FakePlatform::ArgumentText() {
  Enter(Op::kArgumentText);
  return argument_text;
}

Text FakePlatform::ProgramFolder() {
  Enter(Op::kProgramFolder);
  return program_folder;
}

bool FakePlatform::ClaimFolder(const Text& folder) {
  claims.push_back(folder);
  return claimed_elsewhere.count(folder) == 0;
}

Text FakePlatform::Resolve(const Text& path) const {
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

Text FakePlatform::ListFirst(const Text& pattern, ListMask mask) {
  Enter(Op::kListFirst);
  return StartListing(pattern, mask, false);
}

Text FakePlatform::FindEntry(const Text& path, ListMask mask) {
  // Without wildcards a look-up is the listing of that name; the others are
  // looked up here, as where "*" and "?" are characters of a name.
  if (!HasWildcards(NameOf(path))) return ListFirst(path, mask);
  Enter(Op::kListFirst);
  return StartListing(path, mask, true);
}

Text FakePlatform::StartListing(const Text& pattern, ListMask mask,
                                bool literal) {
  listing_.clear();
  listing_open_ = true;
  const Text folder = Resolve(ParentOf(pattern));
  const Text name_pattern = NameOf(pattern);
  if (!IsFolder(folder)) return Text();

  auto admitted = [&](const Text& name) {
    const Node& node = nodes_.at(folder + kSep + name);
    const bool dot_hidden = dot_names_hidden && !name.empty() &&
                            name[0] == u'.' && !AdmitsDotNames(mask);
    return !node.hidden && !dot_hidden && (AdmitsFolders(mask) || !node.folder);
  };
  const auto matches_pattern = [&](TextView name) {
    return literal ? name == name_pattern : MatchesPattern(name, name_pattern);
  };
  if (AdmitsFolders(mask) && matches_pattern(u".")) {
    listing_ = {u".", u".."};
  }
  const bool any_case = ignore_case && (literal || !HasWildcards(name_pattern));
  for (const Text& name : Children(folder)) {
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
    for (const Text& name : Children(folder)) {
      if (EqualsIgnoringAsciiCase(name, name_pattern) && admitted(name)) {
        listing_.push_back(name);
        break;
      }
    }
  }
  return NextListed();
}

Text FakePlatform::ListNext() {
  Enter(Op::kListNext);
  if (!listing_open_) Raise(kInvalidArgument);
  return NextListed();
}

Text FakePlatform::NextListed() {
  if (listing_.empty()) {
    listing_open_ = false;
    return Text();
  }
  Text name = std::move(listing_.front());
  listing_.pop_front();
  return name;
}

void FakePlatform::RequireFolder(const Text& folder) const {
  if (!IsFolder(folder)) Raise(kPathNotFound);
}

void FakePlatform::MakeFolder(const Text& given) {
  Enter(Op::kMakeFolder);
  const Text path = Resolve(given);
  if (Exists(path)) Raise(kPathFileAccessError);
  RequireFolder(ParentOf(path));
  AddFolder(path);
}

void FakePlatform::RemoveFolder(const Text& given) {
  Enter(Op::kRemoveFolder);
  const Text path = Resolve(given);
  if (!IsFolder(path)) Raise(kPathNotFound);
  if (!Children(path).empty()) Raise(kPathFileAccessError);
  nodes_.erase(path);
}

void FakePlatform::MoveTree(const Text& from, const Text& to, bool recreate) {
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

void FakePlatform::RenameEntry(const Text& old_given, const Text& new_given) {
  Enter(Op::kRenameEntry);
  const Text old_path = Resolve(old_given);
  const Text new_path = Resolve(new_given);
  if (!Exists(old_path)) Raise(kFileNotFound);
  if (old_path == new_path) return;
  if (Exists(new_path)) Raise(kFileAlreadyExists);
  RequireFolder(ParentOf(new_path));
  if (new_path.compare(0, old_path.size() + 1, old_path + kSep) == 0) {
    Raise(kPathFileAccessError);  // a folder into itself
  }
  // A rename keeps the entry where it is in its folder's order.
  MoveTree(old_path, new_path, false);
}

std::unique_ptr<FileMover> FakePlatform::CreateFileMover() {
  Enter(Op::kCreateFileMover);
  return std::make_unique<FakeMover>(*this);
}

void FakePlatform::MoveFile(const Text& given, const Text& destination) {
  Enter(Op::kMoveFile);
  const Text source = Resolve(given);
  if (!Exists(source) || IsFolder(source)) Raise(kFileNotFound);
  Text target = destination;
  if (EndsWithSep(destination)) target += NameOf(source);
  target = Resolve(target);
  RequireFolder(ParentOf(target));
  if (Exists(target)) Raise(kFileAlreadyExists);
  // A move re-creates the file: it now comes last in its folder's order.
  MoveTree(source, target, true);
}

void FakePlatform::OpenLog(const Text& path) {
  Enter(Op::kOpenLog);
  if (IsFolder(path)) Raise(kPathFileAccessError);
  RequireFolder(ParentOf(path));
  if (!Exists(path)) AddFile(path);
  nodes_[path].content.clear();
  log_path_ = path;
  log_open_ = true;
  log_lines.clear();
}

void FakePlatform::WriteLogLine(const Text& line) {
  Enter(Op::kWriteLogLine);
  if (!log_open_) Raise(kBadFileNameOrNumber);
  log_lines.push_back(line);
  if (Exists(log_path_)) {
    nodes_[log_path_].content += EncodeWindows1252(line) + "\r\n";
  }
}

void FakePlatform::CloseLog() {
  Enter(Op::kCloseLog);
  log_open_ = false;
}

Text FakePlatform::ProgramFile(const Text& program) const {
  if (Exists(program)) return IsFolder(program) ? Text() : program;
  const Text folder = ParentOf(program);
  if (!IsFolder(folder)) return Text();
  for (const Text& child : Children(folder)) {
    const Text path = folder + kSep + child;
    if (EqualsIgnoringAsciiCase(child, NameOf(program)) && !IsFolder(path)) {
      return path;
    }
  }
  return Text();
}

void FakePlatform::StartMaximized(const Text& program, const Text& arguments) {
  Enter(Op::kStartMaximized);
  if (IsFolder(program)) Raise(kPathFileAccessError);
  if (ProgramFile(program).empty()) Raise(kFileNotFound);
  if (IsOwnProgram(program)) Raise(kStartsItself);
  started.push_back(program);
  started_arguments.push_back(arguments);
}

bool FakePlatform::IsOwnProgram(const Text& program) {
  const Text file = ProgramFile(program);
  return !file.empty() && own_program.count(file) != 0;
}

void FakePlatform::RunCommand() {
  Enter(Op::kRunCommand);
  if (!has_command) Raise(kInvalidArgument);
  command_ran = true;
  log_open_at_command = log_open_;
  throw ProcessEnded{};
}

void FakePlatform::ShowStopBox(const Text& prompt, const Text& caption) {
  Enter(Op::kShowStopBox);
  boxes.push_back({prompt, caption.empty() ? Text(u"Shuffler") : caption});
}

float FakePlatform::NextRandom() {
  if (randoms.empty()) return Platform::NextRandom();
  const float value = randoms.front();
  randoms.pop_front();
  return value;
}

void FakePlatform::EndProcess() {
  ended = true;
  throw ProcessEnded{};
}

uint64_t FakePlatform::ClockSeed() {
  Enter(Op::kClockSeed);
  return clock_seed;
}

bool RunToEnd(frmOne& form) {
  try {
    form.RunStartup();
  } catch (const ProcessEnded&) {
    return true;
  }
  return false;
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
