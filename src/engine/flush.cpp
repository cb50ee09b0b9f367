#include "engine/flush.h"

#include <cpuid.h>
#include <setjmp.h>
#include <signal.h>

#include <atomic>

#include "engine/context.h"

namespace dravik {

bool cpu_has_clflushopt() {
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  return (ebx & (1u << 23)) != 0;
}

namespace {

sigjmp_buf probe_jump;
std::atomic<int32_t> probe_trapped{0};
static_assert(std::atomic<int32_t>::is_always_lock_free);

extern "C" void probe_trap(int) {
  probe_trapped.store(1, std::memory_order_relaxed);
  siglongjmp(probe_jump, 1);
}

// The memory operand and the "memory" clobber keep the compiler from moving
// any load or store of the block across the flush: a value written before it
// cannot be carried in a register into the verify pass that follows.
inline void clflush_line(uintptr_t line) {
  asm volatile("clflush %0" ::"m"(*reinterpret_cast<const char*>(line)) : "memory");
}
inline void clflushopt_line(uintptr_t line) {
  asm volatile("clflushopt %0" ::"m"(*reinterpret_cast<const char*>(line)) : "memory");
}

template <void (*Flush)(uintptr_t)>
void flush_range(uintptr_t line, uintptr_t stop) {
  for (; line + 64 < stop; line += 128) {
    Flush(line);
    Flush(line + 64);
  }
  if (line < stop) Flush(line);
}

}  // namespace

int32_t probe_clflush() {
  struct sigaction trap {};
  struct sigaction old_ill {};
  struct sigaction old_segv {};
  trap.sa_handler = probe_trap;
  sigemptyset(&trap.sa_mask);
  trap.sa_flags = 0;
  sigaction(SIGILL, &trap, &old_ill);
  sigaction(SIGSEGV, &trap, &old_segv);
  probe_trapped.store(0, std::memory_order_relaxed);

  alignas(64) char target[64] = {};
  // Save the signal mask too: the jump out of the handler must not leave
  // SIGILL or SIGSEGV blocked.
  if (sigsetjmp(probe_jump, 1) == 0) {
    clflush_line(reinterpret_cast<uintptr_t>(target));
    full_fence();
  }

  sigaction(SIGILL, &old_ill, nullptr);
  sigaction(SIGSEGV, &old_segv, nullptr);
  return probe_trapped.load(std::memory_order_relaxed) ? 0 : 1;
}

void flush_lines(const void* begin, const void* end, bool use_clflushopt) {
  const uintptr_t first = reinterpret_cast<uintptr_t>(begin) & ~uintptr_t{63};
  const uintptr_t stop = reinterpret_cast<uintptr_t>(end);
  if (use_clflushopt) {
    flush_range<clflushopt_line>(first, stop);
  } else {
    flush_range<clflush_line>(first, stop);
  }
}

void flush_span(const EngineContext& run, const TestBlock& block) {
  if (run.cfg.tier != Tier::quick && run.clflush_usable && block.words != 0) {
    const uintptr_t base = reinterpret_cast<uintptr_t>(block.base);
    flush_lines(block.base, reinterpret_cast<const void*>(base + 8 * block.words),
                run.clflushopt != 0);
  }
  // CLFLUSHOPT is weakly ordered against other flushes and stores; the fence
  // completes every flush before the verify pass starts, as with CLFLUSH.
  full_fence();
  if (run.after_flush) run.after_flush(block);
}

}  // namespace dravik
