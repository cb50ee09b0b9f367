#include "core/prng/jump.h"

namespace dravik {

namespace {

// A 128x128 bit matrix as the images of the 128 unit states: column c < 64 is
// the image of bit c of s0, column 64 + c that of bit c of s1.
struct StepMatrix {
  RandState col[128];
};

RandState times(const StepMatrix& m, const RandState& v) {
  uint64_t r0 = 0, r1 = 0;
  for (int c = 0; c < 64; ++c) {
    const uint64_t take = uint64_t{0} - ((v.s0 >> c) & 1);
    r0 ^= m.col[c].s0 & take;
    r1 ^= m.col[c].s1 & take;
  }
  for (int c = 0; c < 64; ++c) {
    const uint64_t take = uint64_t{0} - ((v.s1 >> c) & 1);
    r0 ^= m.col[64 + c].s0 & take;
    r1 ^= m.col[64 + c].s1 & take;
  }
  return RandState{r0, r1};
}

// powers[b] advances a state by 2^b steps.
struct Powers {
  StepMatrix powers[64];
  Powers() {
    for (int c = 0; c < 128; ++c) {
      RandState unit{c < 64 ? uint64_t{1} << c : 0, c < 64 ? 0 : uint64_t{1} << (c - 64)};
      rand_next(&unit);  // the output is not needed, only the state it leaves
      powers[0].col[c] = unit;
    }
    for (int b = 1; b < 64; ++b) {
      for (int c = 0; c < 128; ++c) powers[b].col[c] = times(powers[b - 1], powers[b - 1].col[c]);
    }
  }
};

const Powers& step_powers() {
  static const Powers table;
  return table;
}

}  // namespace

RandState rand_jumped(const RandState& rs, uint64_t k) {
  if (k == 0) return rs;
  const Powers& p = step_powers();
  RandState v = rs;
  for (int b = 0; b < 64; ++b) {
    if ((k >> b) & 1) v = times(p.powers[b], v);
  }
  return v;
}

}  // namespace dravik
