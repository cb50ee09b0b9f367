// What every pattern test shares: its one signature, the chunk walker that
// places the stop checks and progress calls, the expected-value streams and
// the word kernels that write, verify and rewrite a span of the block.
//
// Shape of a test: announce itself, write the block, flush_span, verify, and
// hand every mismatching word to record_fault before the same pass rewrites
// it. The kernels keep the hot loops to one load or store per word: fills use
// non-temporal stores (the flush and fence that follow order them), verifies
// OR the differences of a whole chunk together and rescan it word by word only
// when that OR is non-zero. Read-modify-write passes check one 64-byte line,
// record its mismatches, then rewrite it, so the line is still in L1 when it
// is written and no record comes after its word was overwritten.
#pragma once
#include <emmintrin.h>

#include <algorithm>
#include <cstdint>

#include "core/flags.h"
#include "engine/fault_log.h"
#include "engine/flush.h"
#include "engine/progress.h"
#include "engine/prng.h"
#include "engine/test_block.h"

namespace dravik {

struct Run;

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

using AlgoFn = void (*)(Run&, const TestBlock&, const AlgoParams&);

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
inline bool walk_checkpoints(Run& run, uint64_t n, Pct pct, Body body) {
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
inline bool walk_checkpoints_down(Run& run, uint64_t n, Pct pct, Body body) {
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

// Chunks without checkpoints: they only bound how much a rescan re-reads.
template <class Body>
inline void for_each_chunk(uint64_t lo, uint64_t hi, Body body) {
  for (uint64_t c = lo; c < hi; c += kChunkWords) body(c, std::min(hi, c + kChunkWords));
}

// ---- Expected-value streams ------------------------------------------------
// A stream is positioned at a word index and yields the value of that word
// (next1) or of that word and the next as one vector, low word first (next2).
// Copies are independent, so a rescan replays a copy taken before the verify.

struct ConstWords {
  uint64_t p;
  uint64_t next1() { return p; }
  __m128i next2() { return _mm_set1_epi64x(static_cast<long long>(p)); }
};

// The word's own virtual address.
struct AddressWords {
  uint64_t a;
  uint64_t next1() {
    const uint64_t r = a;
    a += 8;
    return r;
  }
  __m128i next2() {
    const __m128i v = _mm_add_epi64(_mm_set1_epi64x(static_cast<long long>(a)),
                                    _mm_set_epi64x(8, 0));
    a += 16;
    return v;
  }
};

// A pattern repeating every `period` words (2 to kMax); word i of the block
// is table.t[i mod period]. The table carries two extra entries that repeat
// the first two, so a vector load never has to wrap.
struct PatternTable {
  static constexpr uint32_t kMax = 64;
  uint64_t t[kMax + 2] = {};
  uint32_t period = 2;
  template <class F>
  PatternTable(uint32_t p, F value_of) : period(p) {
    for (uint32_t j = 0; j < p; ++j) t[j] = value_of(j);
    t[p] = t[0];
    t[p + 1] = t[1];
  }
};

struct PeriodicWords {
  const uint64_t* t;
  uint32_t period;
  uint32_t idx;
  PeriodicWords(const PatternTable& tab, uint64_t start)
      : t(tab.t), period(tab.period), idx(static_cast<uint32_t>(start % tab.period)) {}
  uint64_t next1() {
    const uint64_t r = t[idx];
    if (++idx == period) idx = 0;
    return r;
  }
  __m128i next2() {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + idx));
    idx += 2;
    if (idx >= period) idx -= period;
    return v;
  }
};

// The xorshift128+ stream of a seed; a copy replays it.
struct RandomWords {
  RandState rs;
  explicit RandomWords(uint64_t seed) { rand_seed(&rs, seed); }
  uint64_t next1() { return rand_next(&rs); }
  __m128i next2() {
    const uint64_t lo = rand_next(&rs);
    const uint64_t hi = rand_next(&rs);
    return _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo));
  }
};

// The bitwise complement of another stream.
template <class Cur>
struct InvertedWords {
  Cur c;
  uint64_t next1() { return ~c.next1(); }
  __m128i next2() { return _mm_xor_si128(c.next2(), _mm_set1_epi32(-1)); }
};

// ---- Word kernels ----------------------------------------------------------

namespace kernel {

// First index >= lo whose word starts a 64-byte line, or hi. A block that is
// not word-aligned gets no vector body at all.
inline uint64_t line_start(const uint64_t* w, uint64_t lo, uint64_t hi) {
  const uintptr_t addr = reinterpret_cast<uintptr_t>(w + lo);
  if ((addr & 7) != 0) return hi;
  return std::min(hi, lo + (((64 - (addr & 63)) & 63) >> 3));
}

inline void stream_word(uint64_t* p, uint64_t v) {
  _mm_stream_si64(reinterpret_cast<long long*>(p), static_cast<long long>(v));
}

inline __m128i load2(const uint64_t* p) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(p));
}

inline uint64_t fold(__m128i v) {
  return static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_or_si128(v, _mm_unpackhi_epi64(v, v))));
}

inline bool any_set(__m128i v) {
  return _mm_movemask_epi8(_mm_cmpeq_epi32(v, _mm_setzero_si128())) != 0xFFFF;
}

// Word-by-word pass over a span whose OR of differences was non-zero.
template <class Cur>
[[gnu::cold, gnu::noinline]] void rescan(Run& run, const TestBlock& b, uint64_t lo, uint64_t hi,
                                         Cur c, const char* name) {
  for (uint64_t i = lo; i < hi; ++i) {
    const uint64_t e = c.next1();
    const uint64_t a = b.base[i];
    if (a != e) record_fault(run, b, i, e, a, name);
  }
}

// Records the mismatches of the line at word i whose check failed, in the
// order of the pass; the line has not been rewritten yet.
[[gnu::cold, gnu::noinline]] inline void rescan_line(Run& run, const TestBlock& b, uint64_t i,
                                                     __m128i e0, __m128i e1, __m128i e2,
                                                     __m128i e3, bool descending,
                                                     const char* name) {
  alignas(16) uint64_t e[8];
  _mm_store_si128(reinterpret_cast<__m128i*>(e), e0);
  _mm_store_si128(reinterpret_cast<__m128i*>(e + 2), e1);
  _mm_store_si128(reinterpret_cast<__m128i*>(e + 4), e2);
  _mm_store_si128(reinterpret_cast<__m128i*>(e + 6), e3);
  for (uint64_t k = 0; k < 8; ++k) {
    const uint64_t j = descending ? 7 - k : k;
    const uint64_t a = b.base[i + j];
    if (a != e[j]) record_fault(run, b, i + j, e[j], a, name);
  }
}

// OR of the differences of the line at word i from e0..e3 (low word first).
inline __m128i line_diff(const uint64_t* w, __m128i e0, __m128i e1, __m128i e2, __m128i e3) {
  return _mm_or_si128(_mm_or_si128(_mm_xor_si128(load2(w), e0), _mm_xor_si128(load2(w + 2), e1)),
                      _mm_or_si128(_mm_xor_si128(load2(w + 4), e2), _mm_xor_si128(load2(w + 6), e3)));
}

// Stores four vectors as one line.
inline void store_line(uint64_t* w, __m128i v0, __m128i v1, __m128i v2, __m128i v3) {
  __m128i* p = reinterpret_cast<__m128i*>(w);
  _mm_store_si128(p, v0);
  _mm_store_si128(p + 1, v1);
  _mm_store_si128(p + 2, v2);
  _mm_store_si128(p + 3, v3);
}

}  // namespace kernel

// Writes word[lo, hi) from the stream with non-temporal stores.
template <class Cur>
inline void stream_fill(uint64_t* w, uint64_t lo, uint64_t hi, Cur& c) {
  uint64_t i = lo;
  for (const uint64_t body = kernel::line_start(w, lo, hi); i < body; ++i) {
    kernel::stream_word(w + i, c.next1());
  }
  for (; i + 8 <= hi; i += 8) {
    __m128i* p = reinterpret_cast<__m128i*>(w + i);
    _mm_stream_si128(p, c.next2());
    _mm_stream_si128(p + 1, c.next2());
    _mm_stream_si128(p + 2, c.next2());
    _mm_stream_si128(p + 3, c.next2());
  }
  for (; i < hi; ++i) kernel::stream_word(w + i, c.next1());
}

// OR over word[lo, hi) of (word XOR expected); branch-free.
template <class Cur>
inline uint64_t diff_or(const uint64_t* w, uint64_t lo, uint64_t hi, Cur& c) {
  uint64_t acc = 0;
  uint64_t i = lo;
  for (const uint64_t body = kernel::line_start(w, lo, hi); i < body; ++i) acc |= w[i] ^ c.next1();
  __m128i a0 = _mm_setzero_si128(), a1 = a0, a2 = a0, a3 = a0;
  for (; i + 8 <= hi; i += 8) {
    a0 = _mm_or_si128(a0, _mm_xor_si128(kernel::load2(w + i), c.next2()));
    a1 = _mm_or_si128(a1, _mm_xor_si128(kernel::load2(w + i + 2), c.next2()));
    a2 = _mm_or_si128(a2, _mm_xor_si128(kernel::load2(w + i + 4), c.next2()));
    a3 = _mm_or_si128(a3, _mm_xor_si128(kernel::load2(w + i + 6), c.next2()));
  }
  for (; i < hi; ++i) acc |= w[i] ^ c.next1();
  return acc | kernel::fold(_mm_or_si128(_mm_or_si128(a0, a1), _mm_or_si128(a2, a3)));
}

// Verifies word[lo, hi) against the stream and records every mismatch; the
// stream ends positioned at hi.
template <class Cur>
inline void check_span(Run& run, const TestBlock& b, uint64_t lo, uint64_t hi, Cur& c,
                       const char* name) {
  const Cur replay = c;
  if (diff_or(b.base, lo, hi, c) != 0) kernel::rescan(run, b, lo, hi, replay, name);
}

// check_span over [lo, hi) in chunks, without checkpoints.
template <class Cur>
inline void check_all(Run& run, const TestBlock& b, uint64_t lo, uint64_t hi, Cur c,
                      const char* name) {
  for_each_chunk(lo, hi, [&](uint64_t clo, uint64_t chi) { check_span(run, b, clo, chi, c, name); });
}

// Read-modify-write, ascending: each word is checked against the stream,
// recorded when it differs, then overwritten with the complement of the
// expected value.
template <class Cur>
inline void check_invert_span(Run& run, const TestBlock& b, uint64_t lo, uint64_t hi, Cur& c,
                              const char* name) {
  uint64_t* w = b.base;
  const __m128i ones = _mm_set1_epi32(-1);
  auto one = [&](uint64_t i) {
    const uint64_t e = c.next1();
    const uint64_t a = w[i];
    if (a != e) [[unlikely]] record_fault(run, b, i, e, a, name);
    w[i] = ~e;
  };
  uint64_t i = lo;
  for (const uint64_t body = kernel::line_start(w, lo, hi); i < body; ++i) one(i);
  for (; i + 8 <= hi; i += 8) {
    const __m128i e0 = c.next2(), e1 = c.next2(), e2 = c.next2(), e3 = c.next2();
    if (kernel::any_set(kernel::line_diff(w + i, e0, e1, e2, e3))) [[unlikely]] {
      kernel::rescan_line(run, b, i, e0, e1, e2, e3, false, name);
    }
    kernel::store_line(w + i, _mm_xor_si128(e0, ones), _mm_xor_si128(e1, ones),
                       _mm_xor_si128(e2, ones), _mm_xor_si128(e3, ones));
  }
  for (; i < hi; ++i) one(i);
}

// The two-halves tests (h = n / 2): words i and h + i of [lo, hi) get the
// same value from the stream, with non-temporal stores.
template <class Cur>
inline void stream_fill_halves(uint64_t* w, uint64_t h, uint64_t lo, uint64_t hi, Cur& c) {
  for (uint64_t i = lo; i < hi; ++i) {
    const uint64_t v = c.next1();
    kernel::stream_word(w + i, v);
    kernel::stream_word(w + h + i, v);
  }
}

// Compares word i with word h + i for i in [lo, hi). A differing pair is read
// again and reported at h + i with the lower word as expected and the upper
// word as actual.
// Defined with rand-dual, shared by the extended group.
void check_halves(Run& run, const TestBlock& b, uint64_t h, uint64_t lo, uint64_t hi,
                  const char* name);

// A block that covers only the first `words` words of b (the capped bit
// tests flush just what they wrote).
inline TestBlock head_of(const TestBlock& b, uint64_t words) {
  return TestBlock{b.base, std::min(b.words, words), b.pass};
}

// One cycle of an iterated test: write a periodic pattern over the block,
// flush it, verify it. The iterated tests check for a stop and report
// progress between cycles, never inside one.
inline void write_flush_verify(Run& run, const TestBlock& b, const PatternTable& tab,
                               const char* name) {
  PeriodicWords fill(tab, 0);
  stream_fill(b.base, 0, b.words, fill);
  flush_span(run, b);
  check_all(run, b, 0, b.words, PeriodicWords(tab, 0), name);
}

// The tests of the catalogue, one definition each in its algo_*.cpp file.
void algo_stuck_addr(Run&, const TestBlock&, const AlgoParams&);
void algo_solid(Run&, const TestBlock&, const AlgoParams&);
void algo_checker(Run&, const TestBlock&, const AlgoParams&);
void algo_movinv(Run&, const TestBlock&, const AlgoParams&);
void algo_movinv8(Run&, const TestBlock&, const AlgoParams&);
void algo_movinv_rand(Run&, const TestBlock&, const AlgoParams&);
void algo_modulo20(Run&, const TestBlock&, const AlgoParams&);
void algo_walk(Run&, const TestBlock&, const AlgoParams&);
void algo_blockseq(Run&, const TestBlock&, const AlgoParams&);
void algo_bitflip(Run&, const TestBlock&, const AlgoParams&);
void algo_bitspread(Run&, const TestBlock&, const AlgoParams&);
void algo_rand_dual(Run&, const TestBlock&, const AlgoParams&);
void algo_movinv_rot(Run&, const TestBlock&, const AlgoParams&);
void algo_block_move(Run&, const TestBlock&, const AlgoParams&);
void algo_compare(Run&, const TestBlock&, const AlgoParams&);
void algo_retention(Run&, const TestBlock&, const AlgoParams&);

}  // namespace dravik
