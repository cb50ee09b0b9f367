// Two 64-bit words in one 128-bit vector register: the unit every line kernel
// computes in, on each processor this program builds for.
//
// Lane-wise arithmetic and logic are the compiler's vector operators on Pair
// (^ | & ~ + - and shifts by a count, each lane modulo 2^64), which become the
// processor's own vector instructions. What has no operator is below, each the
// one or two instructions the processor has for it (x86_64/, aarch64/ or
// armv7/, where the "vector" is two pairs of core registers).
#pragma once
#include <cstdint>

namespace dravik::cpu {

// A vector of two words, low word first. may_alias: the kernels load and
// store it over words of the test block.
using Pair = uint64_t __attribute__((vector_size(16), may_alias));

// The same in memory that is only 8-byte aligned.
using PairUnaligned = uint64_t __attribute__((vector_size(16), may_alias, aligned(8)));

inline Pair pair_of(uint64_t lo, uint64_t hi) { return Pair{lo, hi}; }
inline Pair splat(uint64_t v) { return Pair{v, v}; }
inline Pair zero_pair() { return Pair{0, 0}; }

// p 16-byte aligned.
inline Pair load_pair(const uint64_t* p) { return *reinterpret_cast<const Pair*>(p); }
inline void store_pair(uint64_t* p, Pair v) { *reinterpret_cast<Pair*>(p) = v; }

inline Pair load_pair_unaligned(const uint64_t* p) {
  return *reinterpret_cast<const PairUnaligned*>(p);
}
inline void store_pair_unaligned(uint64_t* p, Pair v) {
  *reinterpret_cast<PairUnaligned*>(p) = v;
}

}  // namespace dravik::cpu

#if defined(__x86_64__)
#include "cpu/x86_64/vector_ops.h"
#elif defined(__aarch64__)
#include "cpu/aarch64/vector_ops.h"
#elif defined(__arm__)
#include "cpu/armv7/vector_ops.h"
#else
#error "dravik builds for x86-64, aarch64 and 32-bit ARM"
#endif
