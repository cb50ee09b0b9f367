// Pseudo-random generators of the pattern tests: SplitMix64 for seeding and
// xorshift128+ for the streams. A test regenerates the identical stream by
// seeding again with the same seed; nothing written is ever stored.
#pragma once
#include <cstdint>

namespace dravik {

struct RandState {
  uint64_t s0 = 0;
  uint64_t s1 = 0;
};

inline uint64_t splitmix_mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

inline uint64_t splitmix_next(uint64_t* state) {
  *state += 0x9E3779B97F4A7C15ULL;
  return splitmix_mix(*state);
}

inline RandState* rand_seed(RandState* rs, uint64_t seed) {
  if (seed == 0) {
    rs->s0 = 0x0D7D93560D1929D2ULL;
    rs->s1 = 0x491DFB740E50D43FULL;
    return rs;
  }
  rs->s0 = splitmix_mix(seed + 0x9E3779B97F4A7C15ULL);
  rs->s1 = splitmix_mix(seed + 0x3C6EF372FE94F82AULL);
  if (rs->s0 == 0 && rs->s1 == 0) rs->s0 = 1;
  return rs;
}

// xorshift128+ with shifts 23, 17, 26.
inline uint64_t rand_next(RandState* rs) {
  uint64_t x = rs->s0;
  const uint64_t y = rs->s1;
  rs->s0 = y;
  x ^= x << 23;
  rs->s1 = x ^ y ^ (x >> 17) ^ (y >> 26);
  return rs->s1 + y;
}

// Seed of one test block: win is the window number when the block's sequence
// starts, pass the block's pass number; both sign-extended, arithmetic mod 2^64.
inline uint64_t test_seed(uint64_t base_seed, int32_t win, int32_t pass) {
  const uint64_t w = static_cast<uint64_t>(static_cast<int64_t>(win));
  const uint64_t p = static_cast<uint64_t>(static_cast<int64_t>(pass));
  return ((w + 1) * 0x9E3779B1ULL) ^ base_seed ^ ((p + 1) * 0x100000001B3ULL);
}

}  // namespace dravik
