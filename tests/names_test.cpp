// The pure name rules: what counts as a number prefix, the bare name, the
// width of the new prefix, listing patterns and the log's code page.
#include <gtest/gtest.h>

#include "base/text.h"
#include "music/names.h"
#include "platform/names.h"

namespace shuffler {
namespace {

TEST(NameRules, NumericPrefixAndBareName) {
  EXPECT_TRUE(IsNumeric(u"07"));
  EXPECT_TRUE(IsNumeric(u"2001"));
  EXPECT_TRUE(IsNumeric(u"01 "));  // blanks around the digits are allowed
  EXPECT_TRUE(IsNumeric(u" 1"));
  EXPECT_FALSE(IsNumeric(u""));
  EXPECT_FALSE(IsNumeric(u"  "));
  EXPECT_FALSE(IsNumeric(u"Song "));
  EXPECT_FALSE(IsNumeric(u"0 1"));
  EXPECT_FALSE(IsNumeric(u"1e5"));
  EXPECT_FALSE(IsNumeric(u"+1"));
  EXPECT_FALSE(IsNumeric(u"\u0663"));  // an Arabic-Indic digit is no digit

  EXPECT_EQ(BareName(u"07-Song.mp3"), u"Song.mp3");
  EXPECT_EQ(BareName(u"2001-Odyssey.mp3"), u"Odyssey.mp3");
  EXPECT_EQ(BareName(u"Song - Live.mp3"), u"Song - Live.mp3");
  EXPECT_EQ(BareName(u"-Intro.mp3"), u"-Intro.mp3");
  EXPECT_EQ(BareName(u"01 - Song.mp3"), u" Song.mp3");
  EXPECT_EQ(BareName(u"3-4-Five.mp3"), u"4-Five.mp3");  // one prefix only
  EXPECT_EQ(BareName(u"12-"), u"");
  EXPECT_EQ(BareName(u"NoDash.mp3"), u"NoDash.mp3");
}

TEST(NameRules, PrefixWidthFollowsTheEntryCount) {
  EXPECT_EQ(DecimalDigits(1), 1);
  EXPECT_EQ(DecimalDigits(9), 1);
  EXPECT_EQ(DecimalDigits(10), 2);
  EXPECT_EQ(DecimalDigits(99), 2);
  EXPECT_EQ(DecimalDigits(100), 3);
  EXPECT_EQ(DecimalDigits(32767), 5);
  EXPECT_EQ(ZeroPadded(7, 2), u"07");
  EXPECT_EQ(ZeroPadded(12, 2), u"12");
  EXPECT_EQ(ZeroPadded(1, 5), u"00001");
  EXPECT_EQ(ZeroPadded(32767, 5), u"32767");
}

TEST(TextRules, PositionsAreOneBasedAndMidRefusesNegativeLengths) {
  EXPECT_EQ(InStr(1, u"/LAUNCH x", u"/LAUNCH"), 1);
  EXPECT_EQ(InStr(2, u"/LAUNCH x", u"/LAUNCH"), 0);
  EXPECT_EQ(InStr(1, u"ab", u"x"), 0);
  EXPECT_EQ(InStr(3, u"ab", u"b"), 0);  // past the end finds nothing
  EXPECT_EQ(InStr(9, u"ab", u"b"), 0);
  EXPECT_EQ(Mid(u"abcdef", 2, 3), u"bcd");
  EXPECT_EQ(Mid(u"abcdef", 5, 9), u"ef");
  EXPECT_EQ(Mid(u"abc", 4, 0), u"");
  EXPECT_EQ(Mid(u"abc", 9, 1), u"");
  try {
    Mid(u"abc", 2, -1);
    ADD_FAILURE() << "a negative length must fail";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.Number, kInvalidArgument);
    EXPECT_EQ(failure.Description, u"Invalid procedure call or argument");
  }
  EXPECT_EQ(UpperCase(u"x/DeBuGx\u00e9"), u"X/DEBUGX\u00e9");
  EXPECT_EQ(DecimalText(-2147024894), u"-2147024894");
}

TEST(PlatformRules, PatternsAndLetterCase) {
  EXPECT_TRUE(MatchesPattern(u"Song.mp3", u"*.*"));
  EXPECT_TRUE(MatchesPattern(u"NoDot", u"*.*"));
  EXPECT_TRUE(MatchesPattern(u".", u"*.*"));
  EXPECT_TRUE(MatchesPattern(u"gta3.exe", u"gta3.exe"));
  EXPECT_FALSE(MatchesPattern(u"GTA3.EXE", u"gta3.exe"));
  EXPECT_TRUE(MatchesPattern(u"track07.mp3", u"track??.mp3"));
  EXPECT_TRUE(MatchesPattern(u"a-b-c", u"a*c"));
  EXPECT_FALSE(MatchesPattern(u"a-b-d", u"a*c"));
  EXPECT_TRUE(MatchesPattern(u"aaaaaaaaab", u"*a*a*b"));
  EXPECT_FALSE(HasWildcards(u"temp"));
  EXPECT_TRUE(HasWildcards(u"*.mp3"));
  EXPECT_TRUE(EqualsIgnoringAsciiCase(u"GTA-VC.EXE", u"gta-vc.exe"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase(u"\u00c9", u"\u00e9"));
  // Every letter from A to Z folds; the characters around them do not.
  EXPECT_TRUE(EqualsIgnoringAsciiCase(u"AZaz", u"azAZ"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase(u"@", u"`"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase(u"[", u"{"));

  const SplitPath split = SplitAtLastSeparator(u"C:\\Game\\mp3\\*.*", u'\\');
  EXPECT_EQ(split.folder, u"C:\\Game\\mp3");
  EXPECT_EQ(split.name, u"*.*");
}

TEST(PlatformRules, Windows1252KeepsWhatItCanAndMarksTheRest) {
  EXPECT_EQ(EncodeWindows1252(u"Renamed \"a\""), "Renamed \"a\"");
  EXPECT_EQ(EncodeWindows1252(u"\u00e9\u00ff\u00a0"), "\xe9\xff\xa0");
  EXPECT_EQ(EncodeWindows1252(u"\u20ac\u2019\u0178"), "\x80\x92\x9f");
  EXPECT_EQ(EncodeWindows1252(u"\u6771\u4eac"), "??");
  EXPECT_EQ(EncodeWindows1252(u"a\U0001F3B5b"), "a?b");  // one pair, one "?"
  EXPECT_EQ(EncodeWindows1252(u"\u0081\xdc80"), "??");
}

}  // namespace
}  // namespace shuffler
