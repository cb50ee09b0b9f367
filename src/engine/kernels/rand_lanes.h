// The xorshift128+ streams of the random tests and their kernels in lanes.
//
// One stream waits on one dependent chain of shifts and XORs per word. The
// step is linear over GF(2), so the state any number of words ahead is one
// jump away (core/prng/jump.h): a span is cut into eight lanes of equal
// length that start from jumped states and advance together, two lanes to a
// 128-bit vector or four to a 256-bit one where the processor has them, so
// eight chains are in flight where the stream alone has one. Every
// index gets the very word the sequential stream gives it; the few words
// before the first whole line and after the last lane go one by one.
//
// The lane kernels keep the rules of the others: one load or store per word,
// non-temporal fills, verifies that XOR each load with its expected value and
// take one predicted branch per four words, and a mismatch handed, with the
// values that read loaded, to the test's recorder. The words before the first
// whole line and after the last lane go through the span kernels' own word
// steps (kernels/span.h).
#pragma once
#include <cstdint>

#include "core/prng/jump.h"
#include "cpu/wide.h"
#include "cpu/wide_int.h"
#include "engine/kernels/kernels.h"

namespace dravik {

#if DRAVIK_CPU_WIDE
using cpu::Quad;
#endif

// ---- Value maps ----------------------------------------------------------
// A map turns the generator's value v for the word with stream index j (its
// place counted from the stream's first word) into the word written. one()
// is the definition; two() and four() give the same for the words of a
// vector, whose stream indices are the same lanes of jv. The lane kernels map
// each vector as the generator lanes leave it, on the full width, and keep
// jv in a vector of its own, so a map that ignores it costs nothing for it.
// four() exists where the build has the wide vectors (cpu/wide.h).

struct PlainMap {
  uint64_t one(uint64_t v, uint64_t) const { return v; }
  Pair two(Pair v, Pair) const { return v; }
#if DRAVIK_CPU_WIDE
  DRAVIK_WIDE_FN Quad four(Quad v, Quad) const { return v; }
#endif
};

struct InvertMap {
  uint64_t one(uint64_t v, uint64_t) const { return ~v; }
  Pair two(Pair v, Pair) const { return ~v; }
#if DRAVIK_CPU_WIDE
  DRAVIK_WIDE_FN Quad four(Quad v, Quad) const { return ~v; }
#endif
};

// 64-bit products in the vector lanes from the 32-bit partial products the
// processor multiplies, for a constant c whose halves lo32 and hi32 fill
// every lane (only the low 32 bits of each lane count): mul_lo64 is v * c
// modulo 2^64, mul_hi64 the high half of the 128-bit product.
inline Pair mul_lo64(Pair v, Pair lo32, Pair hi32) {
  const Pair cross = cpu::mul_low32(v >> 32, lo32) + cpu::mul_low32(v, hi32);
  return cpu::mul_low32(v, lo32) + (cross << 32);
}

// Column by column: hl plus the carry column of ll, then lh added to its low
// half; neither sum leaves 64 bits, so no carry is lost.
inline Pair mul_hi64(Pair v, Pair lo32, Pair hi32) {
  const Pair vh = v >> 32;
  const Pair t = cpu::mul_low32(vh, lo32) + (cpu::mul_low32(v, lo32) >> 32);
  const Pair u = (t & cpu::splat(0xFFFFFFFFu)) + cpu::mul_low32(v, hi32);
  return (cpu::mul_low32(vh, hi32) + (t >> 32)) + (u >> 32);
}

#if DRAVIK_CPU_WIDE
// The wide form is written as a plain vector multiply, which the compiler
// makes the same three partial products; c is the whole constant in every
// lane.
DRAVIK_WIDE_FN inline Quad mul_lo64(Quad v, Quad c) { return v * c; }

DRAVIK_WIDE_FN inline Quad mul_hi64(Quad v, Quad lo32, Quad hi32) {
  const Quad vh = v >> 32;
  const Quad t = cpu::mul_low32(vh, lo32) + (cpu::mul_low32(v, lo32) >> 32);
  const Quad u = (t & cpu::splat_quad(0xFFFFFFFFu)) + cpu::mul_low32(v, hi32);
  return (cpu::mul_low32(vh, hi32) + (t >> 32)) + (u >> 32);
}
#endif

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
    // 2^(64 + l) / d: 2^l < d, so the quotient fits in one word.
    uint64_t rem = 0;
    uint64_t m = cpu::div_wide(cpu::U128{uint64_t{1} << l, 0}, d, &rem);
    m += m;
    const uint64_t twice = rem + rem;
    if (twice >= d || twice < rem) m += 1;
    magic = m + 1;
    shift = l;
  }
  uint64_t one(uint64_t v) const {
    const uint64_t q = cpu::mul_hi(magic, v);
    return (((v - q) >> pre) + q) >> shift;
  }
  // pre and shift are below 64: each vector shift is by one count for every
  // lane.
  Pair two(Pair v) const {
    const Pair q = mul_hi64(v, cpu::splat(magic), cpu::splat(magic >> 32));
    return (((v - q) >> pre) + q) >> shift;
  }
#if DRAVIK_CPU_WIDE
  DRAVIK_WIDE_FN Quad four(Quad v) const {
    const Quad q = mul_hi64(v, cpu::splat_quad(magic), cpu::splat_quad(magic >> 32));
    return (((v - q) >> pre) + q) >> shift;
  }
#endif
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
// halves of vector v. Set up from a stream for lanes of len words each, with
// the stream indices of each vector's next words in jv; finish() leaves the
// stream after the last lane.
struct RandLanes2 {
  Pair s0[4], s1[4];
  Pair jv[4];
  uint64_t j_end;
  template <class Map>
  RandLanes2(const MappedRandom<Map>& c, uint64_t len) : j_end(c.j + kLanes * len) {
    RandState st[kLanes];
    lane_states(c.rs, len, st);
#pragma GCC unroll 4
    for (int v = 0; v < 4; ++v) {
      s0[v] = pair_of(st[2 * v].s0, st[2 * v + 1].s0);
      s1[v] = pair_of(st[2 * v].s1, st[2 * v + 1].s1);
      const uint64_t j = c.j + 2 * static_cast<uint64_t>(v) * len;
      jv[v] = pair_of(j, j + len);
    }
  }
  // One rand_next of lanes 2v and 2v+1.
  Pair step(int v) {
    Pair x = s0[v];
    const Pair y = s1[v];
    s0[v] = y;
    x = x ^ (x << 23);
    const Pair s = (x ^ y) ^ ((x >> 17) ^ (y >> 26));
    s1[v] = s;
    return s + y;
  }
  // The next two values of lanes 2v and 2v+1 (p[0], p[1]), low word first,
  // mapped.
  template <class Map>
  void next2(int v, Pair* p, const Map& map) {
    const Pair one = cpu::splat(1);
    const Pair r0 = map.two(step(v), jv[v]);
    jv[v] = jv[v] + one;
    const Pair r1 = map.two(step(v), jv[v]);
    jv[v] = jv[v] + one;
    p[0] = cpu::low_words(r0, r1);
    p[1] = cpu::high_words(r0, r1);
  }
  // The state the last lane has reached: the stream after all eight lanes.
  template <class Map>
  void finish(MappedRandom<Map>& c) const {
    c.rs = RandState{cpu::high_word(s0[3]), cpu::high_word(s1[3])};
    c.j = j_end;
  }
};

#if DRAVIK_CPU_WIDE
// The same in two wide vectors (lanes 4v to 4v+3 in vector v), for
// processors that have them: twice the words per instruction, which a fill
// needs to keep up with the memory.
struct RandLanes4 {
  Quad s0[2], s1[2];
  Quad jv[2];
  uint64_t j_end;
  template <class Map>
  DRAVIK_WIDE_FN RandLanes4(const MappedRandom<Map>& c, uint64_t len) : j_end(c.j + kLanes * len) {
    RandState st[kLanes];
    lane_states(c.rs, len, st);
    for (int v = 0; v < 2; ++v) {
      const RandState* q = st + 4 * v;
      s0[v] = cpu::quad_of(q[0].s0, q[1].s0, q[2].s0, q[3].s0);
      s1[v] = cpu::quad_of(q[0].s1, q[1].s1, q[2].s1, q[3].s1);
      const uint64_t j = c.j + 4 * static_cast<uint64_t>(v) * len;
      jv[v] = cpu::quad_of(j, j + len, j + 2 * len, j + 3 * len);
    }
  }
  DRAVIK_WIDE_FN Quad step(int v) {
    Quad x = s0[v];
    const Quad y = s1[v];
    s0[v] = y;
    x = x ^ (x << 23);
    const Quad s = (x ^ y) ^ ((x >> 17) ^ (y >> 26));
    s1[v] = s;
    return s + y;
  }
  // The next two values of lanes 4v to 4v+3 (p[0] to p[3]), low word first,
  // mapped on the full width.
  template <class Map>
  DRAVIK_WIDE_FN void next2(int v, Pair* p, const Map& map) {
    const Quad one = cpu::splat_quad(1);
    const Quad r0 = map.four(step(v), jv[v]);
    jv[v] = jv[v] + one;
    const Quad r1 = map.four(step(v), jv[v]);
    jv[v] = jv[v] + one;
    const Quad lo = cpu::low_words(r0, r1);  // lanes 4v, 4v+2
    const Quad hi = cpu::high_words(r0, r1);  // lanes 4v+1, 4v+3
    p[0] = cpu::low_pair(lo);
    p[1] = cpu::low_pair(hi);
    p[2] = cpu::high_pair(lo);
    p[3] = cpu::high_pair(hi);
  }
  template <class Map>
  DRAVIK_WIDE_FN void finish(MappedRandom<Map>& c) const {
    c.rs = RandState{cpu::word_of<3>(s0[1]), cpu::word_of<3>(s1[1])};
    c.j = j_end;
  }
};
#endif

namespace kernel {

// Words per lane for a body of m words starting on a line: whole lines, and
// none at all below a line per lane.
inline uint64_t lane_len(uint64_t m) { return m / (8 * kLanes) * 8; }

// Two pairs of words, at ia and ib, differed from their expected values by
// da and db: each differing word goes to the test's recorder with the value
// the read loaded.
template <class Rec>
[[gnu::cold, gnu::noinline]] void report_pairs(Rec& rec, uint64_t ia, Pair da, Pair ea, uint64_t ib,
                                               Pair db, Pair eb) {
  alignas(16) uint64_t d[4], e[4];
  cpu::store_pair(d, da);
  cpu::store_pair(d + 2, db);
  cpu::store_pair(e, ea);
  cpu::store_pair(e + 2, eb);
  const uint64_t at[4] = {ia, ia + 1, ib, ib + 1};
  for (int k = 0; k < 4; ++k) {
    if (d[k] != 0) rec.word(at[k], e[k], d[k] ^ e[k]);
  }
}

// Runs eight lanes of len words over the stream c, two words of every lane
// at a time: pairs(k, off, a, b) gets the expected (mapped) pairs of lanes k and k+1
// (k even) at offset off into their lanes; ahead(k, off) comes first at each
// line of lanes k and k+1. Leaves c after the last lane.
// Always inlined: the wide wrappers below make it wide-vector code.
template <class Lanes, int kVectors, class Map, class Pairs, class Ahead>
[[gnu::always_inline]] inline void lanes_by_pair(MappedRandom<Map>& c, uint64_t len, Pairs pairs,
                                                 Ahead ahead) {
  constexpr int kPer = static_cast<int>(kLanes) / kVectors;
  Lanes lanes(c, len);
  const Map map = c.map;
  for (uint64_t line = 0; line < len; line += 8) {
#pragma GCC unroll 4
    for (uint64_t off = line; off < line + 8; off += 2) {
#pragma GCC unroll 4
      for (int v = 0; v < kVectors; ++v) {
        Pair p[kPer];
        lanes.next2(v, p, map);
#pragma GCC unroll 2
        for (int k = 0; k < kPer; k += 2) {
          const uint64_t lane = static_cast<uint64_t>(kPer * v + k);
          if (off == line) ahead(lane, off);
          pairs(lane, off, p[k], p[k + 1]);
        }
      }
    }
  }
  lanes.finish(c);
}

// The same a line at a time: line(k, off, l) gets the expected line of lane
// k at offset off. A fill stores each line whole as soon as it has it, so a
// non-temporal store never leaves lines of eight lanes half written at once.
template <class Lanes, int kVectors, class Map, class Lines>
[[gnu::always_inline]] inline void lanes_by_line(MappedRandom<Map>& c, uint64_t len, Lines line) {
  constexpr int kPer = static_cast<int>(kLanes) / kVectors;
  Lanes lanes(c, len);
  const Map map = c.map;
  for (uint64_t off = 0; off < len; off += 8) {
#pragma GCC unroll 4
    for (int v = 0; v < kVectors; ++v) {
      Pair p[4][kPer];
#pragma GCC unroll 4
      for (int s = 0; s < 4; ++s) lanes.next2(v, p[s], map);
#pragma GCC unroll 4
      for (int k = 0; k < kPer; ++k) {
        const uint64_t lane = static_cast<uint64_t>(kPer * v + k);
        line(lane, off, Line{p[0][k], p[1][k], p[2][k], p[3][k]});
      }
    }
  }
  lanes.finish(c);
}

#if DRAVIK_CPU_WIDE
template <class Map, class Pairs, class Ahead>
[[gnu::noinline]] DRAVIK_WIDE_FN void lanes_by_pair_wide(MappedRandom<Map>& c, uint64_t len,
                                                         Pairs pairs, Ahead ahead) {
  lanes_by_pair<RandLanes4, 2>(c, len, pairs, ahead);
}

template <class Map, class Lines>
[[gnu::noinline]] DRAVIK_WIDE_FN void lanes_by_line_wide(MappedRandom<Map>& c, uint64_t len,
                                                         Lines line) {
  lanes_by_line<RandLanes4, 2>(c, len, line);
}
#endif

// The lanes on the widest vectors the processor has.
template <class Map, class Pairs, class Ahead>
inline void run_lanes(MappedRandom<Map>& c, uint64_t len, Pairs pairs, Ahead ahead) {
#if DRAVIK_CPU_WIDE
  if (cpu::wide_vectors()) {
    lanes_by_pair_wide(c, len, pairs, ahead);
    return;
  }
#endif
  lanes_by_pair<RandLanes2, 4>(c, len, pairs, ahead);
}

template <class Map, class Lines>
inline void run_lane_lines(MappedRandom<Map>& c, uint64_t len, Lines line) {
#if DRAVIK_CPU_WIDE
  if (cpu::wide_vectors()) {
    lanes_by_line_wide(c, len, line);
    return;
  }
#endif
  lanes_by_line<RandLanes2, 4>(c, len, line);
}

}  // namespace kernel

// The lane versions of the span kernels: same arguments, same words, same
// records.

template <class Map>
inline void stream_fill(uint64_t* w, uint64_t lo, uint64_t hi, MappedRandom<Map>& stream) {
  MappedRandom<Map> c = stream;
  kernels::by_lines(w, lo, hi, [&](uint64_t i) { kernel::stream_word(w + i, c.next1()); },
                    [&](uint64_t i) {
                      if (const uint64_t len = kernel::lane_len(hi - i); len != 0) {
                        uint64_t* p = w + i;
                        kernel::run_lane_lines(c, len, [p, len](uint64_t k, uint64_t off, const Line& l) {
                          cpu::stream_line(p + k * len + off, l);
                        });
                        i += kLanes * len;
                      }
                      return i;
                    });
  stream = c;
}

template <class Map>
inline void stream_fill_halves(uint64_t* w, uint64_t h, uint64_t lo, uint64_t hi,
                               MappedRandom<Map>& stream) {
  MappedRandom<Map> c = stream;
  auto one = [&](uint64_t k) {
    const uint64_t v = c.next1();
    kernel::stream_word(w + k, v);
    kernel::stream_word(w + h + k, v);
  };
  kernels::by_lines(w, lo, hi, one, [&](uint64_t i) {
    if (const uint64_t len = kernel::lane_len(hi - i); len != 0) {
      uint64_t* p = w + i;
      uint64_t* q = w + h + i;
      // The upper half starts on a pair boundary only when h is even.
      if (h % 2 == 0) {
        kernel::run_lane_lines(c, len, [p, q, len](uint64_t k, uint64_t off, const Line& l) {
          cpu::stream_line(p + k * len + off, l);
          cpu::stream_line(q + k * len + off, l);
        });
      } else {
        kernel::run_lane_lines(c, len, [p, q, len](uint64_t k, uint64_t off, const Line& l) {
          cpu::stream_line(p + k * len + off, l);
          cpu::stream_line_unaligned(q + k * len + off, l);
        });
      }
      i += kLanes * len;
    }
    return i;
  });
  stream = c;
}

// Verifies w[lo, hi) against the stream, every mismatch to a Report; with
// kRewrite each pair, once checked, is overwritten with the complement of
// what was due (the read-and-rewrite of the moving inversions).
template <bool kRewrite, class Report, class Map>
inline void check_lanes(EngineContext& run, const TestBlock& b, uint64_t lo, uint64_t hi,
                        MappedRandom<Map>& stream, const char* name) {
  MappedRandom<Map> c = stream;
  Report rec{run, b, name};
  uint64_t* w = b.base;
  auto one = [&](uint64_t i) {
    if constexpr (kRewrite) {
      kernels::check_invert_word(w, i, c, rec);
    } else {
      kernels::check_word(w, i, c, rec);
    }
  };
  kernels::by_lines(w, lo, hi, one, [&](uint64_t i) {
    if (const uint64_t len = kernel::lane_len(hi - i); len != 0) {
      const uint64_t base = i;
      kernel::run_lanes(c, len, [&, w, base, len](uint64_t k, uint64_t off, Pair ea, Pair eb) {
        const uint64_t ia = base + k * len + off, ib = ia + len;
        const Pair da = cpu::load_pair(w + ia) ^ ea;
        const Pair db = cpu::load_pair(w + ib) ^ eb;
        if (cpu::any_set(da | db)) [[unlikely]] kernel::report_pairs(rec, ia, da, ea, ib, db, eb);
        if constexpr (kRewrite) {
          cpu::store_pair(w + ia, ~ea);
          cpu::store_pair(w + ib, ~eb);
        }
      }, [w, base, len](uint64_t k, uint64_t off) {
        kernel::read_ahead(w + base + k * len + off);
        kernel::read_ahead(w + base + (k + 1) * len + off);
      });
      i += kLanes * len;
    }
    return i;
  });
  stream = c;
}

template <class Map, class Report = kernel::RecordWhereRead>
inline void check_span(EngineContext& run, const TestBlock& b, uint64_t lo, uint64_t hi,
                       MappedRandom<Map>& stream, const char* name) {
  check_lanes<false, Report>(run, b, lo, hi, stream, name);
}

template <class Map>
inline void check_invert_span(EngineContext& run, const TestBlock& b, uint64_t lo, uint64_t hi,
                              MappedRandom<Map>& stream, const char* name) {
  check_lanes<true, kernel::RecordWhereRead>(run, b, lo, hi, stream, name);
}

}  // namespace dravik
