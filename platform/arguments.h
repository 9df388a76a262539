// Reading a program's argument text into separate arguments, for systems
// that hand a program a list of arguments rather than one text.
#pragma once

#include <vector>

#include "platform/platform.h"

namespace shuffler {

/// The arguments in `text`, the part of a command line after the program's
/// name, split as Windows splits it for a program (CommandLineToArgvW):
/// spaces and tabs separate arguments outside double quotes; a quote is
/// removed and opens or closes a quoted part; inside one, a doubled quote
/// stands for a quote and ends the quoted part; 2n backslashes before a
/// quote stand for n backslashes, 2n + 1 for n and a literal quote; other
/// backslashes are kept as they are.
std::vector<Text> SplitArguments(TextView text);

}  // namespace shuffler
