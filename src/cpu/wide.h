// Four 64-bit words in one 256-bit vector register, where the processor has
// one (x86-64 with AVX2, found at run time). DRAVIK_CPU_WIDE says whether
// this build has the wide kind at all (aarch64 has none: its vectors are 128
// bits); code that uses it sits under `#if DRAVIK_CPU_WIDE`, in functions
// marked DRAVIK_WIDE_FN, reached only when wide_vectors() says so.
//
// Lane-wise arithmetic and logic are the compiler's vector operators on Quad,
// as on Pair (cpu/vector.h).
#pragma once
#include <cstdint>

#include "cpu/vector.h"

namespace dravik::cpu {

// Whether the processor running this has the wide vectors (read once).
bool wide_vectors();

}  // namespace dravik::cpu

#if defined(__x86_64__)
#define DRAVIK_CPU_WIDE 1
#include "cpu/x86_64/wide_ops.h"
#else
#define DRAVIK_CPU_WIDE 0
#endif
