// checker: alternating 0101... and 1010... words, then the same with the two
// exchanged, so every bit is seen at both values next to its opposite.
#include "engine/context.h"
#include "engine/patterns/patterns.h"

namespace dravik {

namespace {

constexpr uint64_t kFives = 0x5555555555555555ULL;
constexpr uint64_t kAs = 0xAAAAAAAAAAAAAAAAULL;

}  // namespace

void algo_checker(EngineContext& run, const TestBlock& b, const AlgoParams& ap) {
  begin_test(run, ap.name);
  const uint64_t n = b.words;
  uint64_t* w = b.base;
  const PatternTable even_fives(2, [](uint32_t j) { return j == 0 ? kFives : kAs; });
  const PatternTable even_as(2, [](uint32_t j) { return j == 0 ? kAs : kFives; });
  const PatternTable* halves[2] = {&even_fives, &even_as};

  for (int half = 0; half < 2; ++half) {
    PeriodicWords fill(*halves[half], 0);
    stream_fill(w, 0, n, fill);
    fence_streamed(run, b);
    PeriodicWords expect(*halves[half], 0);
    const bool verified = walk_checkpoints(
        run, n, PassPct{50.0 * half, 50, n},
        [&](uint64_t lo, uint64_t hi) { check_span(run, b, lo, hi, expect, ap.name); });
    if (!verified) return;
  }
}

}  // namespace dravik
