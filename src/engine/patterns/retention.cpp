// retention: all ones, then all zeros, left alone for the retention time and
// then verified: cells that leak their charge show up as flipped bits.
#include <unistd.h>

#include "engine/context.h"
#include "engine/patterns/patterns.h"
#include "core/text.h"

namespace dravik {

void algo_retention(EngineContext& run, const TestBlock& b, const AlgoParams& ap) {
  const double hold = run.cfg.retention_s;
  if (hold <= 0) return;
  for (const uint64_t value : {~uint64_t{0}, uint64_t{0}}) {
    if (stopping()) return;
    begin_test(run, ap.name);
    ConstWords fill{value};
    stream_fill(b.base, 0, b.words, fill);
    flush_span(run, b);
    const double t0 = now_seconds();
    for (double now = t0; now < t0 + hold && !stopping(); now = now_seconds()) {
      test_progress(run, (now - t0) * 100.0 / hold);
      usleep(500000);
    }
    // Verified even after a stop cut the wait short: the time already spent
    // still says something about the cells.
    flush_span(run, b);
    check_all(run, b, 0, b.words, ConstWords{value}, ap.name);
  }
}

}  // namespace dravik
