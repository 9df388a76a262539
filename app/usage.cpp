#include "app/usage.h"

#include <string_view>

namespace shuffler {

namespace {

constexpr std::string_view kUsage =
    "Usage: Shuffler [options] [-- command [arguments...]]\n"
    "\n"
    "Gives the entries of the music folder \"mp3\" next to Shuffler new\n"
    "random number prefixes and re-creates them in random order, then starts\n"
    "the game found next to Shuffler (gta3.exe or gta-vc.exe).\n"
    "\n"
    "Options, in any letter case:\n"
    "  /LAUNCH name  start name, from Shuffler's folder, instead of the game\n"
    "  /NOLAUNCH     shuffle only; start nothing\n"
    "  /DEBUG        write every rename and failure to Shuffler.log\n"
    "  /DENUM        remove the number prefixes instead of giving new ones\n"
    "  /UNIQUE       give every entry a number of its own\n"
    "  -h, --help    show this text and end\n"
    "  --version     show the version and end\n"
    "\n"
    "With \"--\", the command after it takes Shuffler's place once the music\n"
    "is shuffled, with its arguments as given, and its exit status is\n"
    "Shuffler's: for a launcher, \"Shuffler -- %command%\". Only the words\n"
    "before \"--\" are options, and /LAUNCH and /NOLAUNCH do not apply.\n";

}  // namespace

std::string AnswerToQuestion(int argc, const char* const* argv) {
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    const std::string_view word = argv[i];
    if (word == "--") break;
    if (word == "--help" || word == "-h") return std::string(kUsage);
    if (word == "--version") {
      return "Shuffler " SHUFFLER_VERSION "\n";
    }
  }
  return std::string();
}

}  // namespace shuffler
