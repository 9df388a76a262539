// Splitting a program's argument text the way Windows splits it.
#include "platform/arguments.h"

#include <gtest/gtest.h>

#include "tests/fake_platform.h"

namespace shuffler {
namespace {

TEST(SplitArguments, FollowsWindowsRulesForBlanksQuotesAndBackslashes) {
  const struct {
    Text text;
    std::vector<Text> arguments;
  } cases[] = {
      {u"", {}},
      {u" \t ", {}},
      {u"-nointro", {u"-nointro"}},
      {u"  a\tb  c ", {u"a", u"b", u"c"}},
      {u"\"a b\" c", {u"a b", u"c"}},
      {u"x\"a b\"y", {u"xa by"}},
      {u"\"\" \"\"", {u"", u""}},
      {u"\"unclosed  quote", {u"unclosed  quote"}},
      // Backslashes count only before a quote.
      {u"C:\\Games\\ \\\\server\\share",
       {u"C:\\Games\\", u"\\\\server\\share"}},
      {u"a\\\"b", {u"a\"b"}},
      {u"a\\\\\"b c\"", {u"a\\b c"}},
      {u"a\\\\\\\"b", {u"a\\\"b"}},
      // Only the backslashes right before the quote count.
      {u"a\\b\"c d\"", {u"a\\bc d"}},
      // A doubled quote inside a quoted part is one quote and ends the part.
      {u"\"a\"\"b c\"", {u"a\"b", u"c"}},
      {u"\"\"\"", {u"\""}},
      {u"a\"\"b", {u"ab"}},
      {u"\u00e9 \U0001F600", {u"\u00e9", u"\U0001F600"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Narrow(c.text));
    EXPECT_EQ(SplitArguments(c.text), c.arguments);
  }
}

}  // namespace
}  // namespace shuffler
