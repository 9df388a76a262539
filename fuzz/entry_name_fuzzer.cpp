// Entry names, fuzzed, through the bare-name and new-name rules and through
// a shuffle of a folder holding just that entry. The bare name is the name
// itself or what follows its first hyphen when a number comes before it;
// the new name is exactly the prefix, a hyphen and the bare name; no
// character is gained or lost beyond the prefix, and no file is lost.
//
// The first byte chooses the mode: bit 0 de-numbers. The rest is the name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/frm_one.h"
#include "fuzz/fuzz_support.h"
#include "music/names.h"
#include "tests/fake_platform.h"

namespace shuffler::fuzzing {
namespace {

using testing::FakePlatform;

// A run of ASCII digits with nothing but spaces around it.
bool ReadsAsNumber(TextView text) {
  size_t first = 0, last = text.size();
  while (first < last && text[first] == u' ')
    ++first;
  while (last > first && text[last - 1] == u' ')
    --last;
  if (first == last) return false;
  for (size_t i = first; i < last; ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
  }
  return true;
}

void CheckRules(const Text& name) {
  Require(IsNumeric(name) == ReadsAsNumber(name), "IsNumeric", name);
  const Text bare = BareName(name);
  const size_t dash = name.find(u'-');
  if (dash != Text::npos && ReadsAsNumber(name.substr(0, dash))) {
    Require(IsNumeric(name.substr(0, dash)), "IsNumeric of the prefix", name);
    Require(bare == name.substr(dash + 1),
            "a numbered name loses its number and first hyphen only", name);
  } else {
    Require(bare == name, "any other name is its own bare name", name);
  }
  // The prefix width for a count made of the name's first characters.
  const int64_t count = name.empty() ? 1 : 1 + name[0] % 32767;
  const int digits = DecimalDigits(count);
  Require(digits == static_cast<int>(std::to_string(count).size()),
          "DecimalDigits", name);
  const Text padded = ZeroPadded(count, digits);
  Require(
      static_cast<int>(padded.size()) == digits &&
          std::to_string(count) == std::string(padded.begin(), padded.end()),
      "ZeroPadded", name);
}

void CheckShuffle(const Text& name, bool denum) {
  // Names the in-memory tree cannot hold as one entry, and the names the
  // scan leaves alone.
  if (name.empty() || name.find(FakePlatform::kSep) != Text::npos ||
      name == u"." || name == u".." || name == u"temp" ||
      name == u"MP3Report.txt") {
    return;
  }
  FakePlatform fake;
  fake.AddMusic({name});
  fake.argument_text = denum ? u"/NOLAUNCH /DEBUG /DENUM" : u"/NOLAUNCH /DEBUG";
  const Text music(FakePlatform::kMusic);
  const std::vector<std::string> before = fake.ContentsBelow(music);
  frmOne form(fake);
  Require(testing::RunToEnd(form), "the run ends", name);
  Require(fake.ContentsBelow(music) == before, "the file is not lost", name);

  // With one entry the prefix is "1".
  const Text bare = BareName(name);
  const Text new_name = denum ? bare : u"1-" + bare;
  const Text slash = music + FakePlatform::kSep;
  Require(!fake.log_lines.empty() &&
              fake.log_lines[0] == u"Renamed \"" + slash + name + u"\" to \"" +
                                       slash + new_name + u"\"",
          "the rename is logged with the new name", name);

  // De-numbering can leave a name no entry may have, or the shuffle's own
  // folder's; anything else is renamed and moved without a failure.
  const bool awkward = denum && (bare.empty() || bare == u"temp" ||
                                 bare == u"." || bare == u"..");
  if (!awkward) {
    Require(fake.boxes.empty(), "no failure", name);
    Require(fake.Names(music) == std::vector<Text>{new_name},
            "the entry has its new name", name);
    Require(fake.Content(slash + new_name) == testing::Narrow(name),
            "the entry keeps its content", name);
  }
}

}  // namespace
}  // namespace shuffler::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 1024) return -1;
  const shuffler::Text name =
      shuffler::fuzzing::TextFromBytes(data + 1, size - 1);
  shuffler::fuzzing::CheckRules(name);
  shuffler::fuzzing::CheckShuffle(name, (data[0] & 1) != 0);
  return 0;
}
