// The extended group (cmp-xor, cmp-sub, cmp-mul, cmp-div, cmp-or, cmp-and,
// seqinc): a pseudo-random stream combined with one constant operand by an
// arithmetic or logic operation, written into both halves, which then check
// each other as in rand-dual. The values exercise data paths other than the
// plain stream's.
#include "engine/context.h"
#include "engine/algo.h"

namespace dravik {

namespace {

enum Op : int32_t { op_xor, op_sub, op_mul, op_div, op_or, op_and, op_seqinc };

// Word j of each half: the operation of the constant L and the stream value v.
template <int32_t O>
struct OpWords {
  RandState rs;
  uint64_t L;
  uint64_t j = 0;
  uint64_t next1() {
    const uint64_t v = rand_next(&rs);
    const uint64_t k = j++;
    if constexpr (O == op_xor) return L ^ v;
    if constexpr (O == op_sub) return v - L;
    if constexpr (O == op_mul) return L * v;
    if constexpr (O == op_div) return v / L;
    if constexpr (O == op_or) return L | v;
    if constexpr (O == op_and) return L & v;
    if constexpr (O == op_seqinc) return v + k;
  }
};

template <int32_t O>
void fill_halves(uint64_t* w, uint64_t h, const RandState& rs, uint64_t L) {
  OpWords<O> c{rs, L};
  stream_fill_halves(w, h, 0, h, c);
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
  uint64_t* w = b.base;
  switch (ap.op) {
    case op_xor: fill_halves<op_xor>(w, h, rs, L); break;
    case op_sub: fill_halves<op_sub>(w, h, rs, L); break;
    case op_mul: fill_halves<op_mul>(w, h, rs, L); break;
    case op_div: fill_halves<op_div>(w, h, rs, L); break;
    case op_or: fill_halves<op_or>(w, h, rs, L); break;
    case op_and: fill_halves<op_and>(w, h, rs, L); break;
    default: fill_halves<op_seqinc>(w, h, rs, L); break;
  }
  flush_span(run, b);
  walk_checkpoints(run, h, PassPct{0, 100, h},
                   [&](uint64_t lo, uint64_t hi) { check_halves(run, b, h, lo, hi, ap.name); });
}

}  // namespace dravik
