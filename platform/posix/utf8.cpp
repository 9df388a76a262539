#include "platform/posix/utf8.h"

#include <cstddef>
#include <cstdint>

#include "base/text.h"

namespace shuffler {

namespace {

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence starting at `at` and its code
// point, or 0 when the byte there does not start one.
size_t ValidSequence(std::string_view bytes, size_t at, char32_t& code) {
  const auto byte = [&](size_t i) {
    return static_cast<unsigned char>(bytes[at + i]);
  };
  const unsigned char lead = byte(0);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the 2nd byte
  if (lead < 0x80) {
    code = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlongs
    if (lead == 0xED) high = 0x9F;  // no encoded surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // no overlongs
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;  // stray continuation, C0/C1 overlong leads, F5..FF
  }
  if (bytes.size() - at < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 1; i < length; ++i) {
    if (!IsContinuation(byte(i))) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  return length;
}

}  // namespace

Text DecodeUtf8(std::string_view bytes) {
  Text text;
  text.reserve(bytes.size());
  size_t at = 0;
  while (at < bytes.size()) {
    // Names are mostly ASCII: copy a run of it in one go.
    size_t ascii = at;
    while (ascii < bytes.size() &&
           static_cast<unsigned char>(bytes[ascii]) < 0x80)
      ++ascii;
    if (ascii > at) {
      text.append(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                  bytes.begin() + static_cast<std::ptrdiff_t>(ascii));
      at = ascii;
      continue;
    }
    char32_t code = 0;
    const size_t length = ValidSequence(bytes, at, code);
    if (length == 0) {
      // Only the offending byte is escaped; decoding resumes right after it.
      text.push_back(static_cast<char16_t>(
          0xDC00 + static_cast<unsigned char>(bytes[at])));
      ++at;
    } else if (code >= 0x10000) {
      code -= 0x10000;
      text.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      text.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
      at += length;
    } else {
      text.push_back(static_cast<char16_t>(code));
      at += length;
    }
  }
  return text;
}

std::string EncodeUtf8(TextView text) {
  std::string bytes;
  AppendUtf8(text, bytes);
  return bytes;
}

void AppendUtf8(TextView text, std::string& bytes) {
  bytes.reserve(bytes.size() + text.size());
  size_t i = 0;
  while (i < text.size()) {
    // Paths are mostly ASCII: copy a run of it in one go.
    size_t ascii = i;
    while (ascii < text.size() && text[ascii] < 0x80)
      ++ascii;
    if (ascii > i) {
      const size_t at = bytes.size();
      bytes.resize(at + (ascii - i));
      char* out = bytes.data() + at;
      for (; i < ascii; ++i)
        *out++ = static_cast<char>(text[i]);
      continue;
    }
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      AppendCodePointUtf8(bytes, 0x10000 + ((char32_t{unit} - 0xD800) << 10) +
                                     (char32_t{text[i + 1]} - 0xDC00));
      ++i;
    } else if (unit >= 0xDC80 && unit <= 0xDCFF) {
      bytes.push_back(static_cast<char>(unit - 0xDC00));
    } else {
      AppendCodePointUtf8(bytes, unit);  // lone surrogates too: three bytes
    }
    ++i;
  }
}

}  // namespace shuffler
