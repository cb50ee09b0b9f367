// Line-wise building blocks of the worker kernels: expected-value cursors
// that yield a 64-byte line as four 128-bit pairs, non-temporal fills, and
// verifies that test one line at a time and hand the loaded values of a
// differing line to the out-of-line recorder. Private to the kernel files.
#pragma once
#include <emmintrin.h>

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "core/flags.h"
#include "hcl/hcl_job.h"
#include "hcl/hcl_worker.h"

namespace dravik::hcl_lines {

struct Line {
  __m128i v0, v1, v2, v3;
};

inline __m128i pair_of(uint64_t lo, uint64_t hi) {
  return _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo));
}

inline uint64_t low_word(__m128i v) { return static_cast<uint64_t>(_mm_cvtsi128_si64(v)); }
inline uint64_t high_word(__m128i v) { return low_word(_mm_unpackhi_epi64(v, v)); }

inline bool any_set(__m128i v) {
  return _mm_movemask_epi8(_mm_cmpeq_epi32(v, _mm_setzero_si128())) != 0xFFFF;
}

inline __m128i load2(const uint64_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline Line load_line(const uint64_t* p) { return {load2(p), load2(p + 2), load2(p + 4), load2(p + 6)}; }

inline __m128i line_diff(const Line& a, const Line& e) {
  return _mm_or_si128(_mm_or_si128(_mm_xor_si128(a.v0, e.v0), _mm_xor_si128(a.v1, e.v1)),
                      _mm_or_si128(_mm_xor_si128(a.v2, e.v2), _mm_xor_si128(a.v3, e.v3)));
}

inline Line invert(const Line& l) {
  const __m128i ones = _mm_set1_epi32(-1);
  return {_mm_xor_si128(l.v0, ones), _mm_xor_si128(l.v1, ones), _mm_xor_si128(l.v2, ones),
          _mm_xor_si128(l.v3, ones)};
}

// Stores a line with non-temporal stores; p must be 16-byte aligned.
inline void stream_line(uint64_t* p, const Line& l) {
  __m128i* q = reinterpret_cast<__m128i*>(p);
  _mm_stream_si128(q, l.v0);
  _mm_stream_si128(q + 1, l.v1);
  _mm_stream_si128(q + 2, l.v2);
  _mm_stream_si128(q + 3, l.v3);
}

// Stores a line through the cache (the line was just read).
inline void store_line(uint64_t* p, const Line& l) {
  __m128i* q = reinterpret_cast<__m128i*>(p);
  _mm_storeu_si128(q, l.v0);
  _mm_storeu_si128(q + 1, l.v1);
  _mm_storeu_si128(q + 2, l.v2);
  _mm_storeu_si128(q + 3, l.v3);
}

// ---- Expected values -------------------------------------------------------

// The stream pattern s ^ (j * phi) from word index j on.
struct StreamWords {
  __m128i s, m0, m1, m2, m3;
  uint64_t seed, j;
  StreamWords(uint64_t seed_, uint64_t j0) : seed(seed_), j(j0) {
    s = _mm_set1_epi64x(static_cast<long long>(seed));
    m0 = pair_of(j0 * kHclPhi, (j0 + 1) * kHclPhi);
    m1 = pair_of((j0 + 2) * kHclPhi, (j0 + 3) * kHclPhi);
    m2 = pair_of((j0 + 4) * kHclPhi, (j0 + 5) * kHclPhi);
    m3 = pair_of((j0 + 6) * kHclPhi, (j0 + 7) * kHclPhi);
  }
  Line next8() {
    const Line l{_mm_xor_si128(s, m0), _mm_xor_si128(s, m1), _mm_xor_si128(s, m2),
                 _mm_xor_si128(s, m3)};
    const __m128i step = _mm_set1_epi64x(static_cast<long long>(8 * kHclPhi));
    m0 = _mm_add_epi64(m0, step);
    m1 = _mm_add_epi64(m1, step);
    m2 = _mm_add_epi64(m2, step);
    m3 = _mm_add_epi64(m3, step);
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
    const __m128i base = _mm_set1_epi64x(static_cast<long long>(a));
    a += 64;
    return {_mm_add_epi64(base, _mm_set_epi64x(8, 0)), _mm_add_epi64(base, _mm_set_epi64x(24, 16)),
            _mm_add_epi64(base, _mm_set_epi64x(40, 32)), _mm_add_epi64(base, _mm_set_epi64x(56, 48))};
  }
  uint64_t next1() {
    const uint64_t r = a;
    a += 8;
    return r;
  }
};

struct ConstWords {
  uint64_t p;
  Line next8() {
    const __m128i v = _mm_set1_epi64x(static_cast<long long>(p));
    return {v, v, v, v};
  }
  uint64_t next1() { return p; }
};

template <class Cur>
struct Inverted {
  Cur c;
  Line next8() { return invert(c.next8()); }
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
  for (; i + 8 <= n; i += 8) stream_line(w + i, c.next8());
  for (; i < n; ++i) w[i] = c.next1();
  _mm_sfence();
}

// Verifies w[0, n) against the cursor; every differing word is recorded with
// the value this pass loaded.
template <class Cur>
inline void verify_span(HclJob& job, const char* kernel, uint64_t* w, uint64_t n, Cur c) {
  uint64_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const Line e = c.next8();
    const Line a = load_line(w + i);
    if (any_set(line_diff(a, e))) [[unlikely]] record_line(job, kernel, w + i, a, e);
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
    if (any_set(line_diff(a, e))) [[unlikely]] record_line(job, kernel, w + i, a, e);
    const Line out = make(a, e);
    if (nontemporal) {
      stream_line(to + i, out);
    } else {
      store_line(to + i, out);
    }
  }
  for (; i < n; ++i) {
    const uint64_t e = c.next1();
    const uint64_t a = w[i];
    check_word(job, kernel, w + i, a, e);
    const Line out = make(Line{_mm_set1_epi64x(static_cast<long long>(a)), {}, {}, {}},
                          Line{_mm_set1_epi64x(static_cast<long long>(e)), {}, {}, {}});
    to[i] = low_word(out.v0);
  }
  if (nontemporal) _mm_sfence();
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
