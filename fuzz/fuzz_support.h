// What both fuzz targets share: turning the fuzzer's bytes into text, and
// stopping loudly when an invariant does not hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace shuffler::fuzzing {

/// The bytes as text: each byte is one character (U+0000 to U+00FF), except
/// that 0xFF takes the next two bytes (low byte first) as one 16-bit code
/// unit, so any unit, lone surrogates included, can be reached.
Text TextFromBytes(const uint8_t* data, size_t size);

/// Prints `what` and `text` and aborts, so the fuzzer records the input.
[[noreturn]] void Broken(const char* what, TextView text);

/// Checks `holds`, or aborts through `Broken`.
inline void Require(bool holds, const char* what, TextView text) {
  if (!holds) Broken(what, text);
}

/// `text` with ASCII letters in upper case, written out here so the options
/// are looked for independently of the code under test.
Text AsciiUpper(TextView text);

}  // namespace shuffler::fuzzing
