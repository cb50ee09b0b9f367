// modulo20: one word in twenty holds the target pattern, the rest the
// opposite background, written twice so that the writes around a target
// word have every chance to disturb it. Only the target words are verified;
// the offset k moves the target through all twenty positions.
#include "engine/context.h"
#include "engine/patterns/patterns.h"

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

// Four targets, 20 words apart from word i on, of which at least one read
// differed: each differing one, ascending, with the value its read loaded.
[[gnu::cold, gnu::noinline]] void report_targets(EngineContext& run, const TestBlock& b,
                                                 uint64_t i, uint64_t a0, uint64_t a1,
                                                 uint64_t a2, uint64_t a3, const char* name) {
  const uint64_t read[4] = {a0, a1, a2, a3};
  for (uint64_t m = 0; m < 4; ++m) {
    if (read[m] != kTarget) kernel::report_word(run, b, i + m * kStride, kTarget, read[m], name);
  }
}

// The target words lie 160 bytes apart, one per line at most. Four loads go
// out before one branch on their ORed differences, so the reads of four
// lines overlap instead of waiting for each other.
void check_targets(EngineContext& run, const TestBlock& b, uint32_t k, const char* name) {
  const uint64_t* w = b.base;
  uint64_t i = k;
  for (; i + 3 * kStride < b.words; i += 4 * kStride) {
    const uint64_t a0 = w[i], a1 = w[i + kStride], a2 = w[i + 2 * kStride], a3 = w[i + 3 * kStride];
    if (((a0 ^ kTarget) | (a1 ^ kTarget) | (a2 ^ kTarget) | (a3 ^ kTarget)) != 0) [[unlikely]] {
      report_targets(run, b, i, a0, a1, a2, a3, name);
    }
  }
  for (; i < b.words; i += kStride) {
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
