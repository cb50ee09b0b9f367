// solid0 and solid1: one constant background, written once and verified once.
#include "engine/context.h"
#include "engine/patterns/patterns.h"

namespace dravik {

void algo_solid(EngineContext& run, const TestBlock& b, const AlgoParams& ap) {
  begin_test(run, ap.name);
  const uint64_t n = b.words;
  uint64_t* w = b.base;
  ConstWords fill{ap.pattern};
  const bool written = walk_checkpoints(run, n, PassPct{0, 50, n}, [&](uint64_t lo, uint64_t hi) {
    stream_fill(w, lo, hi, fill);
  });
  if (!written) return;
  fence_streamed(run, b);
  ConstWords expect{ap.pattern};
  walk_checkpoints(run, n, PassPct{50, 50, n},
                   [&](uint64_t lo, uint64_t hi) { check_span(run, b, lo, hi, expect, ap.name); });
}

}  // namespace dravik
