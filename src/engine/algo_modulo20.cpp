// modulo20: one word in twenty holds the target pattern, the rest the
// opposite background, written twice so that the writes around a target
// word have every chance to disturb it. Only the target words are verified;
// the offset k moves the target through all twenty positions.
#include "engine/context.h"
#include "engine/algo.h"

namespace dravik {

namespace {

constexpr uint32_t kStride = 20;
constexpr uint64_t kTarget = 0x5555555555555555ULL;
constexpr uint64_t kBackground = 0xAAAAAAAAAAAAAAAAULL;

// The second background write: every word whose index is not k modulo 20.
// Plain stores: two lines in five hold a target word that must not be
// written, and partly written non-temporal lines cost far more than a cached
// write whose line the flush then writes back.
void rewrite_background(uint64_t* w, uint64_t n, uint32_t k) {
  uint64_t q = 0;
  for (; q + kStride <= n; q += kStride) {
    for (uint32_t j = 0; j < k; ++j) w[q + j] = kBackground;
    for (uint32_t j = k + 1; j < kStride; ++j) w[q + j] = kBackground;
  }
  for (uint64_t i = q; i < n; ++i) {
    if (i - q != k) w[i] = kBackground;
  }
}

// The target words lie 160 bytes apart, one per line at most, so the
// per-line check of the other verifies is here one compare per target.
void check_targets(EngineContext& run, const TestBlock& b, uint32_t k, const char* name) {
  const uint64_t* w = b.base;
  for (uint64_t i = k; i < b.words; i += kStride) {
    const uint64_t a = w[i];
    if (a != kTarget) [[unlikely]] kernel::report_word(run, b, i, kTarget, a, name);
  }
}

}  // namespace

void algo_modulo20(EngineContext& run, const TestBlock& b, const AlgoParams& ap) {
  begin_test(run, ap.name);
  const uint64_t n = b.words;
  uint64_t* w = b.base;
  for (uint32_t k = 0; k < kStride; ++k) {
    const PatternTable tab(kStride, [k](uint32_t j) { return j == k ? kTarget : kBackground; });
    PeriodicWords fill(tab, 0);
    const double pct = k * 100.0 / kStride;
    if (!walk_checkpoints(run, n, [pct](uint64_t) { return pct; },
                          [&](uint64_t lo, uint64_t hi) { stream_fill(w, lo, hi, fill); })) {
      return;
    }
    rewrite_background(w, n, k);
    flush_span(run, b);
    check_targets(run, b, k, ap.name);
    if (stopping()) return;
  }
}

}  // namespace dravik
