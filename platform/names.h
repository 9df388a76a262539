// Name and pattern rules that are the same on every platform.
#pragma once

#include <string>

#include "platform/platform.h"

namespace shuffler {

/// A listing pattern cut at its last separator.
struct SplitPath {
  Text folder;  ///< everything before the last separator (may be empty)
  Text name;    ///< everything after it
};
SplitPath SplitAtLastSeparator(const Text& path, char16_t separator);

/// True when `name` holds "*" or "?".
bool HasWildcards(TextView name);

/// True when `name` matches `pattern`: "*" stands for any run of characters,
/// "?" for any one; "*.*" matches every name, with or without a dot.
/// Characters are compared exactly.
bool MatchesPattern(TextView name, TextView pattern);

/// True when the two texts are equal once ASCII letters are folded to one
/// case.
bool EqualsIgnoringAsciiCase(TextView a, TextView b);

/// `text` in Windows-1252, one byte per character, "?" for every character
/// (a surrogate pair counts as one) that the code page lacks.
std::string EncodeWindows1252(TextView text);

}  // namespace shuffler
