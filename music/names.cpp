#include "music/names.h"

#include "base/text.h"

namespace shuffler {

bool IsNumeric(TextView text) {
  const size_t first = text.find_first_not_of(u' ');
  if (first == TextView::npos) return false;
  const size_t last = text.find_last_not_of(u' ');
  for (size_t i = first; i <= last; ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
  }
  return true;
}

Text BareName(TextView name) {
  const size_t dash = name.find(u'-');
  if (dash == TextView::npos || !IsNumeric(name.substr(0, dash))) {
    return Text(name);
  }
  return Text(name.substr(dash + 1));
}

int DecimalDigits(int64_t count) {
  int digits = 1;
  for (int64_t rest = count < 0 ? -count : count; rest >= 10; rest /= 10) {
    ++digits;
  }
  return digits;
}

Text ZeroPadded(int64_t number, int digits) {
  Text text = DecimalText(number);
  if (static_cast<int>(text.size()) < digits) {
    text.insert(0, static_cast<size_t>(digits) - text.size(), u'0');
  }
  return text;
}

}  // namespace shuffler
