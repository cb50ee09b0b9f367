#include "engine/drivers/selftest.h"

#include <unistd.h>

#include <atomic>

#include "engine/context.h"
#include "engine/faults/fault_log.h"
#include "engine/flush.h"
#include "engine/record_fault.h"
#include "core/text.h"
#include "memory/regions/arena.h"
#include "memory/address/phys_map.h"

namespace dravik {

namespace {

constexpr uint64_t kBufferBytes = 16ull << 20;
constexpr uint64_t kWords = kBufferBytes / 8;   // 0x200000
constexpr uint64_t kVictim = 0x100000;          // the middle of the buffer
constexpr uint64_t kPattern = 0xA5A5A5A5A5A5A5A5ULL;
constexpr uint64_t kPlanted = 0xA5A5A5A5A5A5A5ADULL;  // bit 3 flipped

// Reads the word from memory: the line is flushed when the flush is usable
// (probed first, as for a run) and the compiler barrier keeps it from reusing
// the value it just stored.
uint64_t read_back(const EngineContext& run, const uint64_t* word) {
  if (run.clflush_usable) flush_lines(word, word + 1, run.clflushopt != 0);
  full_fence();
  std::atomic_signal_fence(std::memory_order_seq_cst);
  return *word;
}

}  // namespace

int run_selftest(const SysPaths& paths, FILE* out, int32_t* flushed) {
  // The check builds its own run: physical addresses when root, hard after
  // two sightings, whatever the command line said.
  RunConfig cfg;
  cfg.use_phys = geteuid() == 0 ? 1 : 0;
  cfg.hard_threshold = 2;
  RunState st;
  PhysMap phys;
  FaultLog faults;
  MapGeometry map;
  const EventSink no_sink;
  // The flush is probed first, as for a run.
  const int32_t clflush_usable = probe_clflush();
  const int32_t clflushopt = clflush_usable && cpu_has_clflushopt() ? 1 : 0;
  if (flushed != nullptr) *flushed = clflush_usable;
  const std::function<void(const TestBlock&)> no_flush_seam;
  const std::function<void(const TestBlock&, uint64_t)> no_mismatch_seam;
  EngineContext run{cfg,     st,           paths,          phys,          faults,
                    map,     no_sink,      clflush_usable, clflushopt,    no_flush_seam,
                    no_mismatch_seam};

  fprintf(out, "dravik --selftest: fault-injection validation\n");
  run.st.run_start_time = now_seconds();
  phys_setup(run.phys, run.paths.pagemap, "");

  ArenaRegion buffer = arena_alloc(kBufferBytes);
  if (buffer.base == nullptr) {
    fprintf(out, "  FAIL: could not allocate test buffer\n");
    phys_close(run.phys);
    return 1;
  }
  const TestBlock block{static_cast<uint64_t*>(buffer.base), kWords, 1};
  for (uint64_t i = 0; i < kWords; ++i) block.base[i] = kPattern;

  block.base[kVictim] = kPlanted;
  const uint64_t first = read_back(run, &block.base[kVictim]);
  if (first != kPattern) {
    record_fault(run, block, kVictim, kPattern, first, "selftest");
    const uint64_t second = read_back(run, &block.base[kVictim]);
    if (second != kPattern) record_fault(run, block, kVictim, kPattern, second, "selftest");
  } else {
    const uint64_t again = read_back(run, &block.base[kVictim]);
    if (again != kPattern) record_fault(run, block, kVictim, kPattern, again, "selftest");
  }

  const char* result = "FAIL";
  if (run.faults.used == 0) {
    arena_free(buffer);
    phys_close(run.phys);
    fprintf(out, "  result: %s\n", result);
    return 1;
  }
  const FaultRecord& r = run.faults.records[0];
  fprintf(out, "  injected 1-bit flip at word %zu\n", static_cast<size_t>(kVictim));
  fprintf(out, "  detected: vaddr=0x%llx paddr=0x%llx xor=0x%0*llx bits=%d class=%s count=%d\n",
          static_cast<unsigned long long>(r.vaddr), static_cast<unsigned long long>(r.paddr), 16,
          static_cast<unsigned long long>(r.xor_value), r.bits,
          r.cls == FaultClass::hard ? "HARD" : "TRANSIENT", r.count);
  if (run.faults.hard > 0 && r.bits == 1 && r.xor_value == 8) result = "PASS";
  arena_free(buffer);
  phys_close(run.phys);
  fprintf(out, "  result: %s\n", result);
  return result[0] == 'P' ? 0 : 1;
}

}  // namespace dravik
