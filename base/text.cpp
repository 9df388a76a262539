#include "base/text.h"

#include "base/failure.h"

namespace shuffler {

int64_t InStr(int64_t start, TextView text, TextView needle) {
  if (start < 1) Raise(kInvalidArgument);
  if (start > static_cast<int64_t>(text.size()) + 1) return 0;
  const size_t found = text.find(needle, static_cast<size_t>(start - 1));
  return found == TextView::npos ? 0 : static_cast<int64_t>(found) + 1;
}

Text Mid(TextView text, int64_t start, int64_t length) {
  if (start < 1 || length < 0) Raise(kInvalidArgument);
  if (start > static_cast<int64_t>(text.size())) return Text();
  return Text(
      text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(length)));
}

Text UpperCase(TextView text) {
  Text upper(text);
  for (char16_t& c : upper) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  }
  return upper;
}

Text DecimalText(int64_t number) {
  const std::string digits = std::to_string(number);
  return Text(digits.begin(), digits.end());
}

void AppendCodePointUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace shuffler
