// stuck-addr: every word holds its own virtual address, so a word that reads
// another word's address shows an addressing fault rather than a bad cell.
#include "engine/context.h"
#include "engine/patterns/patterns.h"

namespace dravik {

void algo_stuck_addr(EngineContext& run, const TestBlock& b, const AlgoParams& ap) {
  // The counter is run-wide: a mismatch another worker records meanwhile
  // counts too, which errs towards suspecting the addressing.
  const int64_t before = run.faults.total.load(std::memory_order_relaxed);
  begin_test(run, ap.name);
  const uint64_t n = b.words;
  uint64_t* w = b.base;
  auto address_of = [w](uint64_t i) { return AddressWords{reinterpret_cast<uintptr_t>(w + i)}; };

  const bool written = walk_checkpoints(run, n, PassPct{0, 50, n}, [&](uint64_t lo, uint64_t hi) {
    AddressWords c = address_of(lo);
    stream_fill(w, lo, hi, c);
  });
  if (!written) return;
  fence_streamed(run, b);
  const bool verified =
      walk_checkpoints(run, n, PassPct{50, 50, n}, [&](uint64_t lo, uint64_t hi) {
        AddressWords c = address_of(lo);
        check_span(run, b, lo, hi, c, ap.name);
      });
  if (verified && !stopping() && run.faults.total.load(std::memory_order_relaxed) > before) {
    run.st.address_fault_seen.store(1, std::memory_order_relaxed);
  }
}

}  // namespace dravik
