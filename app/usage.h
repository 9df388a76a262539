// What the program says when it is asked for help or for its version
// instead of a run.
#pragma once

#include <string>

namespace shuffler {

/// The text that answers a "--help", "-h" or "--version" among the words
/// of `argv` before a lone "--" (the program's own name, argv[0], is not
/// looked at); empty when none is asked. The words after "--" belong to a
/// command and are never read.
std::string AnswerToQuestion(int argc, const char* const* argv);

}  // namespace shuffler
