#include "cpu/cache.h"

#include <setjmp.h>
#include <signal.h>

#include <atomic>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace dravik::cpu {

namespace {

uint32_t usable_step(uint64_t bytes) {
  const bool power_of_two = bytes != 0 && (bytes & (bytes - 1)) == 0;
  return power_of_two && bytes >= 16 && bytes <= 4096 ? static_cast<uint32_t>(bytes) : 0;
}

uint32_t read_line_bytes() {
#if defined(__x86_64__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return 0;
  return line_bytes_from_cpuid1_ebx(ebx);
#elif defined(__aarch64__)
  uint64_t ctr = 0;
  asm volatile("mrs %0, ctr_el0" : "=r"(ctr));
  return line_bytes_from_ctr_el0(ctr);
#else
  // 32-bit ARM: no user-space cache clean to step by (cpu/armv7/cache_ops.h).
  return 0;
#endif
}

sigjmp_buf probe_jump;
std::atomic<int32_t> probe_trapped{0};
static_assert(std::atomic<int32_t>::is_always_lock_free);

extern "C" void probe_trap(int) {
  probe_trapped.store(1, std::memory_order_relaxed);
  siglongjmp(probe_jump, 1);
}

}  // namespace

uint32_t line_bytes_from_cpuid1_ebx(uint32_t ebx) { return usable_step(((ebx >> 8) & 0xFFu) * 8u); }

uint32_t line_bytes_from_ctr_el0(uint64_t ctr) {
  return usable_step(uint64_t{4} << ((ctr >> 16) & 0xFu));
}

uint32_t flush_line_bytes() {
  static const uint32_t bytes = read_line_bytes();
  return bytes;
}

bool has_unordered_flush() {
#if defined(__x86_64__)
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  return (ebx & (1u << 23)) != 0;
#elif defined(__aarch64__)
  return true;
#else
  return false;
#endif
}

void flush_lines(const void* begin, const void* end, bool unordered) {
  const uint32_t step = flush_line_bytes();
  if (step == 0) return;
  const uintptr_t b = reinterpret_cast<uintptr_t>(begin);
  const uintptr_t e = reinterpret_cast<uintptr_t>(end);
  if (unordered) {
    for_each_line(b, e, step, [](uintptr_t line) { flush_line_unordered(line); });
  } else {
    for_each_line(b, e, step, [](uintptr_t line) { flush_line(line); });
  }
}

int32_t probe_flush() {
  if (flush_line_bytes() == 0) return 0;
  struct sigaction trap {};
  struct sigaction old_ill {};
  struct sigaction old_segv {};
  struct sigaction old_bus {};
  trap.sa_handler = probe_trap;
  sigemptyset(&trap.sa_mask);
  trap.sa_flags = 0;
  sigaction(SIGILL, &trap, &old_ill);
  sigaction(SIGSEGV, &trap, &old_segv);
  sigaction(SIGBUS, &trap, &old_bus);
  probe_trapped.store(0, std::memory_order_relaxed);

  alignas(64) char target[64] = {};
  // Save the signal mask too: the jump out of the handler must not leave the
  // trapping signal blocked.
  if (sigsetjmp(probe_jump, 1) == 0) {
    flush_line(reinterpret_cast<uintptr_t>(target));
    full_fence();
  }

  sigaction(SIGILL, &old_ill, nullptr);
  sigaction(SIGSEGV, &old_segv, nullptr);
  sigaction(SIGBUS, &old_bus, nullptr);
  return probe_trapped.load(std::memory_order_relaxed) ? 0 : 1;
}

}  // namespace dravik::cpu
