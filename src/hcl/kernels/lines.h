// Line-wise building blocks of the worker kernels: expected-value cursors
// that yield a 64-byte line as four 128-bit pairs, non-temporal fills, and
// verifies that test one line at a time and hand the loaded values of a
// differing line to the out-of-line recorder (bit_errors.cpp). Only the
// files of this room and their tests include it.
#pragma once
#include <algorithm>
#include <atomic>
#include <cstdint>

#include "core/run/flags.h"
#include "cpu/cache.h"
#include "cpu/line.h"
#include "hcl/kernels/kernels.h"

namespace dravik::hcl_lines {

using cpu::Line;
using cpu::Pair;

// Verifies load and rewrite lines in the unaligned forms: a span needs only
// 8-byte alignment to be verified (the non-temporal stores need 16).
inline Line load_line(const uint64_t* p) { return cpu::load_line_unaligned(p); }

// Whether the loaded line a differs from the expected line e in any bit.
inline bool line_differs(const Line& a, const Line& e) {
  return cpu::any_set(cpu::or_pairs(cpu::xor_lines(a, e)));
}

// ---- Expected values -------------------------------------------------------

// The stream pattern s ^ (j * phi) from word index j on.
struct StreamWords {
  Pair s, m0, m1, m2, m3;
  uint64_t seed, j;
  StreamWords(uint64_t seed_, uint64_t j0) : seed(seed_), j(j0) {
    s = cpu::splat(seed);
    m0 = cpu::pair_of(j0 * kHclPhi, (j0 + 1) * kHclPhi);
    m1 = cpu::pair_of((j0 + 2) * kHclPhi, (j0 + 3) * kHclPhi);
    m2 = cpu::pair_of((j0 + 4) * kHclPhi, (j0 + 5) * kHclPhi);
    m3 = cpu::pair_of((j0 + 6) * kHclPhi, (j0 + 7) * kHclPhi);
  }
  Line next8() {
    const Line l{s ^ m0, s ^ m1, s ^ m2, s ^ m3};
    const Pair step = cpu::splat(8 * kHclPhi);
    m0 += step;
    m1 += step;
    m2 += step;
    m3 += step;
    j += 8;
    return l;
  }
  // Only after the last whole line: the vector state is not advanced.
  uint64_t next1() { return stream_word(seed, j++); }
};

// The word's own virtual address.
struct AddressWords {
  uint64_t a;
  Line next8() {
    const Pair base = cpu::splat(a);
    a += 64;
    return {base + cpu::pair_of(0, 8), base + cpu::pair_of(16, 24), base + cpu::pair_of(32, 40),
            base + cpu::pair_of(48, 56)};
  }
  uint64_t next1() {
    const uint64_t r = a;
    a += 8;
    return r;
  }
};

struct ConstWords {
  uint64_t p;
  Line next8() { return cpu::splat_line(p); }
  uint64_t next1() { return p; }
};

template <class Cur>
struct Inverted {
  Cur c;
  Line next8() { return cpu::invert(c.next8()); }
  uint64_t next1() { return ~c.next1(); }
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

// Non-temporal fill of w[0, n) from the cursor; w 16-byte aligned. Ends with
// a store fence.
template <class Cur>
inline void fill_span(uint64_t* w, uint64_t n, Cur c) {
  uint64_t i = 0;
  for (; i + 8 <= n; i += 8) cpu::stream_line(w + i, c.next8());
  for (; i < n; ++i) w[i] = c.next1();
  cpu::store_fence();
}

// Verifies w[0, n) against the cursor; every differing word is recorded with
// the value this pass loaded.
template <class Cur>
inline void verify_span(HclJob& job, const char* kernel, uint64_t* w, uint64_t n, Cur c) {
  uint64_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const Line e = c.next8();
    const Line a = load_line(w + i);
    if (line_differs(a, e)) [[unlikely]] record_line(job, kernel, w + i, a, e);
  }
  for (; i < n; ++i) check_word(job, kernel, w + i, w[i], c.next1());
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
