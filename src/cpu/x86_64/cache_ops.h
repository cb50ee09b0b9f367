// Fences and the one-line flushes of x86-64. Included by cpu/cache.h only.
#pragma once
#include <xmmintrin.h>

#include <cstdint>

namespace dravik::cpu {

// A non-temporal store to write-back memory evicts the line it writes from
// every cache level and goes to memory through the write-combining buffers,
// which a fence drains: after a pass made only of such stores and a fence,
// no line it wrote is in any cache.
inline constexpr bool kStreamedStoresLeaveNoCachedCopy = true;

// Full memory fence; also a compiler barrier.
inline void full_fence() { asm volatile("mfence" ::: "memory"); }

// Orders the non-temporal stores before it against every later store and
// load. The compiler's own SFENCE is a barrier for it too, and leaves the
// loops around it their registers (an asm with a "memory" clobber costs the
// churn kernel a move or two per line).
inline void store_fence() { _mm_sfence(); }

// The memory operand and the "memory" clobber keep the compiler from moving
// any load or store of the block across the flush: a value written before it
// cannot be carried in a register into the verify pass that follows.
inline void flush_line(uintptr_t line) {
  asm volatile("clflush %0" ::"m"(*reinterpret_cast<const char*>(line)) : "memory");
}
inline void flush_line_unordered(uintptr_t line) {
  asm volatile("clflushopt %0" ::"m"(*reinterpret_cast<const char*>(line)) : "memory");
}

}  // namespace dravik::cpu
