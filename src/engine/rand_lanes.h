// The xorshift128+ streams of the random tests and their kernels in lanes.
//
// One stream waits on one dependent chain of shifts and XORs per word. The
// step is linear over GF(2), so the state any number of words ahead is one
// jump away (core/prng_jump.h): a span is cut into eight lanes of equal
// length that start from jumped states and advance together, two lanes to a
// 128-bit vector or four to a 256-bit one where the processor has AVX2, so
// eight chains are in flight where the stream alone has one. Every
// index gets the very word the sequential stream gives it; the few words
// before the first whole line and after the last lane go one by one.
//
// The lane kernels keep the rules of the others: one load or store per word,
// non-temporal fills, verifies that XOR each load with its expected value and
// take one predicted branch per four words, and a mismatch handed, with the
// values that read loaded, to report_word.
#pragma once
#include <immintrin.h>

#include <cstdint>

#include "core/prng_jump.h"
#include "engine/algo.h"

namespace dravik {

// ---- Value maps ----------------------------------------------------------
// A map turns the generator's value v for the word with stream index j (its
// place counted from the stream's first word) into the word written. one()
// is the definition; two() and four() give the same for the words of a
// vector, whose stream indices are the same lanes of jv. The lane kernels map
// each vector as the generator lanes leave it, on the full width, and keep
// jv in a vector of its own, so a map that ignores it costs nothing for it.

struct PlainMap {
  uint64_t one(uint64_t v, uint64_t) const { return v; }
  __m128i two(__m128i v, __m128i) const { return v; }
  [[gnu::target("avx2")]] __m256i four(__m256i v, __m256i) const { return v; }
};

struct InvertMap {
  uint64_t one(uint64_t v, uint64_t) const { return ~v; }
  __m128i two(__m128i v, __m128i) const { return _mm_xor_si128(v, _mm_set1_epi32(-1)); }
  [[gnu::target("avx2")]] __m256i four(__m256i v, __m256i) const {
    return _mm256_xor_si256(v, _mm256_set1_epi32(-1));
  }
};

// 64-bit products in the vector lanes from the 32-bit partial products the
// processor multiplies, for a constant c whose halves lo32 and hi32 fill
// every lane (only the low 32 bits of each lane count): mul_lo64 is v * c
// modulo 2^64, mul_hi64 the high half of the 128-bit product.
inline __m128i mul_lo64(__m128i v, __m128i lo32, __m128i hi32) {
  const __m128i cross = _mm_add_epi64(_mm_mul_epu32(_mm_srli_epi64(v, 32), lo32),
                                      _mm_mul_epu32(v, hi32));
  return _mm_add_epi64(_mm_mul_epu32(v, lo32), _mm_slli_epi64(cross, 32));
}

// The 256-bit form is written as a plain vector multiply, which the compiler
// makes the same three partial products; c is the whole constant in every
// lane.
[[gnu::target("avx2")]] inline __m256i mul_lo64(__m256i v, __m256i c) {
  using U64x4 = unsigned long long __attribute__((vector_size(32)));
  return reinterpret_cast<__m256i>(reinterpret_cast<U64x4>(v) * reinterpret_cast<U64x4>(c));
}

// Column by column: hl plus the carry column of ll, then lh added to its low
// half; neither sum leaves 64 bits, so no carry is lost.
inline __m128i mul_hi64(__m128i v, __m128i lo32, __m128i hi32) {
  const __m128i vh = _mm_srli_epi64(v, 32);
  const __m128i t =
      _mm_add_epi64(_mm_mul_epu32(vh, lo32), _mm_srli_epi64(_mm_mul_epu32(v, lo32), 32));
  const __m128i u = _mm_add_epi64(_mm_and_si128(t, _mm_set1_epi64x(0xFFFFFFFFLL)),
                                  _mm_mul_epu32(v, hi32));
  return _mm_add_epi64(_mm_add_epi64(_mm_mul_epu32(vh, hi32), _mm_srli_epi64(t, 32)),
                       _mm_srli_epi64(u, 32));
}

[[gnu::target("avx2")]] inline __m256i mul_hi64(__m256i v, __m256i lo32, __m256i hi32) {
  const __m256i vh = _mm256_srli_epi64(v, 32);
  const __m256i t = _mm256_add_epi64(_mm256_mul_epu32(vh, lo32),
                                     _mm256_srli_epi64(_mm256_mul_epu32(v, lo32), 32));
  const __m256i u = _mm256_add_epi64(_mm256_and_si256(t, _mm256_set1_epi64x(0xFFFFFFFFLL)),
                                     _mm256_mul_epu32(v, hi32));
  return _mm256_add_epi64(_mm256_add_epi64(_mm256_mul_epu32(vh, hi32), _mm256_srli_epi64(t, 32)),
                          _mm256_srli_epi64(u, 32));
}

// Unsigned division by a constant d >= 1 as a multiply and shifts, exact for
// every 64-bit v: q = high half of magic * v, then (((v - q) >> pre) + q) >>
// shift (d = 1: magic 0, no shifts). A divide instruction per word would hold
// a fill far below the memory's rate.
struct DivideBy {
  uint64_t magic = 0;
  uint32_t pre = 0;
  uint32_t shift = 0;
  explicit DivideBy(uint64_t d) {
    if (d <= 1) return;
    pre = 1;
    const uint32_t l = 63 - static_cast<uint32_t>(__builtin_clzll(d));
    if ((d & (d - 1)) == 0) {
      shift = l - 1;  // magic 0: q = 0 and v / 2 >> (l - 1)
      return;
    }
    const unsigned __int128 top = static_cast<unsigned __int128>(1) << (64 + l);
    uint64_t m = static_cast<uint64_t>(top / d);
    const uint64_t rem = static_cast<uint64_t>(top - static_cast<unsigned __int128>(m) * d);
    m += m;
    const uint64_t twice = rem + rem;
    if (twice >= d || twice < rem) m += 1;
    magic = m + 1;
    shift = l;
  }
  uint64_t one(uint64_t v) const {
    const uint64_t q = static_cast<uint64_t>((static_cast<unsigned __int128>(magic) * v) >> 64);
    return (((v - q) >> pre) + q) >> shift;
  }
  __m128i two(__m128i v) const {
    const __m128i q = mul_hi64(v, _mm_set1_epi64x(static_cast<long long>(magic)),
                               _mm_set1_epi64x(static_cast<long long>(magic >> 32)));
    const __m128i pre_n = _mm_cvtsi32_si128(static_cast<int>(pre));
    const __m128i t = _mm_add_epi64(_mm_srl_epi64(_mm_sub_epi64(v, q), pre_n), q);
    return _mm_srl_epi64(t, _mm_cvtsi32_si128(static_cast<int>(shift)));
  }
  [[gnu::target("avx2")]] __m256i four(__m256i v) const {
    const __m256i q = mul_hi64(v, _mm256_set1_epi64x(static_cast<long long>(magic)),
                               _mm256_set1_epi64x(static_cast<long long>(magic >> 32)));
    const __m256i t = _mm256_add_epi64(
        _mm256_srl_epi64(_mm256_sub_epi64(v, q), _mm_cvtsi32_si128(static_cast<int>(pre))), q);
    return _mm256_srl_epi64(t, _mm_cvtsi32_si128(static_cast<int>(shift)));
  }
};

// A stream of mapped xorshift128+ values; a copy replays it.
template <class Map>
struct MappedRandom {
  RandState rs;
  Map map{};
  uint64_t j = 0;  // stream index of the next word
  explicit MappedRandom(uint64_t seed, Map m = {}) : map(m) { rand_seed(&rs, seed); }
  MappedRandom(const RandState& at, Map m) : rs(at), map(m) {}
  uint64_t next1() { return map.one(rand_next(&rs), j++); }
  Line next8() {
    uint64_t w[8];
    for (uint64_t& x : w) x = next1();
    return {pair_of(w[0], w[1]), pair_of(w[2], w[3]), pair_of(w[4], w[5]), pair_of(w[6], w[7])};
  }
};

using RandomWords = MappedRandom<PlainMap>;
using InvertedRandomWords = MappedRandom<InvertMap>;

// ---- Lanes -----------------------------------------------------------------

inline constexpr uint64_t kLanes = 8;

// The states of eight lanes of len words each: lane k starts k * len words
// after the stream's position.
inline void lane_states(const RandState& at, uint64_t len, RandState (&st)[kLanes]) {
  st[0] = at;
  for (uint64_t k = 1; k < kLanes; ++k) st[k] = rand_jumped(st[k - 1], len);
}

// Eight lanes in four 128-bit vectors: lanes 2v and 2v+1 are the low and high
// halves of vector v.
struct RandLanes2 {
  using Index = __m128i;
  __m128i s0[4], s1[4];
  RandLanes2(const RandState& at, uint64_t len) {
    RandState st[kLanes];
    lane_states(at, len, st);
#pragma GCC unroll 4
    for (int v = 0; v < 4; ++v) {
      s0[v] = pair_of(st[2 * v].s0, st[2 * v + 1].s0);
      s1[v] = pair_of(st[2 * v].s1, st[2 * v + 1].s1);
    }
  }
  // One rand_next of lanes 2v and 2v+1.
  __m128i step(int v) {
    __m128i x = s0[v];
    const __m128i y = s1[v];
    s0[v] = y;
    x = _mm_xor_si128(x, _mm_slli_epi64(x, 23));
    const __m128i s = _mm_xor_si128(_mm_xor_si128(x, y),
                                    _mm_xor_si128(_mm_srli_epi64(x, 17), _mm_srli_epi64(y, 26)));
    s1[v] = s;
    return _mm_add_epi64(s, y);
  }
  // The stream indices of vector v's first words, for lanes of len words
  // from stream index j0.
  static void index_of(int v, uint64_t j0, uint64_t len, __m128i* jv) {
    const uint64_t j = j0 + 2 * static_cast<uint64_t>(v) * len;
    *jv = pair_of(j, j + len);
  }
  // The next two values of lanes 2v and 2v+1 (p[0], p[1]), low word first,
  // mapped; jv holds the lanes' stream indices and moves on with them.
  template <class Map>
  void next2(int v, __m128i* p, const Map& map, __m128i& jv) {
    const __m128i one = _mm_set1_epi64x(1);
    const __m128i r0 = map.two(step(v), jv);
    jv = _mm_add_epi64(jv, one);
    const __m128i r1 = map.two(step(v), jv);
    jv = _mm_add_epi64(jv, one);
    p[0] = _mm_unpacklo_epi64(r0, r1);
    p[1] = _mm_unpackhi_epi64(r0, r1);
  }
  // The state the last lane has reached: the stream after all eight lanes.
  RandState end() const {
    return RandState{static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(s0[3], s0[3]))),
                     static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(s1[3], s1[3])))};
  }
};

// The same in two 256-bit vectors (lanes 4v to 4v+3 in vector v), for
// processors with AVX2: twice the words per instruction, which a fill needs
// to keep up with the memory.
struct RandLanes4 {
  using Index = __m256i;
  __m256i s0[2], s1[2];
  [[gnu::target("avx2")]] RandLanes4(const RandState& at, uint64_t len) {
    RandState st[kLanes];
    lane_states(at, len, st);
    for (int v = 0; v < 2; ++v) {
      const RandState* q = st + 4 * v;
      s0[v] = _mm256_set_epi64x(static_cast<long long>(q[3].s0), static_cast<long long>(q[2].s0),
                                static_cast<long long>(q[1].s0), static_cast<long long>(q[0].s0));
      s1[v] = _mm256_set_epi64x(static_cast<long long>(q[3].s1), static_cast<long long>(q[2].s1),
                                static_cast<long long>(q[1].s1), static_cast<long long>(q[0].s1));
    }
  }
  [[gnu::target("avx2")]] __m256i step(int v) {
    __m256i x = s0[v];
    const __m256i y = s1[v];
    s0[v] = y;
    x = _mm256_xor_si256(x, _mm256_slli_epi64(x, 23));
    const __m256i s = _mm256_xor_si256(
        _mm256_xor_si256(x, y), _mm256_xor_si256(_mm256_srli_epi64(x, 17), _mm256_srli_epi64(y, 26)));
    s1[v] = s;
    return _mm256_add_epi64(s, y);
  }
  [[gnu::target("avx2")]] static void index_of(int v, uint64_t j0, uint64_t len, __m256i* jv) {
    const uint64_t j = j0 + 4 * static_cast<uint64_t>(v) * len;
    *jv = _mm256_set_epi64x(static_cast<long long>(j + 3 * len),
                             static_cast<long long>(j + 2 * len), static_cast<long long>(j + len),
                             static_cast<long long>(j));
  }
  // The next two values of lanes 4v to 4v+3 (p[0] to p[3]), low word first,
  // mapped on the full width.
  template <class Map>
  [[gnu::target("avx2")]] void next2(int v, __m128i* p, const Map& map, __m256i& jv) {
    const __m256i one = _mm256_set1_epi64x(1);
    const __m256i r0 = map.four(step(v), jv);
    jv = _mm256_add_epi64(jv, one);
    const __m256i r1 = map.four(step(v), jv);
    jv = _mm256_add_epi64(jv, one);
    const __m256i lo = _mm256_unpacklo_epi64(r0, r1);  // lanes 4v, 4v+2
    const __m256i hi = _mm256_unpackhi_epi64(r0, r1);  // lanes 4v+1, 4v+3
    p[0] = _mm256_castsi256_si128(lo);
    p[1] = _mm256_castsi256_si128(hi);
    p[2] = _mm256_extracti128_si256(lo, 1);
    p[3] = _mm256_extracti128_si256(hi, 1);
  }
  [[gnu::target("avx2")]] RandState end() const {
    return RandState{static_cast<uint64_t>(_mm256_extract_epi64(s0[1], 3)),
                     static_cast<uint64_t>(_mm256_extract_epi64(s1[1], 3))};
  }
};

namespace kernel {

inline bool cpu_has_avx2() {
  static const bool yes = __builtin_cpu_supports("avx2") != 0;
  return yes;
}

// Words per lane for a body of m words starting on a line: whole lines, and
// none at all below a line per lane.
inline uint64_t lane_len(uint64_t m) { return m / (8 * kLanes) * 8; }

inline void stream_pair(uint64_t* p, __m128i v) {
  _mm_stream_si128(reinterpret_cast<__m128i*>(p), v);
}

// The same for a pair that may be only 8-byte aligned.
inline void stream_pair_unaligned(uint64_t* p, __m128i v) {
  stream_word(p, static_cast<uint64_t>(_mm_cvtsi128_si64(v)));
  stream_word(p + 1, static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v))));
}

inline void stream_line(uint64_t* p, const Line& l) {
  __m128i* q = reinterpret_cast<__m128i*>(p);
  _mm_stream_si128(q, l.v0);
  _mm_stream_si128(q + 1, l.v1);
  _mm_stream_si128(q + 2, l.v2);
  _mm_stream_si128(q + 3, l.v3);
}

inline void stream_line_unaligned(uint64_t* p, const Line& l) {
  stream_pair_unaligned(p, l.v0);
  stream_pair_unaligned(p + 2, l.v1);
  stream_pair_unaligned(p + 4, l.v2);
  stream_pair_unaligned(p + 6, l.v3);
}

// Two pairs of words, at ia and ib, differed from their expected values by
// da and db: each differing word goes to the test's Report with the value the
// read loaded.
template <class Report>
[[gnu::cold, gnu::noinline]] void report_pairs(EngineContext& run, const TestBlock& b,
                                                      uint64_t ia, __m128i da, __m128i ea,
                                                      uint64_t ib, __m128i db, __m128i eb,
                                                      const char* name) {
  alignas(16) uint64_t d[4], e[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(d), da);
  _mm_store_si128(reinterpret_cast<__m128i*>(d + 2), db);
  _mm_store_si128(reinterpret_cast<__m128i*>(e), ea);
  _mm_store_si128(reinterpret_cast<__m128i*>(e + 2), eb);
  const uint64_t at[4] = {ia, ia + 1, ib, ib + 1};
  for (int k = 0; k < 4; ++k) {
    if (d[k] != 0) Report::word(run, b, at[k], e[k], d[k] ^ e[k], name);
  }
}

// Runs eight lanes of len words over the stream c, two words of every lane
// at a time: pairs(k, off, a, b) gets the expected (mapped) pairs of lanes k and k+1
// (k even) at offset off into their lanes; ahead(k, off) comes first at each
// line of lanes k and k+1. Leaves c after the last lane.
// Always inlined: the AVX2 wrappers below make it AVX2 code.
template <class Lanes, int kVectors, class Map, class Pairs, class Ahead>
[[gnu::always_inline]] inline void lanes_by_pair(MappedRandom<Map>& c, uint64_t len, Pairs pairs,
                                                 Ahead ahead) {
  constexpr int kPer = static_cast<int>(kLanes) / kVectors;
  Lanes lanes(c.rs, len);
  const Map map = c.map;
  const uint64_t j0 = c.j;
  typename Lanes::Index jv[kVectors];
#pragma GCC unroll 4
  for (int v = 0; v < kVectors; ++v) Lanes::index_of(v, j0, len, &jv[v]);
  for (uint64_t line = 0; line < len; line += 8) {
#pragma GCC unroll 4
    for (uint64_t off = line; off < line + 8; off += 2) {
#pragma GCC unroll 4
      for (int v = 0; v < kVectors; ++v) {
        __m128i p[kPer];
        lanes.next2(v, p, map, jv[v]);
#pragma GCC unroll 2
        for (int k = 0; k < kPer; k += 2) {
          const uint64_t lane = static_cast<uint64_t>(kPer * v + k);
          if (off == line) ahead(lane, off);
          pairs(lane, off, p[k], p[k + 1]);
        }
      }
    }
  }
  c.rs = lanes.end();
  c.j = j0 + kLanes * len;
}

// The same a line at a time: line(k, off, l) gets the expected line of lane
// k at offset off. A fill stores each line whole as soon as it has it, so a
// non-temporal store never leaves lines of eight lanes half written at once.
template <class Lanes, int kVectors, class Map, class Lines>
[[gnu::always_inline]] inline void lanes_by_line(MappedRandom<Map>& c, uint64_t len, Lines line) {
  constexpr int kPer = static_cast<int>(kLanes) / kVectors;
  Lanes lanes(c.rs, len);
  const Map map = c.map;
  const uint64_t j0 = c.j;
  typename Lanes::Index jv[kVectors];
#pragma GCC unroll 4
  for (int v = 0; v < kVectors; ++v) Lanes::index_of(v, j0, len, &jv[v]);
  for (uint64_t off = 0; off < len; off += 8) {
#pragma GCC unroll 4
    for (int v = 0; v < kVectors; ++v) {
      __m128i p[4][kPer];
#pragma GCC unroll 4
      for (int s = 0; s < 4; ++s) lanes.next2(v, p[s], map, jv[v]);
#pragma GCC unroll 4
      for (int k = 0; k < kPer; ++k) {
        const uint64_t lane = static_cast<uint64_t>(kPer * v + k);
        line(lane, off, Line{p[0][k], p[1][k], p[2][k], p[3][k]});
      }
    }
  }
  c.rs = lanes.end();
  c.j = j0 + kLanes * len;
}

template <class Map, class Pairs, class Ahead>
[[gnu::target("avx2"), gnu::noinline]] void lanes_by_pair_avx2(MappedRandom<Map>& c,
                                                              uint64_t len, Pairs pairs,
                                                              Ahead ahead) {
  lanes_by_pair<RandLanes4, 2>(c, len, pairs, ahead);
}

template <class Map, class Lines>
[[gnu::target("avx2"), gnu::noinline]] void lanes_by_line_avx2(MappedRandom<Map>& c,
                                                              uint64_t len, Lines line) {
  lanes_by_line<RandLanes4, 2>(c, len, line);
}

// The lanes on the widest vectors the processor has.
template <class Map, class Pairs, class Ahead>
inline void run_lanes(MappedRandom<Map>& c, uint64_t len, Pairs pairs, Ahead ahead) {
  if (cpu_has_avx2()) {
    lanes_by_pair_avx2(c, len, pairs, ahead);
  } else {
    lanes_by_pair<RandLanes2, 4>(c, len, pairs, ahead);
  }
}

template <class Map, class Lines>
inline void run_lane_lines(MappedRandom<Map>& c, uint64_t len, Lines line) {
  if (cpu_has_avx2()) {
    lanes_by_line_avx2(c, len, line);
  } else {
    lanes_by_line<RandLanes2, 4>(c, len, line);
  }
}

}  // namespace kernel

// The lane versions of the kernels of algo.h: same arguments, same words,
// same records.

template <class Map>
inline void stream_fill(uint64_t* w, uint64_t lo, uint64_t hi, MappedRandom<Map>& stream) {
  MappedRandom<Map> c = stream;
  uint64_t i = lo;
  for (const uint64_t body = kernel::line_start(w, lo, hi); i < body; ++i) {
    kernel::stream_word(w + i, c.next1());
  }
  if (const uint64_t len = kernel::lane_len(hi - i); len != 0) {
    uint64_t* p = w + i;
    kernel::run_lane_lines(c, len, [p, len](uint64_t k, uint64_t off, const Line& l) {
      kernel::stream_line(p + k * len + off, l);
    });
    i += kLanes * len;
  }
  for (; i < hi; ++i) kernel::stream_word(w + i, c.next1());
  stream = c;
}

template <class Map>
inline void stream_fill_halves(uint64_t* w, uint64_t h, uint64_t lo, uint64_t hi,
                               MappedRandom<Map>& stream) {
  MappedRandom<Map> c = stream;
  uint64_t i = lo;
  auto one = [&](uint64_t k) {
    const uint64_t v = c.next1();
    kernel::stream_word(w + k, v);
    kernel::stream_word(w + h + k, v);
  };
  for (const uint64_t body = kernel::line_start(w, lo, hi); i < body; ++i) one(i);
  if (const uint64_t len = kernel::lane_len(hi - i); len != 0) {
    uint64_t* p = w + i;
    uint64_t* q = w + h + i;
    // The upper half starts on a pair boundary only when h is even.
    if (h % 2 == 0) {
      kernel::run_lane_lines(c, len, [p, q, len](uint64_t k, uint64_t off, const Line& l) {
        kernel::stream_line(p + k * len + off, l);
        kernel::stream_line(q + k * len + off, l);
      });
    } else {
      kernel::run_lane_lines(c, len, [p, q, len](uint64_t k, uint64_t off, const Line& l) {
        kernel::stream_line(p + k * len + off, l);
        kernel::stream_line_unaligned(q + k * len + off, l);
      });
    }
    i += kLanes * len;
  }
  for (; i < hi; ++i) one(i);
  stream = c;
}

template <class Map, class Report = kernel::RecordWhereRead>
inline void check_span(EngineContext& run, const TestBlock& b, uint64_t lo, uint64_t hi,
                       MappedRandom<Map>& stream, const char* name) {
  MappedRandom<Map> c = stream;
  const uint64_t* w = b.base;
  auto one = [&](uint64_t i) {
    const uint64_t e = c.next1();
    const uint64_t a = w[i];
    if (a != e) [[unlikely]] Report::word(run, b, i, e, a, name);
  };
  uint64_t i = lo;
  for (const uint64_t body = kernel::line_start(w, lo, hi); i < body; ++i) one(i);
  if (const uint64_t len = kernel::lane_len(hi - i); len != 0) {
    const uint64_t base = i;
    kernel::run_lanes(c, len, [&, base, len](uint64_t k, uint64_t off, __m128i ea, __m128i eb) {
      const uint64_t ia = base + k * len + off, ib = ia + len;
      const __m128i da = _mm_xor_si128(kernel::load2(w + ia), ea);
      const __m128i db = _mm_xor_si128(kernel::load2(w + ib), eb);
      if (kernel::any_set(_mm_or_si128(da, db))) [[unlikely]] {
        kernel::report_pairs<Report>(run, b, ia, da, ea, ib, db, eb, name);
      }
    }, [w, base, len](uint64_t k, uint64_t off) {
      kernel::read_ahead(w + base + k * len + off);
      kernel::read_ahead(w + base + (k + 1) * len + off);
    });
    i += kLanes * len;
  }
  for (; i < hi; ++i) one(i);
  stream = c;
}

template <class Map>
inline void check_invert_span(EngineContext& run, const TestBlock& b, uint64_t lo, uint64_t hi,
                              MappedRandom<Map>& stream, const char* name) {
  MappedRandom<Map> c = stream;
  uint64_t* w = b.base;
  auto one = [&](uint64_t i) {
    const uint64_t e = c.next1();
    const uint64_t a = w[i];
    if (a != e) [[unlikely]] kernel::report_word(run, b, i, e, a, name);
    w[i] = ~e;
  };
  uint64_t i = lo;
  for (const uint64_t body = kernel::line_start(w, lo, hi); i < body; ++i) one(i);
  if (const uint64_t len = kernel::lane_len(hi - i); len != 0) {
    const uint64_t base = i;
    kernel::run_lanes(c, len, [&, base, len](uint64_t k, uint64_t off, __m128i ea, __m128i eb) {
      const uint64_t ia = base + k * len + off, ib = ia + len;
      const __m128i da = _mm_xor_si128(kernel::load2(w + ia), ea);
      const __m128i db = _mm_xor_si128(kernel::load2(w + ib), eb);
      if (kernel::any_set(_mm_or_si128(da, db))) [[unlikely]] {
        kernel::report_pairs<kernel::RecordWhereRead>(run, b, ia, da, ea, ib, db, eb, name);
      }
      const __m128i ones = _mm_set1_epi32(-1);
      _mm_store_si128(reinterpret_cast<__m128i*>(w + ia), _mm_xor_si128(ea, ones));
      _mm_store_si128(reinterpret_cast<__m128i*>(w + ib), _mm_xor_si128(eb, ones));
    }, [w, base, len](uint64_t k, uint64_t off) {
      kernel::read_ahead(w + base + k * len + off);
      kernel::read_ahead(w + base + (k + 1) * len + off);
    });
    i += kLanes * len;
  }
  for (; i < hi; ++i) one(i);
  stream = c;
}

}  // namespace dravik
