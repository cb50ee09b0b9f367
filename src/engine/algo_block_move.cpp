// block-move: a pseudo-random lower half copied onto the upper half with one
// block copy; the copy is checked against the regenerated stream. Every block
// of a pass gets the same data (the seed is the pass number).
#include <cstring>

#include "engine/context.h"
#include "engine/algo.h"
#include "engine/rand_lanes.h"

namespace dravik {

void algo_block_move(EngineContext& run, const TestBlock& b, const AlgoParams& ap) {
  if (b.words < 2) return;
  begin_test(run, ap.name);
  const uint64_t h = b.words / 2;
  const uint64_t seed = static_cast<uint64_t>(static_cast<int64_t>(b.pass)) ^ 0xB10CC0DEULL;
  uint64_t* w = b.base;
  RandomWords fill(seed);
  stream_fill(w, 0, h, fill);
  flush_span(run, b);
  std::memcpy(w + h, w, 8 * h);
  flush_span(run, b);
  RandomWords expect(seed);
  walk_checkpoints(run, h, PassPct{0, 100, h}, [&](uint64_t lo, uint64_t hi) {
    check_span(run, b, h + lo, h + hi, expect, ap.name);
  });
}

}  // namespace dravik
