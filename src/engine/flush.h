// Moving a test block out of the caches between its write pass and its verify
// pass, so that the verify reads come from memory and not from a cache line
// still holding the value just written.
#pragma once
#include <cstdint>

namespace dravik {

struct EngineContext;
struct TestBlock;

// The processor announces CLFLUSHOPT (CPUID leaf 7, sub-leaf 0, EBX bit 23).
bool cpu_has_clflushopt();

// Executes one CLFLUSH and a fence under a SIGILL/SIGSEGV guard; 1 when the
// instruction is usable, 0 when it trapped. The previous actions of both
// signals are restored. Main thread, once at start-up.
int32_t probe_clflush();

// Full memory fence; also a compiler barrier.
inline void full_fence() { asm volatile("mfence" ::: "memory"); }

// Flushes every 64-byte line from begin (rounded down to 64) up to end, in
// ascending order. Issues no fence of its own.
void flush_lines(const void* begin, const void* end, bool use_clflushopt);

// The write/verify boundary of every test: in the quick tier only a fence;
// otherwise, when the flush is usable, the block's lines are flushed, then
// the fence. Finally the run's after_flush seam, when set, sees the block.
// Safe on worker threads: it touches only the block.
void flush_span(const EngineContext& run, const TestBlock& block);

}  // namespace dravik
