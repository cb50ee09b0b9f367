// The vector operations without an operator, in NEON (every aarch64 has it).
// Included by cpu/vector.h only.
#pragma once
#include <arm_neon.h>

#include <cstdint>

namespace dravik::cpu {

namespace a64 {
inline uint64x2_t m(Pair v) { return reinterpret_cast<uint64x2_t>(v); }
inline Pair p(uint64x2_t v) { return reinterpret_cast<Pair>(v); }
}  // namespace a64

inline uint64_t low_word(Pair v) { return vgetq_lane_u64(a64::m(v), 0); }
inline uint64_t high_word(Pair v) { return vgetq_lane_u64(a64::m(v), 1); }

// {a.low, b.low} and {a.high, b.high}.
inline Pair low_words(Pair a, Pair b) { return a64::p(vzip1q_u64(a64::m(a), a64::m(b))); }
inline Pair high_words(Pair a, Pair b) { return a64::p(vzip2q_u64(a64::m(a), a64::m(b))); }

// Whether any bit of v is set: the largest of its four 32-bit parts.
inline bool any_set(Pair v) { return vmaxvq_u32(vreinterpretq_u32_u64(a64::m(v))) != 0; }

// The OR of the two words.
inline uint64_t fold(Pair v) { return low_word(v) | high_word(v); }

// Lane by lane, the 64-bit product of the low 32 bits of a and of b.
inline Pair mul_low32(Pair a, Pair b) {
  return a64::p(vmull_u32(vmovn_u64(a64::m(a)), vmovn_u64(a64::m(b))));
}

// Non-temporal stores (STNP): a hint that the data will not be read again
// soon, so the line is not kept in the caches. Ordered by store_fence
// (cpu/cache.h). The memory operand tells the compiler which bytes each one
// writes; volatile keeps it from being merged away.
inline void stream_pairs(uint64_t* p, Pair a, Pair b) {
  asm volatile("stnp %q1, %q2, %0"
               : "=Q"(*reinterpret_cast<uint64_t(*)[4]>(p))
               : "w"(a64::m(a)), "w"(a64::m(b)));
}
// One pair (16 bytes, aligned): its two halves as one pair of D registers.
inline void stream_pair(uint64_t* p, Pair v) {
  const uint64x1_t lo = vget_low_u64(a64::m(v));
  const uint64x1_t hi = vget_high_u64(a64::m(v));
  asm volatile("stnp %d1, %d2, %0"
               : "=Q"(*reinterpret_cast<uint64_t(*)[2]>(p))
               : "w"(lo), "w"(hi));
}
// One word as the pair of its 32-bit halves.
inline void stream_word(uint64_t* p, uint64_t v) {
  asm volatile("stnp %w1, %w2, %0"
               : "=Q"(*p)
               : "r"(static_cast<uint32_t>(v)), "r"(static_cast<uint32_t>(v >> 32)));
}

}  // namespace dravik::cpu
