// Fences of 32-bit ARM (ARMv7-A). Included by cpu/cache.h only.
//
// ARMv7 user space can neither clean a line to the point of coherency (the
// cache maintenance operations are CP15 operations of the kernel's privilege
// level) nor read the cache type register that gives the line size, and it
// has no non-temporal store. flush_line_bytes() is therefore 0 here: the
// flush probe reports it unusable, the run says "cache-flush: off", and the
// write/verify boundary is the fence alone. A verify pass then reads from
// memory only what the caches no longer hold: the lines of a block larger
// than the last-level cache mostly, of a smaller block hardly any.
#pragma once
#include <cstdint>

namespace dravik::cpu {

// Plain stores stand in for non-temporal ones (cpu/armv7/vector_ops.h): the
// lines they write stay cached.
inline constexpr bool kStreamedStoresLeaveNoCachedCopy = false;

// Full barrier between every memory access before it and every one after it,
// in the inner shareable domain (every core); also a compiler barrier.
inline void full_fence() { asm volatile("dmb ish" ::: "memory"); }

// Orders the stores before it against every later store and load.
inline void store_fence() { asm volatile("dmb ish" ::: "memory"); }

// No cache maintenance from user space: never reached, as flush_lines() does
// nothing when flush_line_bytes() is 0. Keeps the block's accesses on their
// side all the same.
inline void flush_line(uintptr_t) { asm volatile("" ::: "memory"); }
inline void flush_line_unordered(uintptr_t line) { flush_line(line); }

}  // namespace dravik::cpu
