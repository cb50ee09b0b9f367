// rand-dual: the same pseudo-random stream written into both halves of the
// block; the halves then check each other, so the stream is generated once.
#include "engine/context.h"
#include "engine/algo.h"

namespace dravik {

namespace {

// A differing pair is read again: the report carries what both words hold now.
[[gnu::cold, gnu::noinline]] void rescan_halves(EngineContext& run, const TestBlock& b, uint64_t h,
                                                uint64_t lo, uint64_t hi, const char* name) {
  const uint64_t* w = b.base;
  for (uint64_t i = lo; i < hi; ++i) {
    if (w[i] == w[h + i]) continue;
    asm volatile("" ::: "memory");  // the second reads must reach memory again
    const uint64_t lower = w[i];
    const uint64_t upper = w[h + i];
    record_fault(run, b, h + i, lower, upper, name);
  }
}

}  // namespace

void check_halves(EngineContext& run, const TestBlock& b, uint64_t h, uint64_t lo, uint64_t hi,
                  const char* name) {
  const uint64_t* w = b.base;
  uint64_t acc = 0;
  uint64_t i = lo;
  for (const uint64_t body = kernel::line_start(w, lo, hi); i < body; ++i) acc |= w[i] ^ w[h + i];
  __m128i a0 = _mm_setzero_si128(), a1 = a0;
  for (; i + 8 <= hi; i += 8) {
    // The upper half is 16-byte aligned only when h is even.
    const __m128i* up = reinterpret_cast<const __m128i*>(w + h + i);
    a0 = _mm_or_si128(a0, _mm_xor_si128(kernel::load2(w + i), _mm_loadu_si128(up)));
    a1 = _mm_or_si128(a1, _mm_xor_si128(kernel::load2(w + i + 2), _mm_loadu_si128(up + 1)));
    a0 = _mm_or_si128(a0, _mm_xor_si128(kernel::load2(w + i + 4), _mm_loadu_si128(up + 2)));
    a1 = _mm_or_si128(a1, _mm_xor_si128(kernel::load2(w + i + 6), _mm_loadu_si128(up + 3)));
  }
  for (; i < hi; ++i) acc |= w[i] ^ w[h + i];
  if ((acc | kernel::fold(_mm_or_si128(a0, a1))) != 0) rescan_halves(run, b, h, lo, hi, name);
}

void algo_rand_dual(EngineContext& run, const TestBlock& b, const AlgoParams& ap) {
  if (b.words < 2) return;
  begin_test(run, ap.name);
  const uint64_t h = b.words / 2;
  RandomWords stream(ap.seed);
  stream_fill_halves(b.base, h, 0, h, stream);
  flush_span(run, b);
  walk_checkpoints(run, h, PassPct{0, 100, h},
                   [&](uint64_t lo, uint64_t hi) { check_halves(run, b, h, lo, hi, ap.name); });
}

}  // namespace dravik
