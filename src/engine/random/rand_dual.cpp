// rand-dual: the same pseudo-random stream written into both halves of the
// block; the halves then check each other, so the stream is generated once.
#include "engine/context.h"
#include "engine/random/random.h"
#include "engine/kernels/rand_lanes.h"

namespace dravik {

// A differing pair is recorded as this read loaded it, whatever the words
// hold by the time record_fault re-reads them.
void check_halves(EngineContext& run, const TestBlock& b, uint64_t h, uint64_t lo, uint64_t hi,
                  kernel::ExpectedAt& expect, const char* name) {
  const uint64_t* w = b.base;
  auto one = [&](uint64_t i) {
    const uint64_t lower = w[i];
    const uint64_t upper = w[h + i];
    if (lower != upper) [[unlikely]] kernel::report_halves(run, b, h, i, lower, upper, expect, name);
  };
  uint64_t i = lo;
  for (const uint64_t body = kernel::line_start(w, lo, hi); i < body; ++i) one(i);
  for (; i + 8 <= hi; i += 8) {
    kernel::read_ahead(w + i);
    kernel::read_ahead(w + h + i);
    // The upper half is 16-byte aligned only when h is even.
    const Line lower = kernel::load_line(w + i);
    const Line d = kernel::diff_line_unaligned(w + h + i, lower);
    if (kernel::any_set(d)) [[unlikely]] {
      kernel::report_halves_line(run, b, h, i, d.v0, d.v1, d.v2, d.v3, lower.v0, lower.v1,
                                 lower.v2, lower.v3, expect, name);
    }
  }
  for (; i < hi; ++i) one(i);
}

void algo_rand_dual(EngineContext& run, const TestBlock& b, const AlgoParams& ap) {
  if (b.words < 2) return;
  begin_test(run, ap.name);
  const uint64_t h = b.words / 2;
  RandomWords stream(ap.seed);
  stream_fill_halves(b.base, h, 0, h, stream);
  fence_streamed(run, b);
  kernel::StreamAt<RandomWords> expect(RandomWords(ap.seed));
  walk_checkpoints(run, h, PassPct{0, 100, h}, [&](uint64_t lo, uint64_t hi) {
    check_halves(run, b, h, lo, hi, expect, ap.name);
  });
}

}  // namespace dravik
