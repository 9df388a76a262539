// Choosing the program to start when the shuffle is done, and starting it.
#include <vector>

#include "app/startup_steps.h"
#include "app/text.h"
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

// What the launch-target steps look at. Steps capture a copy of it; it only
// refers to things that outlive the steps.
struct Context {
  Platform& platform;
  const frmOne& form;
  LaunchTarget& target;

  // The argument text is read afresh at every step that looks at it.
  Text Args() const { return platform.ArgumentText(); }
  int64_t ArgsLength() const { return static_cast<int64_t>(Args().size()); }
  // The seven characters of "/LAUNCH" are followed by one separator, which
  // is skipped whatever it is. The search for the end of the name starts
  // one character further still.
  int64_t NameSearchStart() const { return target.LaunchPos + 10; }
  // The name the game file `file` next to the program is listed by, when
  // that is a file other than the program itself; empty otherwise. Games
  // are looked for as normal files only. Where letter case tells names
  // apart, the program renamed to the game's name may stand beside the game
  // in the other case, so that spelling is looked for as well.
  Text FindGame(TextView file, TextView other_case) const {
    for (TextView name : {file, other_case}) {
      const Text pattern = form.AppFolder + platform.Separator() + Text(name);
      const Text found = platform.ListFirst(pattern, ListMask::kNormalFiles);
      if (found.empty()) return Text();
      if (!platform.IsOwnProgram(form.AppFolder + platform.Separator() +
                                 found)) {
        return found;
      }
      target.OwnFile = found;
    }
    return Text();
  }
  // Whether a game file is there; it is kept in `FoundGame`.
  bool HasGame(TextView file, TextView other_case) const {
    target.FoundGame = FindGame(file, other_case);
    return !target.FoundGame.empty();
  }
  // The game to start: `name`, the game's name in capitals, as where names
  // ignore letter case it is the file the look found. Where they do not,
  // `name` may be the program itself beside the game; the name the look
  // found is started then.
  Text GameToStart(TextView name) const {
    const bool other_file =
        !target.FoundGame.empty() &&
        platform.IsOwnProgram(form.AppFolder + platform.Separator() +
                              Text(name));
    return other_file ? target.FoundGame : Text(name);
  }
};

}  // namespace

void AddLaunchTargetSteps(GuardedSteps& steps, Platform& platform,
                          const frmOne& form, LaunchTarget& target) {
  const Context c{platform, form, target};
  LaunchTarget& t = target;
  steps
      // A wrapped command is the program to run: no game is looked for, and
      // "/LAUNCH" and "/NOLAUNCH" do not apply.
      .If(
          kTestCommand, [&platform] { return platform.HasCommand(); },
          kTestDebug, kFindLaunchOption)
      .Do(kFindLaunchOption,
          [c, &t] {
            t.LaunchPos = InStr(1, UpperCase(c.Args()), kLaunchOption);
          })
      .If(
          kHasLaunchOption, [&t] { return t.LaunchPos != 0; }, kSkipSeparator,
          kHasFirstGame)
      .Do(kSkipSeparator, [&t] { t.StartPos = t.LaunchPos + 8; })
      .If(
          kIsQuoted,
          [c, &t] { return Mid(c.Args(), t.LaunchPos + 8, 1) == u"\""; },
          kStartAfterQuote, kFindSpace)
      .Do(kStartAfterQuote, [&t] { t.StartPos = t.LaunchPos + 9; })
      .Do(kFindClosingQuote,
          [c, &t] { t.EndPos = InStr(c.NameSearchStart(), c.Args(), u"\""); })
      .If(
          kClosingQuoteMissing, [&t] { return t.EndPos == 0; },
          kEndQuotedAtTextEnd, kCutExeName)
      .Do(
          kEndQuotedAtTextEnd, [c, &t] { t.EndPos = c.ArgsLength() + 1; },
          kCutExeName)
      .Do(kFindSpace,
          [c, &t] { t.EndPos = InStr(c.NameSearchStart(), c.Args(), u" "); })
      .If(
          kSpaceMissing, [&t] { return t.EndPos == 0; }, kEndAtTextEnd,
          kCutExeName)
      .Do(kEndAtTextEnd, [c, &t] { t.EndPos = c.ArgsLength() + 1; })
      // The name keeps its letter case: it is cut from the text as typed.
      // "/LAUNCH" at the very end gives a negative length, which fails.
      .Do(
          kCutExeName,
          [c, &t] {
            t.ExeName = Mid(c.Args(), t.StartPos, t.EndPos - t.StartPos);
          },
          kTestNoLaunch)
      // The program renamed to a game's name is never chosen as the game.
      .If(
          kHasFirstGame,
          [c] { return c.HasGame(kFirstGameFile, kFirstGameName); },
          kChooseFirstGame, kHasSecondGame)
      .Do(
          kChooseFirstGame,
          [c, &t] { t.ExeName = c.GameToStart(kFirstGameName); }, kTestNoLaunch)
      .If(
          kHasSecondGame,
          [c] { return c.HasGame(kSecondGameFile, kSecondGameName); },
          kChooseSecondGame, kNoGameFound)
      .Do(
          kChooseSecondGame,
          [c, &t] { t.ExeName = c.GameToStart(kSecondGameName); },
          kTestNoLaunch)
      // When the only game found is the program itself, it stays the one to
      // start, and the start says why nothing starts.
      .Do(kNoGameFound,
          [&t] {
            if (t.OwnFile.empty()) {
              t.NoLaunch = true;
            } else {
              t.ExeName = t.OwnFile;
            }
          })
      .If(
          kTestNoLaunch,
          [c] { return InStr(1, UpperCase(c.Args()), kNoLaunchOption) != 0; },
          kSetNoLaunch, kTestDebug)
      .Do(
          kSetNoLaunch, [&t] { t.NoLaunch = true; }, kTestDebug);
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

void AddLaunchStep(GuardedSteps& steps, Platform& platform, const frmOne& form,
                   const LaunchTarget& target) {
  // The name is always taken relative to the program's folder.
  steps.Do(kLaunch, [&platform, &form, &target] {
    if (platform.HasCommand()) {
      platform.RunCommand();
    } else if (!target.NoLaunch) {
      StartLaunchName(platform, form.AppFolder, target.ExeName);
    }
  });
}

}  // namespace shuffler
