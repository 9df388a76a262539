// Shuffler's random generator: xoshiro256** seeded through splitmix64.
// The same on every platform, so a seeded run repeats exactly everywhere.
#pragma once

#include <cstdint>

namespace shuffler {

class RandomGenerator {
 public:
  RandomGenerator() { Seed(0); }

  /// Restarts the sequence from `seed`; every seed gives a usable state.
  void Seed(uint64_t seed) {
    for (uint64_t& word : state_) {
      seed += 0x9e3779b97f4a7c15ULL;
      uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
      word = z ^ (z >> 31);
    }
  }

  /// The next 64 random bits.
  uint64_t NextBits() {
    const uint64_t result = Rotl(state_[1] * 5, 7) * 9;
    const uint64_t t = state_[1] << 17;
    state_[2] ^= state_[0];
    state_[3] ^= state_[1];
    state_[1] ^= state_[2];
    state_[0] ^= state_[3];
    state_[2] ^= t;
    state_[3] = Rotl(state_[3], 45);
    return result;
  }

  /// A single-precision value uniform in [0, 1): the top 24 bits, scaled,
  /// so every value is exact and 1 is never reached.
  float Next() {
    return static_cast<float>(NextBits() >> 40) * (1.0f / 16777216.0f);
  }

 private:
  static uint64_t Rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

  uint64_t state_[4];
};

}  // namespace shuffler
