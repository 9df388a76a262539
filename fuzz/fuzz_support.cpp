#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>

#include "tests/fake_platform.h"

namespace shuffler::fuzzing {

Text TextFromBytes(const uint8_t* data, size_t size) {
  Text text;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF && i + 2 < size) {
      text += static_cast<char16_t>(data[i + 1] | (data[i + 2] << 8));
      i += 2;
    } else {
      text += static_cast<char16_t>(data[i]);
    }
  }
  return text;
}

void Broken(const char* what, TextView text) {
  std::fprintf(stderr, "invariant broken: %s\n  text: %s\n", what,
               testing::Narrow(text).c_str());
  std::abort();
}

Text AsciiUpper(TextView text) {
  Text upper(text);
  for (char16_t& c : upper) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return upper;
}

}  // namespace shuffler::fuzzing
