// The small checked types of the run state: 16-bit counters that refuse to
// wrap, and the list of names whose indexing refuses to leave its slots.
#pragma once

#include <cstdint>
#include <vector>

#include "base/failure.h"

namespace shuffler {

/// A 16-bit signed counter. A change that would leave -32768..32767 fails
/// with `kOverflow` and leaves the value as it was.
class Counter16 {
 public:
  constexpr Counter16() = default;
  constexpr Counter16(int16_t value) : value_(value) {}  // NOLINT: implicit

  /// The counter for `value`, or `kOverflow` when it does not fit.
  static Counter16 From(int64_t value) {
    if (value < INT16_MIN || value > INT16_MAX) Raise(kOverflow);
    return Counter16(static_cast<int16_t>(value));
  }

  constexpr operator int16_t() const { return value_; }  // NOLINT: implicit

  /// Adds `delta`, or fails with `kOverflow`.
  Counter16& Add(int64_t delta) {
    *this = From(int64_t{value_} + delta);
    return *this;
  }

 private:
  int16_t value_ = 0;
};

/// A resizable list of names whose first index is 0. An index outside its
/// slots fails with `kSubscriptOutOfRange`.
class NameList {
 public:
  /// Discards every name and makes `count` empty slots.
  void Resize(int64_t count) {
    if (count < 0) Raise(kSubscriptOutOfRange);
    slots_.assign(static_cast<size_t>(count), Text());
  }

  Text& operator[](int64_t index) {
    if (index < 0 || index >= static_cast<int64_t>(slots_.size())) {
      Raise(kSubscriptOutOfRange);
    }
    return slots_[static_cast<size_t>(index)];
  }
  const Text& operator[](int64_t index) const {
    return const_cast<NameList&>(*this)[index];
  }

  int64_t size() const { return static_cast<int64_t>(slots_.size()); }

 private:
  std::vector<Text> slots_;
};

}  // namespace shuffler
