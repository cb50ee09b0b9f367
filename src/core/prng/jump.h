// Jumping a xorshift128+ stream ahead. The step is linear over GF(2) on the
// 128 bits of the state, so k steps are one fixed 128x128 bit matrix: the
// product of the matrices of the powers of two that make up k. Those 64
// matrices are built once per process (about a millisecond); a jump then
// costs one matrix-vector product per set bit of k.
#pragma once
#include <cstdint>

#include "core/prng/prng.h"

namespace dravik {

// The state k calls of rand_next after rs, without making them.
RandState rand_jumped(const RandState& rs, uint64_t k);

}  // namespace dravik
