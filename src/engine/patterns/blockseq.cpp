// blockseq: sixteen solid backgrounds built from one byte each (single bits,
// all zeros and ones, and the classic 55/AA, 33/CC, 0F/F0 pairs).
#include "engine/context.h"
#include "engine/patterns/patterns.h"

namespace dravik {

namespace {

constexpr uint8_t kBytes[16] = {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40,
                                0x80, 0xFF, 0x55, 0xAA, 0x33, 0xCC, 0x0F, 0xF0};

}  // namespace

void algo_blockseq(EngineContext& run, const TestBlock& b, const AlgoParams& ap) {
  begin_test(run, ap.name);
  for (uint32_t j = 0; j < 16; ++j) {
    const uint64_t p = kBytes[j] * 0x0101010101010101ULL;
    write_flush_verify(run, b, PatternTable(1, [p](uint32_t) { return p; }), ap.name);
    if (stopping()) return;
    test_progress(run, j * 100.0 / 16);
  }
}

}  // namespace dravik
