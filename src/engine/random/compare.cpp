// The extended group (cmp-xor, cmp-sub, cmp-mul, cmp-div, cmp-or, cmp-and,
// seqinc): a pseudo-random stream combined with one constant operand by an
// arithmetic or logic operation, written into both halves, which then check
// each other as in rand-dual. The values exercise data paths other than the
// plain stream's.
#include "engine/context.h"
#include "engine/random/random.h"
#include "engine/kernels/rand_lanes.h"

namespace dravik {

namespace {

enum Op : int32_t { op_xor, op_sub, op_mul, op_div, op_or, op_and, op_seqinc };

// Word j of each half: the operation of the constant L and the stream value
// v. one() is the definition; two() and four() the same in vector lanes.
template <int32_t O>
struct OpMap {
  uint64_t L = 1;
  DivideBy by{1};
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
  Pair two(Pair v, Pair jv) const {
    const Pair l = cpu::splat(L);
    if constexpr (O == op_xor) return l ^ v;
    if constexpr (O == op_sub) return v - l;
    if constexpr (O == op_mul) return mul_lo64(v, l, cpu::splat(L >> 32));
    if constexpr (O == op_div) return by.two(v);
    if constexpr (O == op_or) return l | v;
    if constexpr (O == op_and) return l & v;
    if constexpr (O == op_seqinc) return v + jv;
  }
#if DRAVIK_CPU_WIDE
  DRAVIK_WIDE_FN Quad four(Quad v, Quad jv) const {
    const Quad l = cpu::splat_quad(L);
    if constexpr (O == op_xor) return l ^ v;
    if constexpr (O == op_sub) return v - l;
    if constexpr (O == op_mul) return mul_lo64(v, l);
    if constexpr (O == op_div) return by.four(v);
    if constexpr (O == op_or) return l | v;
    if constexpr (O == op_and) return l & v;
    if constexpr (O == op_seqinc) return v + jv;
  }
#endif
};

// Fills both halves and lets them check each other; a differing pair takes
// its expected value from the same stream again.
template <int32_t O>
void fill_check_halves(EngineContext& run, const TestBlock& b, uint64_t h, const RandState& rs,
                       uint64_t L, const char* name) {
  using Words = MappedRandom<OpMap<O>>;
  Words c(rs, OpMap<O>(L));
  stream_fill_halves(b.base, h, 0, h, c);
  fence_streamed(run, b);
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
