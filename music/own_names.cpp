#include "music/own_names.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <utility>

#include "base/text.h"
#include "music/names.h"

namespace shuffler {

namespace {

constexpr std::string_view kHeader = "Shuffler names ";
constexpr std::string_view kVersion = "1";
constexpr std::string_view kEnd = "End";
constexpr std::string_view kFolder = "folder";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// ------------------------------------------------------------ recognising

// Where the name is left once every number prefix is gone: the shuffle
// swaps or drops the first, and "/DENUM" runs drop one after another, but
// no run changes what follows them.
size_t StrippedStart(TextView name) {
  size_t start = 0;
  for (;;) {
    const size_t dash = name.find(u'-', start);
    if (dash == TextView::npos ||
        !IsNumeric(name.substr(start, dash - start))) {
      return start;
    }
    start = dash + 1;
  }
}

TextView StrippedName(TextView name) {
  return name.substr(StrippedStart(name));
}

// What an entry is found by: its stripped name, whether it is a folder and
// a file's size, hashed.
uint64_t KeyHash(TextView stripped, const EntryFacts& facts) {
  uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char16_t unit : stripped) {
    hash = (hash ^ unit) * 0x100000001b3ULL;
  }
  hash ^= facts.folder ? 0x9e3779b97f4a7c15ULL : facts.size;
  hash *= 0xff51afd7ed558ccdULL;
  return hash ^ (hash >> 33);
}

enum class Closeness { kExact, kSame, kShifted, kOther };

// How close the times of `a` and `b` are. A FAT drive keeps a file's time
// to 2 seconds, in local time, which programs read in their own time zone
// (and Windows with its daylight saving of the day); other file systems may
// round where a copy of the folder came from.
Closeness TimesOf(const EntryFacts& a, const EntryFacts& b) {
  if (a.folder) return Closeness::kExact;
  const uint64_t apart = a.modified > b.modified
                             ? static_cast<uint64_t>(a.modified) -
                                   static_cast<uint64_t>(b.modified)
                             : static_cast<uint64_t>(b.modified) -
                                   static_cast<uint64_t>(a.modified);
  constexpr uint64_t kSlack = 2, kQuarter = 15 * 60, kZones = 26 * 3600;
  if (apart == 0) return Closeness::kExact;
  if (apart <= kSlack) return Closeness::kSame;
  if (apart > kZones + kSlack) return Closeness::kOther;
  const uint64_t off = apart % kQuarter;
  return off <= kSlack || off >= kQuarter - kSlack ? Closeness::kShifted
                                                   : Closeness::kOther;
}

// ---------------------------------------------------------------- writing

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// True for the units a name holds as an escape: those that would not show
// as themselves in a text editor, or would end the line there.
bool NeedsEscape(char16_t unit) {
  return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == 0x2028 ||
         unit == 0x2029 || unit == 0xFEFF;
}

void AppendEscapedName(std::string& out, TextView name) {
  for (size_t i = 0; i < name.size(); ++i) {
    const char16_t unit = name[i];
    if (unit < 0x80 && unit >= 0x20 && unit != u'\\' && unit != 0x7F) {
      out.push_back(static_cast<char>(unit));
    } else if (unit == u'\\') {
      out += "\\\\";
    } else if (unit == u'\t') {
      out += "\\t";
    } else if (unit == u'\r') {
      out += "\\r";
    } else if (unit == u'\n') {
      out += "\\n";
    } else if (IsHighSurrogate(unit) && i + 1 < name.size() &&
               IsLowSurrogate(name[i + 1])) {
      AppendCodePointUtf8(out, 0x10000 + ((char32_t{unit} - 0xD800) << 10) +
                                   (char32_t{name[i + 1]} - 0xDC00));
      ++i;
    } else if (NeedsEscape(unit) || IsHighSurrogate(unit) ||
               IsLowSurrogate(unit)) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) {
        out.push_back(kHex[(unit >> shift) & 0xF]);
      }
    } else {
      AppendCodePointUtf8(out, unit);
    }
  }
}

void AppendNumber(std::string& out, uint64_t number, bool negative) {
  char digits[24];
  int at = sizeof digits;
  do {
    digits[--at] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  if (negative) digits[--at] = '-';
  out.append(digits + at, sizeof digits - static_cast<size_t>(at));
}

// ---------------------------------------------------------------- reading

[[noreturn]] void Damaged(std::string_view what) {
  Failure failure = MakeFailure(kInvalidFileFormat);
  failure.Description.assign(what.begin(), what.end());
  throw failure;
}

[[noreturn]] void DamagedLine(size_t line, std::string_view what) {
  Damaged("Line " + std::to_string(line) + " " + std::string(what));
}

// The length of the valid UTF-8 sequence at `at` and its code point; 0 when
// there is none (overlong forms, encoded surrogates and code points past
// U+10FFFF are not UTF-8).
size_t Utf8Sequence(std::string_view bytes, size_t at, char32_t& code) {
  const auto byte = [&](size_t i) {
    return static_cast<unsigned char>(bytes[at + i]);
  };
  const unsigned char lead = byte(0);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (bytes.size() - at < length || byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  return length;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The name that the field `field` of line `line` spells.
Text ReadName(std::string_view field, size_t line) {
  Text name;
  name.reserve(field.size());
  size_t at = 0;
  while (at < field.size()) {
    const auto byte = static_cast<unsigned char>(field[at]);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      name.push_back(byte);
      ++at;
    } else if (byte == '\\') {
      const char kind = at + 1 < field.size() ? field[at + 1] : '\0';
      at += 2;
      switch (kind) {
        case '\\':
          name.push_back(u'\\');
          break;
        case 't':
          name.push_back(u'\t');
          break;
        case 'r':
          name.push_back(u'\r');
          break;
        case 'n':
          name.push_back(u'\n');
          break;
        case 'u': {
          int unit = 0;
          for (size_t i = 0; i < 4; ++i) {
            const int digit =
                at + i < field.size() ? HexValue(field[at + i]) : -1;
            if (digit < 0) DamagedLine(line, "has \\u without four hex digits");
            unit = unit * 16 + digit;
          }
          at += 4;
          name.push_back(static_cast<char16_t>(unit));
          break;
        }
        default:
          DamagedLine(line, "has a backslash that starts no escape");
      }
    } else if (byte < 0x80) {
      DamagedLine(line, "holds a control character");
    } else {
      char32_t code = 0;
      const size_t length = Utf8Sequence(field, at, code);
      if (length == 0) DamagedLine(line, "is not UTF-8 text");
      if (code >= 0x10000) {
        code -= 0x10000;
        name.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
        name.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
      } else {
        name.push_back(static_cast<char16_t>(code));
      }
      at += length;
    }
  }
  if (name.empty() || name == u"." || name == u".." ||
      name.find_first_of(std::u16string_view(u"/\0", 2)) != Text::npos) {
    DamagedLine(line, "has a name no entry can have");
  }
  return name;
}

// The number `field` spells, with a leading "-" where `signed_number`; false
// when it is no number or too large.
bool ReadNumber(std::string_view field, bool signed_number, uint64_t& value,
                bool& negative) {
  negative = signed_number && !field.empty() && field[0] == '-';
  if (negative) field.remove_prefix(1);
  if (field.empty() || field.size() > 20) return false;
  value = 0;
  for (const char c : field) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  const uint64_t largest =
      signed_number ? uint64_t{INT64_MAX} + (negative ? 1 : 0) : UINT64_MAX;
  return value <= largest;
}

// The record that line `line`, `text`, holds.
OwnName ReadRecord(std::string_view text, size_t line) {
  const size_t tab = text.find('\t');
  if (tab == std::string_view::npos) {
    DamagedLine(line, "is not a name, a tab and the entry's facts");
  }
  OwnName record{ReadName(text.substr(0, tab), line), EntryFacts()};
  const std::string_view facts = text.substr(tab + 1);
  if (facts == kFolder) {
    record.facts.folder = true;
    return record;
  }
  const size_t second = facts.find('\t');
  if (second == std::string_view::npos) {
    DamagedLine(line, "has neither \"folder\" nor a size, a tab and a time");
  }
  uint64_t size = 0, time = 0;
  bool negative = false;
  if (!ReadNumber(facts.substr(0, second), false, size, negative)) {
    DamagedLine(line, "has a size that is not a number");
  }
  if (!ReadNumber(facts.substr(second + 1), true, time, negative)) {
    DamagedLine(line, "has a time that is not a number");
  }
  record.facts.size = size;
  record.facts.modified =
      negative ? static_cast<int64_t>(0 - time) : static_cast<int64_t>(time);
  return record;
}

// Splits off the next line of `rest`, without its line end (CR LF, or LF
// alone as some editors write it); false when `rest` has no line end left.
bool NextLine(std::string_view& rest, std::string_view& line, size_t number) {
  const size_t end = rest.find('\n');
  if (end == std::string_view::npos) return false;
  line = rest.substr(0, end);
  rest.remove_prefix(end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.find('\r') != std::string_view::npos) {
    DamagedLine(number, "holds a control character");
  }
  return true;
}

}  // namespace

OwnNames OwnNames::Parse(std::string_view bytes) {
  OwnNames names;
  std::string_view rest = bytes;
  if (rest.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    rest.remove_prefix(kByteOrderMark.size());  // Notepad may add one
  }
  std::string_view line;
  if (!NextLine(rest, line, 1) || line.substr(0, kHeader.size()) != kHeader) {
    Damaged("The first line is not \"Shuffler names 1\"");
  }
  if (line.substr(kHeader.size()) != kVersion) {
    uint64_t version = 0;
    bool negative = false;
    if (ReadNumber(line.substr(kHeader.size()), false, version, negative) &&
        version > 1 && line[kHeader.size()] != '0') {
      Damaged("A newer Shuffler wrote it: \"Shuffler names " +
              std::string(line.substr(kHeader.size())) + "\"");
    }
    Damaged("The first line is not \"Shuffler names 1\"");
  }
  // Room for the records of a file of ordinary names, never for more than
  // a music folder holds: a large damaged file costs no memory before it
  // is found damaged.
  names.records_.reserve(std::min<size_t>(rest.size() / 32, 32768));
  for (size_t number = 2;; ++number) {
    if (!NextLine(rest, line, number)) {
      Damaged("It was cut short: the last line \"End\" is missing");
    }
    if (line == kEnd) break;
    names.records_.push_back(ReadRecord(line, number));
  }
  if (!rest.empty()) Damaged("There is text after the last line \"End\"");
  return names;
}

std::string OwnNames::Bytes() const {
  std::string out;
  size_t room = 64;
  for (const OwnName& record : records_)
    room += record.name.size() + 32;
  out.reserve(room);
  out += kHeader;
  out += kVersion;
  out += "\r\n";
  for (const OwnName& record : records_) {
    AppendEscapedName(out, record.name);
    out += '\t';
    if (record.facts.folder) {
      out += kFolder;
    } else {
      AppendNumber(out, record.facts.size, false);
      out += '\t';
      const int64_t time = record.facts.modified;
      AppendNumber(out,
                   time < 0 ? 0 - static_cast<uint64_t>(time)
                            : static_cast<uint64_t>(time),
                   time < 0);
    }
    out += "\r\n";
  }
  out += kEnd;
  out += "\r\n";
  return out;
}

void OwnNames::Add(Text name, const EntryFacts& facts) {
  records_.push_back({std::move(name), facts});
}

std::vector<size_t> OwnNames::Match(
    const std::vector<PresentEntry>& entries) const {
  // The records sorted by the hash of what finds them; a look-up takes the
  // run of equal hashes and checks each record in it.
  std::vector<std::pair<uint64_t, size_t>> table;
  table.reserve(records_.size());
  for (size_t i = 0; i < records_.size(); ++i) {
    const OwnName& record = records_[i];
    table.emplace_back(KeyHash(StrippedName(record.name), record.facts), i);
  }
  std::sort(table.begin(), table.end());

  std::vector<size_t> matches(entries.size(), kNone);
  std::vector<bool> taken(records_.size(), false);
  // Equal times first, then times a FAT drive may round apart, then those
  // a time zone away, then any: a record goes to the entry it is surely
  // about before another that only looks like it. Some drivers give a file
  // the time of its last rename, so the time alone never parts an entry
  // from its record.
  for (const Closeness wanted : {Closeness::kExact, Closeness::kSame,
                                 Closeness::kShifted, Closeness::kOther}) {
    for (size_t e = 0; e < entries.size(); ++e) {
      if (matches[e] != kNone) continue;
      const PresentEntry& entry = entries[e];
      const TextView stripped = StrippedName(entry.name);
      const uint64_t hash = KeyHash(stripped, entry.facts);
      auto it = std::lower_bound(table.begin(), table.end(),
                                 std::make_pair(hash, size_t{0}));
      for (; it != table.end() && it->first == hash; ++it) {
        const OwnName& record = records_[it->second];
        if (taken[it->second] || record.facts.folder != entry.facts.folder ||
            record.facts.size != entry.facts.size ||
            TimesOf(record.facts, entry.facts) != wanted ||
            StrippedName(record.name) != stripped) {
          continue;
        }
        taken[it->second] = true;
        matches[e] = it->second;
        break;
      }
    }
  }
  return matches;
}

size_t OwnNames::RecordNew(const std::vector<PresentEntry>& entries) {
  const std::vector<size_t> matches = Match(entries);
  size_t added = 0;
  for (size_t e = 0; e < entries.size(); ++e) {
    if (matches[e] != kNone) continue;
    Add(entries[e].name, entries[e].facts);
    ++added;
  }
  return added;
}

std::vector<RestoreStep> OwnNames::PlanRestore(
    const std::vector<PresentEntry>& entries) const {
  const std::vector<size_t> matches = Match(entries);
  // Each step with its name in upper case, made once: letter case aside,
  // two names are one where names ignore it.
  std::vector<std::pair<Text, RestoreStep>> keyed;
  keyed.reserve(entries.size());
  for (size_t e = 0; e < entries.size(); ++e) {
    const bool recorded = matches[e] != kNone;
    RestoreStep step{entries[e].name,
                     recorded ? records_[matches[e]].name : entries[e].name,
                     recorded, entries[e].facts.folder};
    keyed.emplace_back(UpperCase(step.own_name), std::move(step));
  }
  // By the name, letter case aside first, then by the name, then by the
  // present name.
  const auto sort = [&] {
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
      if (a.first != b.first) return a.first < b.first;
      if (a.second.own_name != b.second.own_name) {
        return a.second.own_name < b.second.own_name;
      }
      return a.second.name < b.second.name;
    });
  };
  sort();
  // No two entries end with one name. An entry whose own name another has
  // already, or gets first in this order, keeps its name; that name is then
  // its, and another entry may have to keep its own in turn.
  for (bool changed = true; changed;) {
    changed = false;
    std::unordered_set<Text> names;
    for (const auto& [key, step] : keyed) {
      if (step.own_name == step.name) names.insert(UpperCase(step.name));
    }
    for (auto& [key, step] : keyed) {
      if (step.own_name == step.name || names.insert(key).second) continue;
      step.taken = true;
      step.own_name = step.name;
      key = UpperCase(step.name);
      changed = true;
    }
  }
  sort();
  std::vector<RestoreStep> steps;
  steps.reserve(keyed.size());
  for (auto& [key, step] : keyed)
    steps.push_back(std::move(step));
  return steps;
}

OwnNames ReadOwnNames(Platform& platform, const Text& path) {
  std::string bytes;
  try {
    bytes = platform.ReadWholeFile(path);
  } catch (const Failure& failure) {
    if (failure.Number == kFileNotFound) return OwnNames();
    throw;
  }
  try {
    return OwnNames::Parse(bytes);
  } catch (Failure& failure) {
    failure.Path = path;
    throw;
  }
}

void WriteOwnNames(Platform& platform, const Text& path,
                   const OwnNames& names) {
  platform.ReplaceWholeFile(path, names.Bytes());
}

std::vector<PresentEntry> LookAtEntries(Platform& platform, const Text& folder,
                                        const std::vector<Text>& names) {
  std::vector<PresentEntry> entries;
  entries.reserve(names.size());
  Text path = folder;
  for (const Text& name : names) {
    path.resize(folder.size());
    path += name;
    entries.push_back({name, platform.FactsOf(path)});
  }
  return entries;
}

}  // namespace shuffler
