// What every pattern test shares: its one signature, the chunk walker that
// places the stop checks and progress calls, and the test block's side of
// the span kernels (kernels/span.h): the recorder that hands a mismatch to
// record_fault, and the kernels over a block that only the fault test has.
//
// Shape of a test: announce itself, write the block, cross the write/verify
// boundary (fence_streamed after a pass of non-temporal stores, flush_span
// after one that wrote through the cache), verify, and hand every mismatching
// word to record_fault before the same pass rewrites it. When a line
// differs, its differences go to an out-of-line report, which rebuilds the
// values that read loaded (difference XOR expected) and records them: a
// glitch only that read saw is not lost to a second read, and record_fault's
// own re-read then tells a persisting defect from a transient one.
#pragma once
#include <algorithm>
#include <cstdint>

#include "core/run/flags.h"
#include "cpu/line.h"
#include "engine/flush.h"
#include "engine/progress.h"
#include "core/prng/prng.h"
#include "engine/test_block.h"
#include "kernels/span.h"
#include "kernels/words.h"

namespace dravik {

struct EngineContext;

// What a catalogue row hands its test: the name every announcement and fault
// record carries (static storage), the constant pattern of the solid and
// moving-inversion tests, the test's seed (the block seed already mixed with
// the row's constant) and the operation code of the extended group.
struct AlgoParams {
  const char* name = "";
  uint64_t pattern = 0;
  uint64_t seed = 0;
  int32_t op = 0;
};

using AlgoFn = void (*)(EngineContext&, const TestBlock&, const AlgoParams&);

// Stop checks and progress calls fall on every word index that is a multiple
// of this (2 MiB of words), index 0 included.
inline constexpr uint64_t kChunkWords = uint64_t{1} << 18;

// Progress at word index i of a pass that reports base + i * span / n.
struct PassPct {
  double base;
  double span;
  uint64_t n;
  double operator()(uint64_t i) const {
    return base + static_cast<double>(i) * span / static_cast<double>(n);
  }
};

// Ascending pass over [0, n): at each checkpoint (the first index of every
// chunk) returns false when a stop was requested, else reports pct(index);
// then body(lo, hi) does the chunk's words.
template <class Pct, class Body>
inline bool walk_checkpoints(EngineContext& run, uint64_t n, Pct pct, Body body) {
  for (uint64_t lo = 0; lo < n; lo += kChunkWords) {
    if (stopping()) return false;
    test_progress(run, pct(lo));
    body(lo, std::min(n, lo + kChunkWords));
  }
  return true;
}

// Descending pass from n-1 to 0. The checkpoint at index m comes just before
// word m, so the words above the highest checkpoint run first without one and
// each later segment is (m - 2^18, m]. body(lo, hi) must go from hi-1 down.
template <class Pct, class Body>
inline bool walk_checkpoints_down(EngineContext& run, uint64_t n, Pct pct, Body body) {
  if (n == 0) return true;
  uint64_t m = (n - 1) & ~(kChunkWords - 1);
  body(m + 1, n);
  for (;;) {
    if (stopping()) return false;
    test_progress(run, pct(m));
    body(m >= kChunkWords ? m - kChunkWords + 1 : 0, m + 1);
    if (m == 0) return true;
    m -= kChunkWords;
  }
}

// ---- Expected-value streams: kernels/words.h --------------------------------

using cpu::Line;
using cpu::Pair;
using cpu::pair_of;
using kernels::AddressWords;
using kernels::ConstWords;
using kernels::PatternTable;
using kernels::PeriodicWords;

// The random streams and their lane kernels: kernels/rand_lanes.h.

// ---- Word kernels ----------------------------------------------------------

namespace kernel {

using kernels::line_start;
using cpu::any_set;
using cpu::diff_line;
using cpu::diff_line_unaligned;
using cpu::fold;
using cpu::load_line;
using cpu::or_lines;
using cpu::store_line;
using cpu::stream_word;

// A verify that walks several streams at once (the two halves, the lanes of
// the random stream, the scattered targets of modulo20) is followed less well
// by the hardware prefetcher than a single stream: it asks for the line this
// many words ahead of each stream. A hint, not a load: it reads no value,
// never faults, and past the block's end it does nothing.
inline constexpr uint64_t kReadAhead = 256;
inline void read_ahead(const uint64_t* p) {
  __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(p) + 8 * kReadAhead),
                     0, 0);
}

// ---- Mismatch path (mismatch_report.cpp) ----
// The verifying loops only notice a difference; recording it happens here,
// out of line, from the values the verifying read loaded. The run's
// on_mismatch seam, when set, sees each word just before it is recorded.

// Word i read as actual where expected was due.
[[gnu::cold, gnu::noinline]] void report_word(EngineContext& run, const TestBlock& b, uint64_t i,
                                              uint64_t expected, uint64_t actual,
                                              const char* name);

// The line at word i differed from expected (e0..e3) by d0..d3, so the read
// loaded d XOR e: every differing word, in the order of the pass (the top
// word first when descending). The eight vectors travel in registers: a line
// passed through memory would make the hot loop store every line it checks.
[[gnu::cold, gnu::noinline]] void report_line(EngineContext& run, const TestBlock& b, uint64_t i,
                                              Pair d0, Pair d1, Pair d2, Pair d3, Pair e0, Pair e1,
                                              Pair e2, Pair e3, bool descending, const char* name);

inline void report_line(EngineContext& run, const TestBlock& b, uint64_t i, const Line& diff,
                        const Line& expected, bool descending, const char* name) {
  report_line(run, b, i, diff.v0, diff.v1, diff.v2, diff.v3, expected.v0, expected.v1,
              expected.v2, expected.v3, descending, name);
}

// The test block's recorder for the span kernels: each differing word is
// recorded where the read found it. block-move's check of its copy passes a
// rule of its own (see random/block_move.cpp).
struct RecordWhereRead {
  EngineContext& run;
  const TestBlock& b;
  const char* name;
  void word(uint64_t i, uint64_t expected, uint64_t actual) const {
    report_word(run, b, i, expected, actual, name);
  }
  void line(uint64_t i, const Line& diff, const Line& expected) const {
    report_line(run, b, i, diff, expected, false, name);
  }
};

// The expected value of any word of a stream, for a mismatch path that knows
// only the word's index: a cursor that moves forward from where it stands, or
// replays the stream from its start when asked for an earlier word. The
// differences of a pass come in ascending order, so a pass replays its stream
// at most once however many words differ; a pass without a difference never
// touches it.
class ExpectedAt {
 public:
  virtual uint64_t at(uint64_t i) = 0;

 protected:
  ~ExpectedAt() = default;
};

template <class Cur>
class StreamAt final : public ExpectedAt {
 public:
  explicit StreamAt(Cur start) : start_(start), cur_(start) {}
  uint64_t at(uint64_t i) override {
    if (i < pos_) {
      cur_ = start_;
      pos_ = 0;
    }
    for (; pos_ < i; ++pos_) cur_.next1();
    ++pos_;
    return cur_.next1();
  }

 private:
  Cur start_;
  Cur cur_;
  uint64_t pos_ = 0;  // index of the word cur_ yields next
};

// Words i and h + i of a two-halves test differ, as this read loaded them:
// each is recorded when it differs from the value both were given.
[[gnu::cold, gnu::noinline]] void report_halves(EngineContext& run, const TestBlock& b, uint64_t h,
                                                uint64_t i, uint64_t lower, uint64_t upper,
                                                ExpectedAt& expect, const char* name);

// The same for the line of lower words at i (lower) and the differences d of
// the upper line from it (upper = d XOR lower).
[[gnu::cold, gnu::noinline]] void report_halves_line(EngineContext& run, const TestBlock& b,
                                                     uint64_t h, uint64_t i, Pair d0, Pair d1,
                                                     Pair d2, Pair d3, Pair l0, Pair l1, Pair l2,
                                                     Pair l3, ExpectedAt& expect,
                                                     const char* name);

// Stores the complement of e as the line at w (through the cache: the line
// was just read).
inline void store_line_inverted(uint64_t* w, const Line& e) { store_line(w, cpu::invert(e)); }

}  // namespace kernel

// The span kernels over the block, recording with Report (kernels/span.h;
// the random streams have lane versions of their own in rand_lanes.h).
using kernels::diff_or;
using kernels::stream_fill;

template <class Cur, class Report = kernel::RecordWhereRead>
inline void check_span(EngineContext& run, const TestBlock& b, uint64_t lo, uint64_t hi, Cur& stream,
                       const char* name) {
  Report rec{run, b, name};
  kernels::check_span(b.base, lo, hi, stream, rec);
}

// check_span over [lo, hi), without checkpoints.
template <class Cur>
inline void check_all(EngineContext& run, const TestBlock& b, uint64_t lo, uint64_t hi, Cur c,
                      const char* name) {
  check_span(run, b, lo, hi, c, name);
}

template <class Cur>
inline void check_invert_span(EngineContext& run, const TestBlock& b, uint64_t lo, uint64_t hi,
                              Cur& stream, const char* name) {
  kernel::RecordWhereRead rec{run, b, name};
  kernels::check_invert_span(b.base, lo, hi, stream, rec);
}

// The two-halves tests (h = n / 2): words i and h + i of [lo, hi) get the
// same value from the stream, with non-temporal stores.
template <class Cur>
inline void stream_fill_halves(uint64_t* w, uint64_t h, uint64_t lo, uint64_t hi, Cur& stream) {
  Cur c = stream;
  for (uint64_t i = lo; i < hi; ++i) {
    const uint64_t v = c.next1();
    kernel::stream_word(w + i, v);
    kernel::stream_word(w + h + i, v);
  }
  stream = c;
}

// Compares word i with word h + i for i in [lo, hi). A differing pair goes
// to report_halves, which takes the value both words were given from expect
// and records whichever of the two differs from it, as this read loaded it.
// Defined with rand-dual, shared by the extended group.
void check_halves(EngineContext& run, const TestBlock& b, uint64_t h, uint64_t lo, uint64_t hi,
                  kernel::ExpectedAt& expect, const char* name);

// A block that covers only the first `words` words of b (the capped bit
// tests flush just what they wrote).
inline TestBlock head_of(const TestBlock& b, uint64_t words) {
  return TestBlock{b.base, std::min(b.words, words), b.pass};
}

// One cycle of an iterated test: write a periodic pattern over the block with
// non-temporal stores, cross the boundary, verify it. The iterated tests
// check for a stop and report progress between cycles, never inside one.
inline void write_flush_verify(EngineContext& run, const TestBlock& b, const PatternTable& tab,
                               const char* name) {
  PeriodicWords fill(tab, 0);
  stream_fill(b.base, 0, b.words, fill);
  fence_streamed(run, b);
  check_all(run, b, 0, b.words, PeriodicWords(tab, 0), name);
}

}  // namespace dravik
