// Choosing the program to start when the shuffle is done, and starting it.
#include "app/startup_steps.h"
#include "app/text.h"

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
  // The game executables are looked for as normal files only.
  bool HasFile(TextView file) const {
    const Text pattern = form.AppFolder + platform.Separator() + Text(file);
    return !platform.ListFirst(pattern, ListMask::kNormalFiles).empty();
  }
};

}  // namespace

void AddLaunchTargetSteps(GuardedSteps& steps, Platform& platform,
                          const frmOne& form, LaunchTarget& target) {
  const Context c{platform, form, target};
  LaunchTarget& t = target;
  steps
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
      .If(
          kHasFirstGame, [c] { return c.HasFile(kFirstGameFile); },
          kChooseFirstGame, kHasSecondGame)
      .Do(
          kChooseFirstGame, [&t] { t.ExeName = kFirstGameName; }, kTestNoLaunch)
      .If(
          kHasSecondGame, [c] { return c.HasFile(kSecondGameFile); },
          kChooseSecondGame, kNoGameFound)
      .Do(
          kChooseSecondGame, [&t] { t.ExeName = kSecondGameName; },
          kTestNoLaunch)
      .Do(kNoGameFound, [&t] { t.NoLaunch = true; })
      .If(
          kTestNoLaunch,
          [c] { return InStr(1, UpperCase(c.Args()), kNoLaunchOption) != 0; },
          kSetNoLaunch, kTestDebug)
      .Do(
          kSetNoLaunch, [&t] { t.NoLaunch = true; }, kTestDebug);
}

void AddLaunchStep(GuardedSteps& steps, Platform& platform, const frmOne& form,
                   const LaunchTarget& target) {
  // The name is always taken relative to the program's folder, and exactly
  // that path is started, spaces and all.
  steps.Do(kLaunch, [&platform, &form, &target] {
    if (!target.NoLaunch) {
      platform.StartMaximized(form.AppFolder + platform.Separator() +
                              target.ExeName);
    }
  });
}

}  // namespace shuffler
