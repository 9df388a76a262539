// Measures of a music folder's order, for tests of the order a shuffle
// leaves: the folder's own order (the order its listing returns entries in,
// which players that follow the folder use) against the order of the number
// prefixes, or against the order before a run.
#pragma once

#include <cmath>
#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace shuffler::testing {

/// Kendall's tau-b between the order of the positions of `values` and the
/// order of the values: 1 when they rise together, -1 when one falls as the
/// other rises, near 0 for an order that has nothing to do with the other.
/// Tied values count as neither. 0 when fewer than two values differ.
inline double KendallTau(const std::vector<double>& values) {
  long long concordant = 0, discordant = 0, ties = 0;
  const size_t n = values.size();
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = i + 1; j < n; ++j) {
      if (values[i] < values[j]) {
        ++concordant;
      } else if (values[i] > values[j]) {
        ++discordant;
      } else {
        ++ties;
      }
    }
  }
  const double pairs = static_cast<double>(concordant + discordant + ties);
  const double untied = static_cast<double>(concordant + discordant);
  if (untied == 0) return 0;
  // Positions never tie, so tau-b divides by the root of both pair counts.
  return static_cast<double>(concordant - discordant) /
         std::sqrt(pairs * untied);
}

/// The number prefix of `name` ("07-Song.mp3" gives 7), or -1 when the name
/// does not begin with digits and a hyphen.
inline long NumberPrefix(const std::string& name) {
  size_t digits = 0;
  while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9') {
    ++digits;
  }
  if (digits == 0 || digits > 9 || digits >= name.size() ||
      name[digits] != '-') {
    return -1;
  }
  return std::stol(name.substr(0, digits));
}

/// The names of the entries of `folder` in the order its listing returns
/// them (readdir order on POSIX), without "." and "..".
inline std::vector<std::string> FolderOrder(
    const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

/// Tau of the folder's order `names` against their number prefixes; names
/// without one are left out.
inline double TauAgainstNumbers(const std::vector<std::string>& names) {
  std::vector<double> numbers;
  for (const std::string& name : names) {
    const long number = NumberPrefix(name);
    if (number >= 0) numbers.push_back(static_cast<double>(number));
  }
  return KendallTau(numbers);
}

/// Tau of the folder's order `names` against the order `before`, matching
/// each name to its place there by `key` (for a shuffled name, its bare
/// name); names that `before` lacks are left out.
template <typename Key>
double TauAgainstBefore(const std::vector<std::string>& names,
                        const std::vector<std::string>& before, Key key) {
  std::map<std::string, double> place;
  for (size_t i = 0; i < before.size(); ++i) {
    place[key(before[i])] = static_cast<double>(i);
  }
  std::vector<double> places;
  for (const std::string& name : names) {
    const auto found = place.find(key(name));
    if (found != place.end()) places.push_back(found->second);
  }
  return KendallTau(places);
}

}  // namespace shuffler::testing
