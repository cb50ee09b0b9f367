// movinv-rand: moving inversions with a pseudo-random word per address. The
// stream is regenerated from the seed for every pass, nothing is stored; the
// last pass runs upwards too and only reads.
#include "engine/context.h"
#include "engine/random/random.h"
#include "engine/kernels/rand_lanes.h"

namespace dravik {

void algo_movinv_rand(EngineContext& run, const TestBlock& b, const AlgoParams& ap) {
  begin_test(run, ap.name);
  const uint64_t n = b.words;
  uint64_t* w = b.base;
  RandomWords fill(ap.seed);
  if (!walk_checkpoints(run, n, PassPct{0, 33, n},
                        [&](uint64_t lo, uint64_t hi) { stream_fill(w, lo, hi, fill); })) {
    return;
  }
  fence_streamed(run, b);
  RandomWords expect(ap.seed);
  if (!walk_checkpoints(run, n, PassPct{33, 33, n}, [&](uint64_t lo, uint64_t hi) {
        check_invert_span(run, b, lo, hi, expect, ap.name);
      })) {
    return;
  }
  flush_span(run, b);
  InvertedRandomWords inverted(ap.seed);
  walk_checkpoints(run, n, PassPct{66, 34, n}, [&](uint64_t lo, uint64_t hi) {
    check_span(run, b, lo, hi, inverted, ap.name);
  });
}

}  // namespace dravik
