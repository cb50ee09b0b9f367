// bitflip and bitspread: one bit (bitflip) or two adjacent bits (bitspread)
// set in even words and clear in odd words, for every bit position. Coverage
// is capped at the first 128 MiB of the block: the rounds are many.
#include "engine/context.h"
#include "engine/patterns/patterns.h"

namespace dravik {

namespace {

constexpr uint64_t kBitTestCap = uint64_t{1} << 24;

// Even words m, odd words NOT m.
PatternTable alternating(uint64_t m) {
  return PatternTable(2, [m](uint32_t j) { return j == 0 ? m : ~m; });
}

}  // namespace

void algo_bitflip(EngineContext& run, const TestBlock& b, const AlgoParams& ap) {
  begin_test(run, ap.name);
  const TestBlock covered = head_of(b, kBitTestCap);
  for (uint32_t j = 0; j < 64; ++j) {
    const uint64_t m = uint64_t{1} << j;
    write_flush_verify(run, covered, alternating(m), ap.name);
    write_flush_verify(run, covered, alternating(~m), ap.name);
    if (stopping()) return;
    test_progress(run, j * 100.0 / 64);
  }
}

void algo_bitspread(EngineContext& run, const TestBlock& b, const AlgoParams& ap) {
  begin_test(run, ap.name);
  const TestBlock covered = head_of(b, kBitTestCap);
  for (uint32_t j = 0; j < 63; ++j) {
    const uint64_t m = (uint64_t{1} << j) | (uint64_t{1} << (j + 1));
    write_flush_verify(run, covered, alternating(m), ap.name);
    if (stopping()) return;
    test_progress(run, j * 100.0 / 63);
  }
}

}  // namespace dravik
