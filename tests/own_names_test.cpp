// The names file: its bytes, names of every kind through a round trip,
// damaged files refused whole, and entries recognised by their records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "music/own_names.h"
#include "platform/random.h"
#include "tests/failure_number.h"
#include "tests/memory_platform.h"

namespace shuffler {
namespace {

using testing::Narrow;

constexpr int64_t kTime = 1700000000;
EntryFacts File(uint64_t size, int64_t modified = kTime) {
  return {false, size, modified};
}
const EntryFacts kFolder{true, 0, 0};

TEST(OwnNamesFile, HoldsOneReadableLineAnEntryAndEveryNameComesBack) {
  OwnNames names;
  names.Add(u"07-Song.mp3", File(4412345));
  names.Add(u"Live", kFolder);
  names.Add(u"a\\b\tc\r\nd\u00e9\U0001F600\xDCFF\u2028.mp3", File(0, -5));
  EXPECT_EQ(names.Bytes(),
            "Shuffler names 1\r\n07-Song.mp3\t4412345\t1700000000\r\n"
            "Live\tfolder\r\na\\\\b\\tc\\r\\nd\xC3\xA9\xF0\x9F\x98\x80"
            "\\uDCFF\\u2028.mp3\t0\t-5\r\nEnd\r\n");

  // Generated names of every awkward kind: each survives exactly.
  const std::vector<Text> pieces = {u"a",
                                    u"-",
                                    u"07",
                                    u" ",
                                    u"\\",
                                    u"\t",
                                    u"\r",
                                    u"\n",
                                    u"\x7F",
                                    u"\u0085",
                                    u"\u00e9",
                                    u"\u4e2d",
                                    u"\uFEFF",
                                    u"\u2029",
                                    u"\U0001F600",
                                    Text(1, char16_t{0xD800}),
                                    Text(1, char16_t{0xDC80}),
                                    Text(1, char16_t{0xDFFF}),
                                    u"\uFFFF"};
  RandomGenerator random;
  random.Seed(11);
  OwnNames generated;
  for (int i = 0; i < 3000; ++i) {
    Text name = u"x";
    for (int n = 1 + static_cast<int>(random.NextBits() % 8); n > 0; --n) {
      name += pieces[random.NextBits() % pieces.size()];
    }
    const uint64_t bits = random.NextBits();
    generated.Add(
        name, bits % 5 == 0
                  ? kFolder
                  : File(bits >> 1, static_cast<int64_t>(random.NextBits())));
  }
  const std::string bytes = generated.Bytes();
  for (size_t i = 0; i < bytes.size(); ++i) {  // one line a record, CR LF
    ASSERT_TRUE(static_cast<unsigned char>(bytes[i]) >= 0x20 ||
                bytes[i] == '\t' || bytes.substr(i - 1, 2) == "\r\n" ||
                bytes.substr(i, 2) == "\r\n")
        << "byte " << i;
  }
  const OwnNames read = OwnNames::Parse(bytes);
  ASSERT_EQ(read.size(), generated.size());
  for (size_t i = 0; i < read.size(); ++i) {
    ASSERT_EQ(read[i].name, generated[i].name) << Narrow(generated[i].name);
    ASSERT_EQ(read[i].facts, generated[i].facts) << Narrow(generated[i].name);
  }
  // What editors do to a file is no damage: a byte order mark, LF alone.
  EXPECT_EQ(
      OwnNames::Parse("\xEF\xBB\xBFShuffler names 1\nb\tfolder\nEnd\n").size(),
      1u);
}

TEST(OwnNamesFile, AnyDamageIsRefusedWhole) {
  const std::string whole =
      OwnNames::Parse(
          "Shuffler names 1\r\n01-\\\\\\u00e9\xC3\xA9\t12\t-3\r\nx\tfolder\r\n"
          "End\r\n")
          .Bytes();
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    EXPECT_EQ(FailureNumberOf([&] { OwnNames::Parse(whole.substr(0, cut)); }),
              kInvalidFileFormat)
        << cut;
  }
  const std::string head = "Shuffler names 1\r\n", end = "End\r\n";
  const struct {
    std::string bytes, description;
  } damaged[] = {
      {"", "The first line is not \"Shuffler names 1\""},
      {"Shuffler names 01\r\nEnd\r\n", "The first line is not"},
      {"Shuffler names 2\r\nEnd\r\n", "A newer Shuffler wrote it"},
      {"Shuffler Names 1\r\nEnd\r\n", "The first line is not"},
      {head + "a\\q\t1\t2\r\n" + end, "Line 2 has a backslash"},
      {head + "a\\u12G4\t1\t2\r\n" + end, "Line 2 has \\u without"},
      {head + "x\tfolder\r\na\t1x\t2\r\n" + end, "Line 3 has a size"},
      {head + "a\t18446744073709551616\t2\r\n" + end, "Line 2 has a size"},
      {head + "a\t1\t9223372036854775808\r\n" + end, "Line 2 has a time"},
      {head + "a\t1\r\n" + end, "Line 2 has neither"},
      {head + "a\r\n" + end, "Line 2 is not a name"},
      {head + "\t1\t2\r\n" + end, "Line 2 has a name no entry"},
      {head + "..\tfolder\r\n" + end, "Line 2 has a name no entry"},
      {head + "a\\u0000\tfolder\r\n" + end, "Line 2 has a name no entry"},
      {head + "a\rb\tfolder\r\n" + end, "Line 2 holds a control"},
      {head + "a\x01\tfolder\r\n" + end, "Line 2 holds a control"},
      {head + "\xFF\tfolder\r\n" + end, "Line 2 is not UTF-8"},
      {head + "\xED\xA0\x80\tfolder\r\n" + end, "Line 2 is not UTF-8"},
      {head + end + "x\tfolder\r\n", "There is text after"},
      {std::string(4096, '\0'), "The first line is not"},
  };
  for (const auto& c : damaged) {
    const Failure failure = FailureOf([&] { OwnNames::Parse(c.bytes); });
    EXPECT_EQ(failure.Number, kInvalidFileFormat) << c.bytes;
    EXPECT_EQ(Narrow(failure.Description).rfind(c.description, 0), 0u)
        << Narrow(failure.Description) << " for " << c.bytes;
  }
}

TEST(OwnNamesFile, EntriesAreRecognisedWhateverTheirNumberPrefix) {
  OwnNames names;
  names.Add(u"07-Song.mp3", File(100));
  names.Add(u"Live", kFolder);
  names.Add(u"01-02-Intro.mp3", File(50, kTime));
  names.Add(u"01-Copy.mp3", File(7));  // two copies: two records
  names.Add(u"02-Copy.mp3", File(7));
  names.Add(u"1-Zone.mp3", File(9, kTime + 3600));  // a time zone away
  names.Add(u"2-Zone.mp3", File(9, kTime));
  names.Add(u"Renamed.mp3", File(11, kTime));  // by a driver that dates it
  const size_t kNone = OwnNames::kNone;
  const struct {
    Text name;
    EntryFacts facts;
    size_t record;
  } rows[] = {
      {u"4-Song.mp3", File(100, kTime + 3), kNone},
      {u"12-Song.mp3", File(100, kTime + 2), kNone},  // the record is taken
      {u"Song.mp3", File(100, kTime), 0},  // by equal times, which go first
      {u"3-Song.mp3", File(101), kNone},
      {u"9-Live", kFolder, 1},
      {u"Song - Live.mp3", File(100), kNone},
      {u"Intro.mp3", File(50, kTime - 7200 - 1), 2},  // after /DENUM runs
      {u"5-Copy.mp3", File(7), 3},
      {u"9-Copy.mp3", File(7), 4},
      {u"3-Zone.mp3", File(9, kTime), 6},  // exact times go first
      {u"4-Zone.mp3", File(9, kTime + 3600), 5},
      {u"Live", File(0, 0), kNone},  // a file is no folder
      {u"3-Renamed.mp3", File(11, kTime + 4000), 7},
  };
  std::vector<PresentEntry> entries;
  for (const auto& row : rows)
    entries.push_back({row.name, row.facts});
  const std::vector<size_t> matches = names.Match(entries);
  ASSERT_EQ(matches.size(), entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(matches[i], rows[i].record) << Narrow(rows[i].name);
  }
  const std::vector<RestoreStep> plan = names.PlanRestore(entries);
  ASSERT_EQ(plan.size(), entries.size());
  EXPECT_EQ(plan[0].own_name, u"01-02-Intro.mp3");
  EXPECT_EQ(plan[0].name, u"Intro.mp3");
  EXPECT_EQ(plan.back().own_name, u"Song - Live.mp3");
  EXPECT_FALSE(plan.back().recorded);
  EXPECT_EQ(names.RecordNew(entries), 5u);
  EXPECT_EQ(names.RecordNew(entries), 0u);
  EXPECT_EQ(names[8].name, u"4-Song.mp3");
}

// A full folder, shuffled: every entry finds its own record again.
TEST(OwnNamesFile, EveryEntryOfAFullFolderIsFoundAfterAShuffle) {
  std::vector<PresentEntry> entries;
  for (int i = 0; i < 32767; ++i) {
    entries.push_back({u"0" + DecimalText(i % 9) + u"-Track " + DecimalText(i),
                       File(static_cast<uint64_t>(i % 3), kTime + i % 5)});
  }
  OwnNames names;
  ASSERT_EQ(names.RecordNew(entries), entries.size());
  const OwnNames read = OwnNames::Parse(names.Bytes());
  EXPECT_LT(names.Bytes().size(), 2u << 20);
  for (size_t i = 0; i < entries.size(); ++i)
    entries[i].name = DecimalText(static_cast<int64_t>(i * 7 % 32767)) +
                      entries[i].name.substr(2);
  const std::vector<size_t> matches = read.Match(entries);
  for (size_t i = 0; i < entries.size(); ++i)
    ASSERT_EQ(matches[i], i);
}

TEST(OwnNamesFile, IsReadAndWrittenThroughThePlatform) {
  testing::MemoryWorld world;
  testing::MemoryPlatform platform(world);
  const Text path = u"C:\\Game\\Shuffler.names";
  EXPECT_EQ(ReadOwnNames(platform, path).size(), 0u);  // none yet
  world.AddMusic({u"07-Song.mp3"});
  OwnNames names;
  names.RecordNew(
      LookAtEntries(platform, u"C:\\Game\\mp3\\", {u"07-Song.mp3"}));
  WriteOwnNames(platform, path, names);
  EXPECT_EQ(ReadOwnNames(platform, path)[0].name, u"07-Song.mp3");
  world.AddFile(path, "Shuffler names 1\r\n");
  const Failure failure = FailureOf([&] { ReadOwnNames(platform, path); });
  EXPECT_EQ(failure.Number, kInvalidFileFormat);
  EXPECT_EQ(failure.Path, path);
}

}  // namespace
}  // namespace shuffler
