// What the program says when it is asked for help or for its version
// instead of a run.
#pragma once

#include <string>

namespace shuffler {

/// The text that answers a question for help or for the version among the
/// words of `argv` before a lone "--" (the program's own name, argv[0], is
/// not looked at); empty when none is asked. A question is a whole word, in
/// any letter case: "-h", "--help", "-help", "/h", "/help", "-?", "/?" and
/// "--?" ask for help; "-v", "--version", "-version" and "/version" for the
/// version. None of them holds an option's text, and the word right after a
/// word that ends in "/LAUNCH" is the name of the program to start, not a
/// question. The words after "--" belong to a command and are never read.
std::string AnswerToQuestion(int argc, const char* const* argv);

}  // namespace shuffler
