// Four-word vectors in AVX2. Included by cpu/wide.h only; every function
// that touches a Quad carries DRAVIK_WIDE_FN and runs only when
// wide_vectors() is true.
#pragma once
#include <immintrin.h>

#include <cstdint>

#define DRAVIK_WIDE_FN __attribute__((target("avx2")))

namespace dravik::cpu {

using Quad = uint64_t __attribute__((vector_size(32), may_alias));

namespace x86 {
DRAVIK_WIDE_FN inline __m256i m(Quad v) { return reinterpret_cast<__m256i>(v); }
DRAVIK_WIDE_FN inline Quad q(__m256i v) { return reinterpret_cast<Quad>(v); }
}  // namespace x86

DRAVIK_WIDE_FN inline Quad quad_of(uint64_t w0, uint64_t w1, uint64_t w2, uint64_t w3) {
  return Quad{w0, w1, w2, w3};
}
DRAVIK_WIDE_FN inline Quad splat_quad(uint64_t v) { return Quad{v, v, v, v}; }

// Lane by lane, the 64-bit product of the low 32 bits of a and of b.
DRAVIK_WIDE_FN inline Quad mul_low32(Quad a, Quad b) {
  return x86::q(_mm256_mul_epu32(x86::m(a), x86::m(b)));
}

// Within each 128-bit half, {a.low, b.low} and {a.high, b.high}.
DRAVIK_WIDE_FN inline Quad low_words(Quad a, Quad b) {
  return x86::q(_mm256_unpacklo_epi64(x86::m(a), x86::m(b)));
}
DRAVIK_WIDE_FN inline Quad high_words(Quad a, Quad b) {
  return x86::q(_mm256_unpackhi_epi64(x86::m(a), x86::m(b)));
}

// Words 0-1 and words 2-3 as pairs.
DRAVIK_WIDE_FN inline Pair low_pair(Quad v) {
  return reinterpret_cast<Pair>(_mm256_castsi256_si128(x86::m(v)));
}
DRAVIK_WIDE_FN inline Pair high_pair(Quad v) {
  return reinterpret_cast<Pair>(_mm256_extracti128_si256(x86::m(v), 1));
}

// Word k (0-3), k a constant.
template <int K>
DRAVIK_WIDE_FN inline uint64_t word_of(Quad v) {
  return static_cast<uint64_t>(_mm256_extract_epi64(x86::m(v), K));
}

}  // namespace dravik::cpu
