// block-move: a pseudo-random lower half copied onto the upper half with one
// block copy; the copy is checked against the regenerated stream. Every block
// of a pass gets the same data (the seed is the pass number).
#include <cstring>

#include "engine/context.h"
#include "engine/random/random.h"
#include "engine/kernels/rand_lanes.h"

namespace dravik {

namespace {

// A word the copy check found wrong: destination word d = h + j, copied from
// source word j, read as a where e was due. Every record carries a, what the
// verifying read loaded; the re-reads here only decide where it goes and
// record_fault's own re-read its class. The source is read again, then the
// destination, from memory (its line flushed): when the destination holds e,
// the verifying read glitched and the glitch is recorded at the destination.
// Otherwise the destination is written again and re-read. When the source is
// wrong too, it is the bad word and the copy only carried its value; when the
// destination does not hold e, its cell is bad; when it holds and the source
// reads right, the copy carried a glitch of its read of the source, recorded
// at the source.
[[gnu::cold, gnu::noinline]] void copy_mismatch(EngineContext& run, const TestBlock& b, uint64_t d,
                                                uint64_t e, uint64_t a, const char* name) {
  const uint64_t h = b.words / 2;
  const uint64_t j = d - h;
  volatile uint64_t* dst = b.base + d;
  const auto reread_dst = [&] {
    if (run.clflush_usable != 0) flush_lines(b.base + d, b.base + d + 1, run.clflushopt != 0);
    full_fence();
    return *dst;
  };
  const uint64_t src = *static_cast<const volatile uint64_t*>(b.base + j);
  if (reread_dst() == e) {
    // The copy is right; a source that reads wrong went wrong after it.
    if (src != e) kernel::report_word(run, b, j, e, src, name);
    kernel::report_word(run, b, d, e, a, name);
    return;
  }
  *dst = e;
  const bool holds = reread_dst() == e;
  // What the copy read from the source is what it left in the destination,
  // as long as the destination holds what it is given.
  if (src != e) kernel::report_word(run, b, j, e, holds ? a : src, name);
  if (!holds) {
    kernel::report_word(run, b, d, e, a, name);
  } else if (src == e) {
    kernel::report_word(run, b, j, e, a, name);
  }
}

struct RecordCopyMismatch {
  EngineContext& run;
  const TestBlock& b;
  const char* name;
  void word(uint64_t i, uint64_t expected, uint64_t actual) const {
    copy_mismatch(run, b, i, expected, actual, name);
  }
  [[gnu::cold, gnu::noinline]] void line(uint64_t i, const Line& diff, const Line& expected) const {
    alignas(16) uint64_t d[8];
    alignas(16) uint64_t e[8];
    kernel::store_line(d, diff);
    kernel::store_line(e, expected);
    for (uint64_t k = 0; k < 8; ++k) {
      if (d[k] != 0) copy_mismatch(run, b, i + k, e[k], e[k] ^ d[k], name);
    }
  }
};

}  // namespace

void algo_block_move(EngineContext& run, const TestBlock& b, const AlgoParams& ap) {
  if (b.words < 2) return;
  begin_test(run, ap.name);
  const uint64_t h = b.words / 2;
  const uint64_t seed = static_cast<uint64_t>(static_cast<int64_t>(b.pass)) ^ 0xB10CC0DEULL;
  uint64_t* w = b.base;
  RandomWords fill(seed);
  stream_fill(w, 0, h, fill);
  fence_streamed(run, b);
  std::memcpy(w + h, w, 8 * h);
  flush_span(run, b);
  RandomWords expect(seed);
  walk_checkpoints(run, h, PassPct{0, 100, h}, [&](uint64_t lo, uint64_t hi) {
    check_span<PlainMap, RecordCopyMismatch>(run, b, h + lo, h + hi, expect, ap.name);
  });
}

}  // namespace dravik
