// Choosing the program to start when the shuffle is done, and starting it.
#include <vector>

#include "app/launch.h"
#include "base/text.h"
#include "platform/names.h"

namespace shuffler {

namespace {

constexpr TextView kLaunchOption = u"/LAUNCH";
constexpr TextView kNoLaunchOption = u"/NOLAUNCH";

// The two game executables looked for next to the program, as tested and as
// started.
constexpr TextView kFirstGameFile = u"gta3.exe";
constexpr TextView kFirstGameName = u"GTA3.EXE";
constexpr TextView kSecondGameFile = u"gta-vc.exe";
constexpr TextView kSecondGameName = u"GTA-VC.EXE";

}  // namespace

namespace {

// The seven characters of "/LAUNCH" are followed by one separator, which is
// skipped whatever it is: the name starts right after it, or one character
// later when it is quoted. The search for the end of the name starts one
// character after a quoted name's first.
constexpr int64_t kNameOffset = kLaunchOption.size() + 1;
constexpr int64_t kQuotedNameOffset = kNameOffset + 1;
constexpr int64_t kNameEndSearchOffset = kQuotedNameOffset + 1;

// Looking for the games next to the program.
class GameSearch {
 public:
  GameSearch(Platform& platform, const Text& app_folder, LaunchTarget& target)
      : platform_(platform), app_folder_(app_folder), target_(target) {}

  // Whether a game file is there; it is kept in `FoundGame`.
  bool HasGame(TextView file, TextView other_case) {
    target_.FoundGame = FindGame(file, other_case);
    return !target_.FoundGame.empty();
  }

  // The game to start: `name`, the game's name in capitals, as where names
  // ignore letter case it is the file the look found. Where they do not,
  // `name` may be the program itself beside the game; the name the look
  // found is started then.
  Text GameToStart(TextView name) const {
    const bool other_file =
        !target_.FoundGame.empty() && platform_.IsOwnProgram(InFolder(name));
    return other_file ? target_.FoundGame : Text(name);
  }

 private:
  Text InFolder(TextView name) const {
    return app_folder_ + platform_.Separator() + Text(name);
  }

  // The name the game file `file` next to the program is listed by, when
  // that is a file other than the program itself; empty otherwise. Games
  // are looked for as normal files only. Where letter case tells names
  // apart, the program renamed to the game's name may stand beside the game
  // in the other case, so that spelling is looked for as well; and where
  // neither spelling is exact, the listing may show the program while a
  // start of the name takes the game, which is then the name to start.
  Text FindGame(TextView file, TextView other_case) {
    for (TextView name : {file, other_case}) {
      const Text found =
          platform_.ListFirst(InFolder(name), ListMask::kNormalFiles);
      if (found.empty()) return Text();
      if (!platform_.IsOwnProgram(InFolder(found))) return found;
      target_.OwnFile = found;
      if (!platform_.IsOwnProgram(InFolder(name))) return Text(name);
    }
    return Text();
  }

  Platform& platform_;
  const Text& app_folder_;
  LaunchTarget& target_;
};

}  // namespace

void ChooseLaunchTarget(Guard& g, Platform& platform, const Text& app_folder,
                        LaunchTarget& target) {
  // The argument text is read afresh at every step that looks at it.
  auto args = [&platform] { return platform.ArgumentText(); };
  GameSearch games(platform, app_folder, target);
  g.Do([&] { target.LaunchPos = InStr(1, UpperCase(args()), kLaunchOption); });
  if (g.Test([&] { return target.LaunchPos != 0; })) {
    g.Do([&] { target.StartPos = target.LaunchPos + kNameOffset; });
    const int64_t name_end_search = target.LaunchPos + kNameEndSearchOffset;
    if (g.Test([&] {
          return Mid(args(), target.LaunchPos + kNameOffset, 1) == u"\"";
        })) {
      g.Do([&] { target.StartPos = target.LaunchPos + kQuotedNameOffset; });
      g.Do([&] { target.EndPos = InStr(name_end_search, args(), u"\""); });
    } else {
      g.Do([&] { target.EndPos = InStr(name_end_search, args(), u" "); });
    }
    // A name without its closing quote or space ends with the text.
    if (g.Test([&] { return target.EndPos == 0; })) {
      g.Do([&] { target.EndPos = static_cast<int64_t>(args().size()) + 1; });
    }
    // The name keeps its letter case: it is cut from the text as typed.
    // "/LAUNCH" at the very end gives a negative length, which fails.
    g.Do([&] {
      target.ExeName =
          Mid(args(), target.StartPos, target.EndPos - target.StartPos);
    });
    // The program renamed to a game's name is never chosen as the game.
  } else if (g.Test([&] {
               return games.HasGame(kFirstGameFile, kFirstGameName);
             })) {
    g.Do([&] { target.ExeName = games.GameToStart(kFirstGameName); });
  } else if (g.Test([&] {
               return games.HasGame(kSecondGameFile, kSecondGameName);
             })) {
    g.Do([&] { target.ExeName = games.GameToStart(kSecondGameName); });
  } else {
    // When the only game found is the program itself, it stays the one to
    // start, and the start says why nothing starts.
    g.Do([&] {
      if (target.OwnFile.empty()) {
        target.NoLaunch = true;
      } else {
        target.ExeName = target.OwnFile;
      }
    });
  }
  if (g.Test(
          [&] { return InStr(1, UpperCase(args()), kNoLaunchOption) != 0; })) {
    g.Do([&] { target.NoLaunch = true; });
  }
}

namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

// One way of reading the launch name as a program and its arguments.
struct Reading {
  Text program;    // relative to the program's folder
  Text arguments;  // as typed, without the blanks that lead them
};

Text AfterBlanks(TextView text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i]))
    ++i;
  return Text(text.substr(i));
}

// The readings of `name` as a command line is read, in the order they are
// tried: a name that opens with a double quote names the program after it
// (the launch name ends before any later quote, so the whole rest is the
// program); any other is cut before each run of blanks in turn, shortest
// program first, and finally taken whole.
std::vector<Reading> ReadingsOf(TextView name) {
  std::vector<Reading> readings;
  if (!name.empty() && name[0] == u'"') {
    readings.push_back({Text(name.substr(1)), Text()});
    return readings;
  }
  for (size_t i = 1; i < name.size(); ++i) {
    if (IsBlank(name[i]) && !IsBlank(name[i - 1])) {
      readings.push_back(
          {Text(name.substr(0, i)), AfterBlanks(name.substr(i))});
    }
  }
  readings.push_back({Text(name), Text()});
  return readings;
}

// True when the last part of `path` has an extension.
bool HasExtension(TextView path) {
  const size_t cut = path.find_last_of(u"\\/");
  const TextView name = cut == TextView::npos ? path : path.substr(cut + 1);
  return name.find(u'.') != TextView::npos;
}

// True when a listing shows a normal file at `path`. This is only a look:
// a listing that fails counts as finding nothing, and a name with
// wildcards is never looked for, since the listing would read it as a
// pattern. Windows listings also read "<", ">" and a double quote as
// wildcards; no Windows name holds them.
bool IsListedFile(Platform& platform, const Text& path) {
  const size_t cut = path.rfind(platform.Separator());
  const TextView name =
      cut == Text::npos ? TextView(path) : TextView(path).substr(cut + 1);
  if (name.empty() || HasWildcards(name) ||
      name.find_first_of(u"<>\"") != TextView::npos) {
    return false;
  }
  try {
    return !platform.ListFirst(path, ListMask::kNormalFiles).empty();
  } catch (const Failure&) {
    return false;
  }
}

// Starts the launch name, relative to `folder`. A name that is a file there
// is started exactly as it is. Otherwise the name is read as a command line,
// a program and its arguments, the way a shortcut's target is, but with the
// program always inside `folder` and given the system's program extension
// when it has none. When no reading names a file either, the name is
// started as it is, so that its failure is the one reported. A reading
// that names the program itself is passed over; when no other names a file,
// that is the failure reported.
void StartLaunchName(Platform& platform, const Text& folder, const Text& name) {
  const Text exact = folder + platform.Separator() + name;
  if (!IsListedFile(platform, exact)) {
    bool names_itself = false;
    for (const Reading& reading : ReadingsOf(name)) {
      if (reading.program.empty()) continue;
      Text program = folder + platform.Separator() + reading.program;
      if (!HasExtension(reading.program)) {
        program += platform.ProgramExtension();
      }
      if (program == exact || !IsListedFile(platform, program)) continue;
      if (platform.IsOwnProgram(program)) {
        names_itself = true;
        continue;
      }
      platform.StartMaximized(program, reading.arguments);
      return;
    }
    if (names_itself) Raise(kStartsItself);
  }
  platform.StartMaximized(exact, Text());
}

}  // namespace

void Launch(Platform& platform, const Text& app_folder,
            const LaunchTarget& target) {
  if (platform.HasCommand()) {
    platform.RunCommand();
  } else if (!target.NoLaunch) {
    StartLaunchName(platform, app_folder, target.ExeName);
  }
}

}  // namespace shuffler
