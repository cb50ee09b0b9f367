// Cache maintenance and fences: moving a written block out of the caches so
// that the verify after it reads memory, and ordering the kernels' stores.
#pragma once
#include <cstdint>

namespace dravik::cpu {

// The data-cache line size a processor reports, decoded: x86-64's CPUID leaf
// 1 (EBX bits 15:8, in 8-byte units) and aarch64's CTR_EL0 (DminLine, bits
// 19:16, log2 of 4-byte words). 0 when the size is not one the flush can step
// by (a power of two from 16 to 4096 bytes): such a size is reported, never
// guessed.
uint32_t line_bytes_from_cpuid1_ebx(uint32_t ebx);
uint32_t line_bytes_from_ctr_el0(uint64_t ctr);

// This processor's flush step, read once; 0 when unusable (always on 32-bit
// ARM, whose user space has no cache clean).
uint32_t flush_line_bytes();

// Whether the processor has a flush weakly ordered against other flushes and
// stores (x86-64: CLFLUSHOPT). aarch64's DC CIVAC always is; 32-bit ARM has
// no flush at all.
bool has_unordered_flush();

// Calls at(line) for the start of every line of `step` bytes from begin
// (rounded down to a line) up to end, ascending.
template <class At>
inline void for_each_line(uintptr_t begin, uintptr_t end, uint32_t step, At at) {
  uintptr_t line = begin & ~(uintptr_t{step} - 1);
  for (; line + step < end; line += 2 * uintptr_t{step}) {
    at(line);
    at(line + step);
  }
  if (line < end) at(line);
}

// Cleans and invalidates every line of [begin, end) to memory, ascending, by
// flush_line_bytes(); no fence of its own (full_fence completes it).
// `unordered` picks the weakly ordered flush where there is a choice. Does
// nothing when the line size is unusable.
void flush_lines(const void* begin, const void* end, bool unordered);

// Executes one flush and a full fence under a SIGILL/SIGSEGV/SIGBUS guard
// (a kernel may forbid cache maintenance from user space); 1 when the flush
// is usable, 0 when it trapped or the line size is unusable. The previous
// actions of those signals are restored. Main thread, once at start-up.
int32_t probe_flush();

}  // namespace dravik::cpu

#if defined(__x86_64__)
#include "cpu/x86_64/cache_ops.h"
#elif defined(__aarch64__)
#include "cpu/aarch64/cache_ops.h"
#elif defined(__arm__)
#include "cpu/armv7/cache_ops.h"
#else
#error "dravik builds for x86-64, aarch64 and 32-bit ARM"
#endif
