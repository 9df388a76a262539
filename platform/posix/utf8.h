// Text <-> bytes at the POSIX boundary.
//
// File names, arguments and paths are byte strings on POSIX; Shuffler's texts
// are UTF-16. Decoding is strict UTF-8, and every byte that is not part of a
// valid sequence becomes the lone code unit U+DC00 + byte (U+DC80..U+DCFF).
// Encoding turns those lone units back into their byte, so every byte string
// survives a decode and an encode unchanged: an entry is never renamed into
// different bytes than the ones Shuffler computed.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace shuffler {

/// `bytes` as text: valid UTF-8 sequences become their characters (a
/// surrogate pair above U+FFFF), every other byte the lone unit U+DC00+byte.
Text DecodeUtf8(std::string_view bytes);

/// `text` as bytes: a lone U+DC80..U+DCFF becomes its byte, a valid surrogate
/// pair four bytes, any other lone surrogate its three-byte form, and every
/// other unit its UTF-8 sequence.
std::string EncodeUtf8(TextView text);

}  // namespace shuffler
