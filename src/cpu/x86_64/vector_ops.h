// The vector operations without an operator, in SSE2 (every x86-64 has it).
// Included by cpu/vector.h only.
#pragma once
#include <emmintrin.h>

#include <cstdint>

namespace dravik::cpu {

namespace x86 {
inline __m128i m(Pair v) { return reinterpret_cast<__m128i>(v); }
inline Pair p(__m128i v) { return reinterpret_cast<Pair>(v); }
}  // namespace x86

inline uint64_t low_word(Pair v) { return static_cast<uint64_t>(_mm_cvtsi128_si64(x86::m(v))); }
inline uint64_t high_word(Pair v) {
  return static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(x86::m(v), x86::m(v))));
}

// {a.low, b.low} and {a.high, b.high}.
inline Pair low_words(Pair a, Pair b) { return x86::p(_mm_unpacklo_epi64(x86::m(a), x86::m(b))); }
inline Pair high_words(Pair a, Pair b) { return x86::p(_mm_unpackhi_epi64(x86::m(a), x86::m(b))); }

// Whether any bit of v is set.
inline bool any_set(Pair v) {
  return _mm_movemask_epi8(_mm_cmpeq_epi32(x86::m(v), _mm_setzero_si128())) != 0xFFFF;
}

// The OR of the two words.
inline uint64_t fold(Pair v) { return low_word(v | x86::p(_mm_unpackhi_epi64(x86::m(v), x86::m(v)))); }

// Lane by lane, the 64-bit product of the low 32 bits of a and of b.
inline Pair mul_low32(Pair a, Pair b) { return x86::p(_mm_mul_epu32(x86::m(a), x86::m(b))); }

// Non-temporal stores: the line goes to memory without being read into the
// caches first and without pushing the caches' lines out. Ordered by
// store_fence (cpu/cache.h). p 16-byte aligned.
inline void stream_pair(uint64_t* p, Pair v) {
  _mm_stream_si128(reinterpret_cast<__m128i*>(p), x86::m(v));
}
// Two pairs at p (32 bytes).
inline void stream_pairs(uint64_t* p, Pair a, Pair b) {
  _mm_stream_si128(reinterpret_cast<__m128i*>(p), x86::m(a));
  _mm_stream_si128(reinterpret_cast<__m128i*>(p) + 1, x86::m(b));
}
// One word, p 8-byte aligned.
inline void stream_word(uint64_t* p, uint64_t v) {
  _mm_stream_si64(reinterpret_cast<long long*>(p), static_cast<long long>(v));
}

}  // namespace dravik::cpu
