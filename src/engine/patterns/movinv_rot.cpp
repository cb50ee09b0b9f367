// movinv-rot: one set bit per word, rotated by the word's index, for sixteen
// rotations four bits apart. Despite the name there is no inverted pass.
#include "engine/context.h"
#include "engine/patterns/patterns.h"

namespace dravik {

void algo_movinv_rot(EngineContext& run, const TestBlock& b, const AlgoParams& ap) {
  begin_test(run, ap.name);
  for (uint32_t k = 0; k < 64; k += 4) {
    const PatternTable tab(64, [k](uint32_t j) { return uint64_t{1} << ((j + k) % 64); });
    write_flush_verify(run, b, tab, ap.name);
    if (stopping()) return;
    test_progress(run, k * 100.0 / 64);
  }
}

}  // namespace dravik
