// walk: a single one bit (then a single zero bit) walking through the word,
// shifted by one position from each word to the next, 128 rounds. Coverage is
// capped at the first 256 MiB of the block: the rounds are many.
#include "engine/context.h"
#include "engine/patterns/patterns.h"

namespace dravik {

void algo_walk(EngineContext& run, const TestBlock& b, const AlgoParams& ap) {
  begin_test(run, ap.name);
  const TestBlock covered = head_of(b, uint64_t{1} << 25);
  for (uint32_t k = 0; k < 128; ++k) {
    const uint64_t invert = k > 63 ? ~uint64_t{0} : 0;
    const PatternTable tab(64, [k, invert](uint32_t j) {
      return (uint64_t{1} << ((k % 64 + j) % 64)) ^ invert;
    });
    write_flush_verify(run, covered, tab, ap.name);
    if (stopping()) return;
    test_progress(run, k * 100.0 / 128);
  }
}

}  // namespace dravik
