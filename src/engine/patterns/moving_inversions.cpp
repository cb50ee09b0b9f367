// Moving inversions (movinv0, movinv1, movinv8): fill with a pattern, then
// walk up checking it and writing its complement, then walk down checking
// the complement and writing the pattern back. The two directions catch a
// write to one cell that disturbs a cell above or below it.
#include "engine/context.h"
#include "engine/patterns/patterns.h"

namespace dravik {

namespace {

// The descending read-modify-write of pass 3: from hi-1 down to lo, check
// against e, record, overwrite with NOT e. Lines go from the top down and the
// words of a line are reported top first, as the pass runs.
void check_invert_down(EngineContext& run, const TestBlock& b, uint64_t lo, uint64_t hi, uint64_t e,
                       const char* name) {
  uint64_t* w = b.base;
  auto one = [&](uint64_t i) {
    const uint64_t a = w[i];
    if (a != e) [[unlikely]] kernel::report_word(run, b, i, e, a, name);
    w[i] = ~e;
  };
  // Words above the highest line start in [lo, hi) go first, one by one.
  const uintptr_t top_addr = reinterpret_cast<uintptr_t>(w + hi);
  const uint64_t above = (top_addr & 7) != 0 ? hi - lo : (top_addr & 63) >> 3;
  uint64_t i = hi;
  for (const uint64_t stop = hi - std::min(above, hi - lo); i > stop;) one(--i);
  const Line expected = ConstWords{e}.next8();
  for (; i - lo >= 8; i -= 8) {
    uint64_t* line = w + i - 8;
    const Line d = kernel::diff_line(line, expected);
    if (kernel::any_set(d)) [[unlikely]] kernel::report_line(run, b, i - 8, d, expected, true, name);
    kernel::store_line_inverted(line, expected);
  }
  while (i > lo) one(--i);
}

void moving_inversion(EngineContext& run, const TestBlock& b, uint64_t p, const char* name) {
  begin_test(run, name);
  const uint64_t n = b.words;
  uint64_t* w = b.base;
  ConstWords fill{p};
  if (!walk_checkpoints(run, n, PassPct{0, 33, n},
                        [&](uint64_t lo, uint64_t hi) { stream_fill(w, lo, hi, fill); })) {
    return;
  }
  fence_streamed(run, b);
  ConstWords expect{p};
  if (!walk_checkpoints(run, n, PassPct{33, 33, n}, [&](uint64_t lo, uint64_t hi) {
        check_invert_span(run, b, lo, hi, expect, name);
      })) {
    return;
  }
  flush_span(run, b);
  walk_checkpoints_down(
      run, n,
      [n](uint64_t i) {
        return 66.0 + static_cast<double>(n - i) * 34.0 / static_cast<double>(n);
      },
      [&](uint64_t lo, uint64_t hi) { check_invert_down(run, b, lo, hi, ~p, name); });
}

}  // namespace

void algo_movinv(EngineContext& run, const TestBlock& b, const AlgoParams& ap) {
  moving_inversion(run, b, ap.pattern, ap.name);
}

// Eight runs under the one name, with the bytes 0x01, 0x02, ... 0x80 repeated
// in every byte position. Each run announces the same name again, so the
// progress restarts while the colour of the map stays.
void algo_movinv8(EngineContext& run, const TestBlock& b, const AlgoParams& ap) {
  for (int k = 0; k < 8; ++k) {
    if (stopping()) return;
    moving_inversion(run, b, 0x0101010101010101ULL << k, ap.name);
  }
}

}  // namespace dravik
