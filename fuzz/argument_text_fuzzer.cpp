// The argument text, fuzzed, through a whole run on the fake platform: the
// option tests, the cut of the "/LAUNCH" name, the shuffle of a small music
// folder and the launch. Whatever the text, the run ends, the options are
// read as written, the name is cut only from within the text, and the
// music loses nothing.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/frm_one.h"
#include "fuzz/fuzz_support.h"
#include "tests/fake_platform.h"

namespace shuffler::fuzzing {
namespace {

using testing::FakePlatform;

// The fake, remembering every program the launch asked for, whether or not
// it could be started.
class LaunchRecorder : public FakePlatform {
 public:
  std::vector<Text> requested;
  void StartMaximized(const Text& program, const Text& arguments) override {
    requested.push_back(program);
    FakePlatform::StartMaximized(program, arguments);
  }
};

Text StartupPrompt(TextView number, TextView description) {
  return u"An error occurred!\r\n\r\nError Number: " + Text(number) +
         u"\r\nDescription: " + Text(description);
}

void Check(const Text& args) {
  LaunchRecorder fake;
  fake.AddFile(u"C:\\Game\\gta3.exe", "game");
  fake.AddMusic({u"01-a.mp3", u"b.mp3", u"c.mp3"});
  fake.argument_text = args;
  const Text music(FakePlatform::kMusic);
  const std::vector<std::string> before = fake.ContentsBelow(music);

  frmOne form(fake);
  Require(testing::RunToEnd(form), "the run ends", args);

  const Text upper = AsciiUpper(args);
  Require(form.DebugLog == (upper.find(u"/DEBUG") != Text::npos),
          "\"/DEBUG\" is found anywhere, in any case", args);
  Require(form.DenumMode == (upper.find(u"/DENUM") != Text::npos),
          "\"/DENUM\" is found anywhere, in any case", args);

  const Text folder = u"C:\\Game\\";
  const size_t launch = upper.find(u"/LAUNCH");
  if (upper.find(u"/NOLAUNCH") != Text::npos) {
    Require(fake.requested.empty(), "nothing starts with \"/NOLAUNCH\"", args);
  } else {
    Require(fake.requested.size() == 1, "the launch asks for one program",
            args);
    const Text& program = fake.requested[0];
    Require(program.starts_with(folder), "the program is in its folder", args);
    const Text name = program.substr(folder.size());
    if (launch == Text::npos) {
      Require(name == u"GTA3.EXE", "without \"/LAUNCH\" the game found", args);
    } else {
      // The name is cut from the text as typed: after "/LAUNCH" and one
      // separator, one further when a quote opens it; empty when the cut
      // failed.
      size_t start = launch + 8;
      if (start < args.size() && args[start] == u'"') ++start;
      const bool cut_there =
          start <= args.size() && args.compare(start, name.size(), name) == 0;
      // A name that is no file is read as a program and its arguments, and
      // the program is given ".exe" when it has no extension. The program
      // keeps the letter case typed; names ignore it, as on Windows.
      const bool read_as_command =
          AsciiUpper(name) == u"GTA3.EXE" && upper.find(u"GTA3") != Text::npos;
      Require(name.empty() || cut_there || read_as_command,
              "the name is a piece of the argument text", args);
      Require(name.empty() || args.find(name) != Text::npos || read_as_command,
              "the name occurs in the argument text", args);
    }
  }

  // Only the launch can fail here: a cut that fails, a program that is
  // missing or is a folder. Each is reported by the startup box.
  Require(fake.boxes.size() <= 2, "at most two failures", args);
  for (const testing::Box& box : fake.boxes) {
    Require(box.caption == u"Shuffler", "startup boxes only", args);
    Require(box.prompt == StartupPrompt(
                              u"5", u"Invalid procedure call or argument") ||
                box.prompt == StartupPrompt(u"53", u"File not found") ||
                box.prompt == StartupPrompt(u"75", u"Path/File access error"),
            "a failure of the launch", args);
  }

  Require(fake.ContentsBelow(music) == before, "no music file lost", args);
  Require(fake.Names(music).size() == 3, "three entries remain", args);
  Require(!fake.Exists(music + u"\\temp"), "the temp folder is removed", args);
}

}  // namespace
}  // namespace shuffler::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return -1;  // longer texts find nothing new
  shuffler::fuzzing::Check(shuffler::fuzzing::TextFromBytes(data, size));
  return 0;
}
