// Moving a test block out of the caches between its write pass and its verify
// pass, so that the verify reads come from memory and not from a cache line
// still holding the value just written. The flush itself and the fences are
// the processor layer's (cpu/cache.h); this is the engine's use of them.
#pragma once
#include <cstdint>

#include "cpu/cache.h"

namespace dravik {

struct EngineContext;
struct TestBlock;

// The processor has a flush that is weakly ordered against other flushes and
// stores (x86-64's CLFLUSHOPT; always on aarch64).
inline bool cpu_has_clflushopt() { return cpu::has_unordered_flush(); }

// Executes one flush and a fence under a guard against the signals a kernel
// that forbids the flush raises; 1 when the flush is usable, 0 when it
// trapped or the processor's line size is one the flush cannot step by. The
// previous actions of the signals are restored. Main thread, once at start-up.
inline int32_t probe_clflush() { return cpu::probe_flush(); }

// Full memory fence; also a compiler barrier.
using cpu::full_fence;

// Flushes every line from begin (rounded down to a line) up to end, in
// ascending order, by the processor's line size. Issues no fence of its own.
using cpu::flush_lines;

// The write/verify boundary of every test: in the quick tier only a fence;
// otherwise, when the flush is usable, the block's lines are flushed, then
// the fence. Finally the run's after_flush seam, when set, sees the block.
// Safe on worker threads: it touches only the block.
void flush_span(const EngineContext& run, const TestBlock& block);

// The boundary after a write pass that stored every word of the block with
// non-temporal stores (stream_fill, stream_fill_halves) and read none of it.
// Where such stores leave no copy of a line in any cache, the fence alone
// has the verify read memory and the flush would only cost time; elsewhere
// it is flush_span. The seam sees the block either way. A pass that wrote
// through the cache (a read-modify-write, a copy) ends with flush_span.
void fence_streamed(const EngineContext& run, const TestBlock& block);

}  // namespace dravik
