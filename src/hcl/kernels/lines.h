// The qualification's side of the span kernels (kernels/span.h): the stream
// pattern the streaming kernels write and verify, the recorder that puts a
// mismatch in the job's error log (bit_errors.cpp), and the copy that
// verifies what it carries. Only the files of this room and their tests
// include it.
#pragma once
#include <algorithm>
#include <atomic>
#include <cstdint>

#include "core/run/flags.h"
#include "cpu/cache.h"
#include "cpu/line.h"
#include "hcl/kernels/kernels.h"
#include "kernels/span.h"
#include "kernels/words.h"

namespace dravik::hcl_lines {

using cpu::Line;
using cpu::Pair;
using kernels::AddressWords;
using kernels::ConstWords;
using kernels::Inverted;

// Verifies load and rewrite lines in the unaligned forms: a span needs only
// 8-byte alignment to be verified (the non-temporal stores need 16).
inline Line load_line(const uint64_t* p) { return cpu::load_line_unaligned(p); }

// Whether the loaded line a differs from the expected line e in any bit.
inline bool line_differs(const Line& a, const Line& e) {
  return cpu::any_set(cpu::or_pairs(cpu::xor_lines(a, e)));
}

// ---- Expected values -------------------------------------------------------

// The stream pattern s ^ (j * phi) from word index j on. Each lane of m0..m3
// holds j * phi for the word it is due at, and every word moves each lane on
// by phi.
struct StreamWords {
  Pair s, m0, m1, m2, m3;
  StreamWords(uint64_t seed, uint64_t j0) {
    s = cpu::splat(seed);
    m0 = cpu::pair_of(j0 * kHclPhi, (j0 + 1) * kHclPhi);
    m1 = cpu::pair_of((j0 + 2) * kHclPhi, (j0 + 3) * kHclPhi);
    m2 = cpu::pair_of((j0 + 4) * kHclPhi, (j0 + 5) * kHclPhi);
    m3 = cpu::pair_of((j0 + 6) * kHclPhi, (j0 + 7) * kHclPhi);
  }
  Line next8() {
    const Line l{s ^ m0, s ^ m1, s ^ m2, s ^ m3};
    advance(8 * kHclPhi);
    return l;
  }
  uint64_t next1() {
    const uint64_t r = cpu::low_word(s ^ m0);
    advance(kHclPhi);
    return r;
  }

 private:
  void advance(uint64_t by) {
    const Pair step = cpu::splat(by);
    m0 += step;
    m1 += step;
    m2 += step;
    m3 += step;
  }
};

// ---- The slow path ---------------------------------------------------------

// Records every word of the line at p whose loaded value differs from its
// expected value. Out of line and cold: reached only when a line differs.
[[gnu::cold, gnu::noinline]] void record_line(HclJob& job, const char* kernel, uint64_t* p,
                                              const Line& loaded, const Line& expected);

// The same for one word.
[[gnu::cold, gnu::noinline]] void record_word(HclJob& job, const char* kernel, uint64_t* p,
                                              uint64_t loaded, uint64_t expected);

inline void check_word(HclJob& job, const char* kernel, uint64_t* p, uint64_t loaded,
                       uint64_t expected) {
  if (loaded != expected) [[unlikely]] record_word(job, kernel, p, loaded, expected);
}

// ---- Kernels over a span ---------------------------------------------------

inline bool job_stopped(const HclJob& job) {
  return job.stop.load(std::memory_order_relaxed) != 0 || stopping();
}

// Puts each mismatch of the span kernels over the words at w in the job's
// log, with the value the verifying read loaded.
struct RecordInJob {
  HclJob& job;
  const char* kernel;
  uint64_t* w;
  void word(uint64_t i, uint64_t expected, uint64_t actual) const {
    record_word(job, kernel, w + i, actual, expected);
  }
  void line(uint64_t i, const Line& diff, const Line& expected) const {
    record_line(job, kernel, w + i, cpu::xor_lines(diff, expected), expected);
  }
};

// Non-temporal fill of w[0, n) from the cursor, ended with a store fence.
template <class Cur>
inline void fill_span(uint64_t* w, uint64_t n, Cur c) {
  kernels::stream_fill(w, 0, n, c);
  cpu::store_fence();
}

// Verifies w[0, n) against the cursor.
template <class Cur>
inline void verify_span(HclJob& job, const char* kernel, uint64_t* w, uint64_t n, Cur c) {
  RecordInJob rec{job, kernel, w};
  kernels::check_span(w, 0, n, c, rec);
}

// Verifies w[0, n) against the cursor and writes the complement of each
// expected word in its place (through the cache).
template <class Cur>
inline void verify_invert_span(HclJob& job, const char* kernel, uint64_t* w, uint64_t n, Cur c) {
  RecordInJob rec{job, kernel, w};
  kernels::check_invert_span(w, 0, n, c, rec);
}

// Verifies w[0, n) against the cursor and then writes to[i] = make(loaded,
// expected) line by line: the line is checked and its errors recorded before
// anything overwrites it.
template <class Cur, class Make>
inline void verify_rewrite_span(HclJob& job, const char* kernel, uint64_t* w, uint64_t n,
                                uint64_t* to, Cur c, Make make, bool nontemporal) {
  uint64_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const Line e = c.next8();
    const Line a = load_line(w + i);
    if (line_differs(a, e)) [[unlikely]] record_line(job, kernel, w + i, a, e);
    const Line out = make(a, e);
    if (nontemporal) {
      cpu::stream_line(to + i, out);
    } else {
      cpu::store_line_unaligned(to + i, out);
    }
  }
  for (; i < n; ++i) {
    const uint64_t e = c.next1();
    const uint64_t a = w[i];
    check_word(job, kernel, w + i, a, e);
    const Line out = make(Line{cpu::splat(a), {}, {}, {}}, Line{cpu::splat(e), {}, {}, {}});
    to[i] = cpu::low_word(out.v0);
  }
  if (nontemporal) cpu::store_fence();
}

// Walks [0, n) in chunks, testing stop before each; false when stopped.
template <class Body>
inline bool for_chunks(const HclJob& job, uint64_t n, uint64_t chunk, Body body) {
  for (uint64_t lo = 0; lo < n; lo += chunk) {
    if (job_stopped(job)) return false;
    body(lo, std::min(n, lo + chunk));
  }
  return true;
}

// Stop granularity of the read-modify-write kernels (512 KiB).
inline constexpr uint64_t kStopWords = uint64_t{1} << 16;

}  // namespace dravik::hcl_lines
