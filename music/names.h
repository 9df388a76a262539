// How the shuffle reads and builds entry names.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace shuffler {

/// True when `text` reads as a number: a run of ASCII decimal digits,
/// optionally with spaces before or after it. The empty text is not.
bool IsNumeric(TextView text);

/// `name` without its old number prefix: when the text before the first
/// hyphen is numeric, everything after that hyphen; otherwise `name` itself.
/// "07-Song.mp3" gives "Song.mp3", "Song - Live.mp3" and "-Intro.mp3" stay.
Text BareName(TextView name);

/// The count of decimal digits of `count` (1 for 0 to 9).
int DecimalDigits(int64_t count);

/// `number` in decimal, left-padded with zeros to `digits` characters.
Text ZeroPadded(int64_t number, int digits);

}  // namespace shuffler
