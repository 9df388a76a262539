#include "platform/names.h"

#include <array>

namespace shuffler {

SplitPath SplitAtLastSeparator(const Text& path, char16_t separator) {
  const size_t cut = path.rfind(separator);
  if (cut == Text::npos) return {Text(), path};
  return {path.substr(0, cut), path.substr(cut + 1)};
}

bool HasWildcards(TextView name) {
  return name.find_first_of(u"*?") != TextView::npos;
}

bool MatchesPattern(TextView name, TextView pattern) {
  if (pattern == u"*.*" || pattern == u"*") return true;
  // Iterative glob with one backtrack point: linear in practice and never
  // recursive, whatever the pattern.
  size_t n = 0, p = 0;
  size_t star = TextView::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = n;
    } else if (star != TextView::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*')
    ++p;
  return p == pattern.size();
}

namespace {

char16_t FoldAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

// Characters of Windows-1252's bytes 0x80 to 0x9F; 0 where a byte is unused.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char ToWindows1252(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] != 0 && kHighControls[i] == c) {
      return static_cast<char>(0x80 + i);
    }
  }
  return '?';
}

}  // namespace

bool EqualsIgnoringAsciiCase(TextView a, TextView b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

std::string EncodeWindows1252(TextView text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
                      text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    if (pair) ++i;
    bytes.push_back(pair ? '?' : ToWindows1252(c));
  }
  return bytes;
}

}  // namespace shuffler
