// Fences and the one-line flush of aarch64. Included by cpu/cache.h only.
#pragma once
#include <cstdint>

namespace dravik::cpu {

// STNP is only a hint: the line it writes may stay in a cache, so a pass of
// non-temporal stores still needs its lines cleaned and invalidated.
inline constexpr bool kStreamedStoresLeaveNoCachedCopy = false;

// Full system barrier: every memory access and cache maintenance before it
// completes before any after it; also a compiler barrier.
inline void full_fence() { asm volatile("dsb sy" ::: "memory"); }

// Orders the stores before it (the non-temporal ones included) against every
// later store and load; also a compiler barrier.
inline void store_fence() { asm volatile("dmb ish" ::: "memory"); }

// Clean and invalidate by virtual address to the point of coherency: the line
// is written back to memory and dropped from every cache level. Weakly
// ordered; full_fence completes it. The "memory" clobber keeps the block's
// loads and stores on their side of it.
inline void flush_line(uintptr_t line) {
  asm volatile("dc civac, %0" ::"r"(line) : "memory");
}
inline void flush_line_unordered(uintptr_t line) { flush_line(line); }

}  // namespace dravik::cpu
