// The extended group (cmp-xor, cmp-sub, cmp-mul, cmp-div, cmp-or, cmp-and,
// seqinc): a pseudo-random stream combined with one constant operand by an
// arithmetic or logic operation, written into both halves, which then check
// each other as in rand-dual. The values exercise data paths other than the
// plain stream's.
#include "engine/context.h"
#include "engine/algo.h"
#include "engine/rand_lanes.h"

namespace dravik {

namespace {

enum Op : int32_t { op_xor, op_sub, op_mul, op_div, op_or, op_and, op_seqinc };

// Unsigned division by a constant d >= 2 as a multiply and shifts, exact for
// every 64-bit v: q = high half of magic * v, then ((v - q) / 2 + q) >> shift.
// A divide instruction per word would hold the fill far below the memory's
// rate.
struct DivideBy {
  uint64_t magic = 0;
  uint32_t shift = 0;
  explicit DivideBy(uint64_t d) {
    const uint32_t l = 63 - static_cast<uint32_t>(__builtin_clzll(d | 2));
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
  uint64_t operator()(uint64_t v) const {
    const uint64_t q = static_cast<uint64_t>((static_cast<unsigned __int128>(magic) * v) >> 64);
    return (((v - q) >> 1) + q) >> shift;
  }
};

inline uint64_t low_of(__m128i v) { return static_cast<uint64_t>(_mm_cvtsi128_si64(v)); }
inline uint64_t high_of(__m128i v) { return low_of(_mm_unpackhi_epi64(v, v)); }

// Word j of each half: the operation of the constant L and the stream value
// v. one() is the definition; two() the same for a pair.
template <int32_t O>
struct OpMap {
  uint64_t L = 1;
  DivideBy by{2};
  explicit OpMap(uint64_t l) : L(l), by(l) {}
  uint64_t one(uint64_t v, uint64_t j) const {
    if constexpr (O == op_xor) return L ^ v;
    if constexpr (O == op_sub) return v - L;
    if constexpr (O == op_mul) return L * v;
    if constexpr (O == op_div) return v / L;
    if constexpr (O == op_or) return L | v;
    if constexpr (O == op_and) return L & v;
    if constexpr (O == op_seqinc) return v + j;
  }
  __m128i two(__m128i v, uint64_t j) const {
    const __m128i l = _mm_set1_epi64x(static_cast<long long>(L));
    if constexpr (O == op_xor) return _mm_xor_si128(l, v);
    if constexpr (O == op_sub) return _mm_sub_epi64(v, l);
    if constexpr (O == op_mul) return pair_of(L * low_of(v), L * high_of(v));
    if constexpr (O == op_div) {
      if (L == 1) return v;
      return pair_of(by(low_of(v)), by(high_of(v)));
    }
    if constexpr (O == op_or) return _mm_or_si128(l, v);
    if constexpr (O == op_and) return _mm_and_si128(l, v);
    if constexpr (O == op_seqinc) {
      return _mm_add_epi64(v, pair_of(j, j + 1));
    }
  }
};

// Fills both halves and lets them check each other; a differing pair takes
// its expected value from the same stream again.
template <int32_t O>
void fill_check_halves(EngineContext& run, const TestBlock& b, uint64_t h, const RandState& rs,
                       uint64_t L, const char* name) {
  using Words = MappedRandom<OpMap<O>>;
  Words c(rs, OpMap<O>(L));
  stream_fill_halves(b.base, h, 0, h, c);
  flush_span(run, b);
  kernel::StreamAt<Words> expect(Words(rs, OpMap<O>(L)));
  walk_checkpoints(run, h, PassPct{0, 100, h}, [&](uint64_t lo, uint64_t hi) {
    check_halves(run, b, h, lo, hi, expect, name);
  });
}

}  // namespace

void algo_compare(EngineContext& run, const TestBlock& b, const AlgoParams& ap) {
  if (b.words < 2) return;
  begin_test(run, ap.name);
  const uint64_t h = b.words / 2;
  RandState rs;
  rand_seed(&rs, ap.seed);
  uint64_t L = rand_next(&rs);
  if (L == 0) L = 1;
  switch (ap.op) {
    case op_xor: fill_check_halves<op_xor>(run, b, h, rs, L, ap.name); break;
    case op_sub: fill_check_halves<op_sub>(run, b, h, rs, L, ap.name); break;
    case op_mul: fill_check_halves<op_mul>(run, b, h, rs, L, ap.name); break;
    case op_div: fill_check_halves<op_div>(run, b, h, rs, L, ap.name); break;
    case op_or: fill_check_halves<op_or>(run, b, h, rs, L, ap.name); break;
    case op_and: fill_check_halves<op_and>(run, b, h, rs, L, ap.name); break;
    default: fill_check_halves<op_seqinc>(run, b, h, rs, L, ap.name); break;
  }
}

}  // namespace dravik
