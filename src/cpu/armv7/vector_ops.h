// The vector operations without an operator, for 32-bit ARM (ARMv7-A).
// Included by cpu/vector.h only.
//
// Debian's armhf baseline has no NEON (the Marvell Armada 370 has none), and
// this build does not ask for it: the compiler lowers every operator on Pair
// to 32-bit integer loads, stores and logic on core registers (LDRD/STRD,
// LDM/STM, EOR/ORR), which every ARMv7 runs. The operations here are written
// on the lanes for the same reason.
#pragma once
#include <cstdint>

namespace dravik::cpu {

inline uint64_t low_word(Pair v) { return v[0]; }
inline uint64_t high_word(Pair v) { return v[1]; }

// {a.low, b.low} and {a.high, b.high}.
inline Pair low_words(Pair a, Pair b) { return Pair{a[0], b[0]}; }
inline Pair high_words(Pair a, Pair b) { return Pair{a[1], b[1]}; }

// The OR of the two words.
inline uint64_t fold(Pair v) { return v[0] | v[1]; }

// Whether any bit of v is set.
inline bool any_set(Pair v) { return fold(v) != 0; }

// Lane by lane, the 64-bit product of the low 32 bits of a and of b (one
// UMULL each).
inline Pair mul_low32(Pair a, Pair b) {
  return Pair{uint64_t{static_cast<uint32_t>(a[0])} * static_cast<uint32_t>(b[0]),
              uint64_t{static_cast<uint32_t>(a[1])} * static_cast<uint32_t>(b[1])};
}

// ARMv7 has no non-temporal store: these are plain stores through the cache
// (cpu/armv7/cache_ops.h says what the write/verify boundary does instead).
inline void stream_pairs(uint64_t* p, Pair a, Pair b) {
  store_pair(p, a);
  store_pair(p + 2, b);
}
inline void stream_pair(uint64_t* p, Pair v) { store_pair(p, v); }
inline void stream_word(uint64_t* p, uint64_t v) { *p = v; }

}  // namespace dravik::cpu
