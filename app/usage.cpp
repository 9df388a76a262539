#include "app/usage.h"

#include <array>
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
    "  /KEEPNAMES    keep each entry's own name in Shuffler.names first\n"
    "  /RESTORE      give the entries their kept names back; no shuffle\n"
    "  -h, --help    show this text and end (also -help, /h, /help, /?)\n"
    "  -v, --version show the version and end (also -version, /version)\n"
    "\n"
    "With \"--\", the command after it takes Shuffler's place once the music\n"
    "is shuffled, with its arguments as given, and its exit status is\n"
    "Shuffler's: for a launcher, \"Shuffler -- %command%\". Only the words\n"
    "before \"--\" are options, and /LAUNCH and /NOLAUNCH do not apply.\n"
    "Words NAME=value right after \"--\" go into the command's environment,\n"
    "as with env: \"Shuffler -- DXVK_HUD=1 %command%\". A command that cannot\n"
    "start ends Shuffler with status 127 (not found) or 126 (not runnable),\n"
    "and the log of a /DEBUG run says so.\n";

constexpr std::array<std::string_view, 8> kHelpWords = {
    "-H", "--HELP", "-HELP", "/H", "/HELP", "-?", "/?", "--?"};
constexpr std::array<std::string_view, 4> kVersionWords = {
    "-V", "--VERSION", "-VERSION", "/VERSION"};

// `word` in ASCII capitals.
std::string Upper(std::string_view word) {
  std::string upper(word);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

bool IsOneOf(std::string_view word, const auto& words) {
  for (std::string_view known : words) {
    if (word == known) return true;
  }
  return false;
}

}  // namespace

std::string AnswerToQuestion(int argc, const char* const* argv) {
  bool launch_name = false;  // this word is the name after "/LAUNCH"
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    const std::string word = Upper(argv[i]);
    if (word == "--") break;
    if (!launch_name) {
      if (IsOneOf(word, kHelpWords)) return std::string(kUsage);
      if (IsOneOf(word, kVersionWords)) {
        return "Shuffler " SHUFFLER_VERSION "\n";
      }
    }
    launch_name = word.ends_with("/LAUNCH");
  }
  return std::string();
}

}  // namespace shuffler
