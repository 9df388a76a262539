#include "platform/arguments.h"

namespace shuffler {

namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

}  // namespace

std::vector<Text> SplitArguments(TextView text) {
  std::vector<Text> arguments;
  size_t i = 0;
  for (;;) {
    while (i < text.size() && IsBlank(text[i]))
      ++i;
    if (i == text.size()) return arguments;
    Text argument;
    // The quotes met since the last quoted part ended: odd inside one.
    int quotes = 0;
    size_t backslashes = 0;  // the backslashes just before this character
    for (; i < text.size(); ++i) {
      const char16_t c = text[i];
      if (IsBlank(c) && quotes == 0) break;
      if (c != u'"') {
        argument += c;
        backslashes = c == u'\\' ? backslashes + 1 : 0;
        continue;
      }
      argument.resize(argument.size() - backslashes / 2);
      if (backslashes % 2 == 1) {
        argument.back() = u'"';  // the last backslash escapes it
      } else {
        ++quotes;
      }
      backslashes = 0;
      // A run of quotes: every third one met inside a quoted part is kept,
      // and the part ends with it.
      while (i + 1 < text.size() && text[i + 1] == u'"') {
        ++i;
        if (++quotes == 3) {
          argument += u'"';
          quotes = 0;
        }
      }
      if (quotes == 2) quotes = 0;
    }
    arguments.push_back(std::move(argument));
  }
}

}  // namespace shuffler
