// The player's own names of the music folder's entries, kept in the names
// file "Shuffler.names" in the program's folder: for each entry, the name it
// had before Shuffler first renamed it, and what recognises the entry once
// its name has changed.
//
// The file is plain UTF-8 text with CR LF line ends, readable in Notepad:
//
//   Shuffler names 1
//   07-Song.mp3<TAB>4412345<TAB>1700000000
//   Live<TAB>folder
//   End
//
// A file's line holds its own name, its size in bytes and the time of its
// last change (whole seconds since 1970, UTC); a folder's, its name and
// "folder". In a name, "\\" stands for a backslash, "\t", "\r" and "\n" for
// a tab, a carriage return and a line feed, and "\uXXXX" (four hex digits)
// for any other UTF-16 unit that would not show as itself: other control
// characters, line and paragraph separators, the byte order mark, and a
// surrogate without its pair (a Windows name may hold one, and so may a
// Linux name, for each byte that is not UTF-8). So every name survives the
// file exactly, and either program reads the other's file. The last line,
// "End", tells a whole file from one cut short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace shuffler {

/// The names file's name, in the program's folder.
inline constexpr TextView kOwnNamesFileName = u"Shuffler.names";

/// An entry of the music folder as it is now.
struct PresentEntry {
  Text name;
  EntryFacts facts;
};

/// One entry's record: the name it had before Shuffler first renamed it, and
/// its facts then.
struct OwnName {
  Text name;
  EntryFacts facts;
};

/// One entry of a restore, in the order the entries are to be re-created.
struct RestoreStep {
  Text name;      ///< its present name
  Text own_name;  ///< the name it gets back; `name` when it has no record
  bool recorded = false;
  bool folder = false;
  /// Its own name is another entry's, which keeps it or gets it first: it
  /// keeps its present name (`own_name` is `name`).
  bool taken = false;
};

/// The records of one names file, in the order they were made.
class OwnNames {
 public:
  /// What `Match` gives an entry that no record recognises.
  static constexpr size_t kNone = SIZE_MAX;

  /// The records that the names file's `bytes` hold. Any damage (bytes that
  /// are not UTF-8, another first line, a line that is not a record, a bad
  /// escape or number, a file cut short before "End" or text after it) fails
  /// with `kInvalidFileFormat` and a description that names the line; no
  /// record is read then.
  static OwnNames Parse(std::string_view bytes);
  /// The names file that holds these records.
  std::string Bytes() const;

  size_t size() const { return records_.size(); }
  const OwnName& operator[](size_t index) const { return records_[index]; }
  /// Adds a record, as it is.
  void Add(Text name, const EntryFacts& facts);

  /// For each of `entries`, the index of the record that recognises it, or
  /// `kNone`. An entry is recognised by a record when the shuffle could
  /// have made its name from the record's own name (both are the same once
  /// every number prefix is gone), both are files or both folders, and a
  /// file has the record's size. Each record recognises one entry at most,
  /// and goes first to an entry with the record's time, then to one whose
  /// time one FAT drive shows two programs or two time zones (within 2
  /// seconds, or a whole number of quarter hours apart, up to 26 hours),
  /// then to any: of two copies of a song with two records, each gets one.
  std::vector<size_t> Match(const std::vector<PresentEntry>& entries) const;

  /// Records, under its present name, every one of `entries` that no record
  /// recognises: the step before the entries are renamed. The records there
  /// are kept as they are. Returns how many were added.
  size_t RecordNew(const std::vector<PresentEntry>& entries);

  /// Every one of `entries` with the name it gets back, in the order they
  /// are to be re-created: by that name, letter case aside first (ASCII),
  /// then by its UTF-16 units. No two end with one name, letter case
  /// aside: of two entries whose own names are one, the one that has it
  /// now keeps it, else the first in that order gets it, and the other
  /// keeps its present name.
  std::vector<RestoreStep> PlanRestore(
      const std::vector<PresentEntry>& entries) const;

 private:
  std::vector<OwnName> records_;
};

/// The records of the names file `path`; none when it is missing. A file
/// that cannot be read or is damaged fails, with the failure's `Path` set
/// to `path`.
OwnNames ReadOwnNames(Platform& platform, const Text& path);

/// Puts `names` in the names file `path` in one step (`ReplaceWholeFile`).
void WriteOwnNames(Platform& platform, const Text& path, const OwnNames& names);

/// The facts of the entries `names` of `folder` (which ends in the
/// separator), in that order. The first entry that cannot be looked at
/// fails.
std::vector<PresentEntry> LookAtEntries(Platform& platform, const Text& folder,
                                        const std::vector<Text>& names);

}  // namespace shuffler
