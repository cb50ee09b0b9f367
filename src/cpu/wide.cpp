#include "cpu/wide.h"

namespace dravik::cpu {

namespace {

// x86-64: CPUID, through the compiler's reading of it. aarch64 has no wider
// vector the kernels use (NEON's 128 bits are there on every box), nor has
// 32-bit ARM.
bool read_wide() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}

}  // namespace

bool wide_vectors() {
  static const bool wide = read_wide();
  return wide;
}

}  // namespace dravik::cpu
