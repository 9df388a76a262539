// Shuffler's texts, and text helpers with 1-based character positions,
// where a search result of 0 means "not found". The startup and shuffle code
// state their position arithmetic this way, so these keep it readable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace shuffler {

/// Shuffler's texts: sequences of 16-bit characters (UTF-16 code units).
using Text = std::u16string;
using TextView = std::u16string_view;

/// Position of the first `needle` in `text` at or after position `start`
/// (1-based); 0 when there is none.
int64_t InStr(int64_t start, TextView text, TextView needle);

/// The `length` characters of `text` that begin at position `start` (fewer
/// when the text ends first; empty when `start` is past its end). A negative
/// length or a start below 1 fails with `kInvalidArgument`.
Text Mid(TextView text, int64_t start, int64_t length);

/// `text` with the ASCII letters a to z in upper case. Every other character
/// keeps its place, so positions in the result match the original's.
Text UpperCase(TextView text);

/// `number` in decimal, with a minus sign when negative.
Text DecimalText(int64_t number);

/// Appends the UTF-8 bytes of the code point `code` to `out`: one to four
/// bytes by its size. Nothing is checked: a surrogate (U+D800 to U+DFFF)
/// takes three bytes like any other code point below U+10000.
void AppendCodePointUtf8(std::string& out, char32_t code);

}  // namespace shuffler
