// Products and quotients of 64-bit words that need 128 bits in between: the
// division by a constant of the random kernels and the memory map's scaling
// of an offset to a cell. x86-64 and aarch64 have a 128-bit integer type and
// a 64x64-bit multiply giving its high word; 32-bit ARM has neither, and
// builds the same results from 32x32-bit products (UMULL) and a shift-and-
// subtract division.
#pragma once
#include <cstdint>

namespace dravik::cpu {

// A 128-bit unsigned number as its two words.
struct U128 {
  uint64_t hi = 0;
  uint64_t lo = 0;
  friend bool operator==(const U128&, const U128&) = default;
};

// a * b in full, from four 32x32-bit products: the same result on every
// processor (the reference the native forms below are checked against).
inline U128 mul_wide_portable(uint64_t a, uint64_t b) {
  const uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32;
  const uint64_t b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
  const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  // The middle column: at most 3 * (2^32 - 1), no overflow.
  const uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
  return {p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32), (mid << 32) | (p00 & 0xFFFFFFFFu)};
}

inline U128 mul_wide(uint64_t a, uint64_t b) {
#if defined(__SIZEOF_INT128__)
  const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
  return {static_cast<uint64_t>(p >> 64), static_cast<uint64_t>(p)};
#else
  return mul_wide_portable(a, b);
#endif
}

// The high word of a * b.
inline uint64_t mul_hi(uint64_t a, uint64_t b) { return mul_wide(a, b).hi; }

// n / d, with n % d in *rem, for d != 0 and n.hi < d (the quotient fits in
// one word): one bit of quotient per step, as long division by hand.
inline uint64_t div_wide_portable(U128 n, uint64_t d, uint64_t* rem) {
  uint64_t r = n.hi;
  uint64_t q = 0;
  for (int bit = 63; bit >= 0; --bit) {
    const bool carry = (r >> 63) != 0;
    r = (r << 1) | ((n.lo >> bit) & 1u);
    q <<= 1;
    // With the carry, the true remainder is 2^64 + r >= d: the unsigned
    // subtraction wraps to the right value.
    if (carry || r >= d) {
      r -= d;
      q |= 1u;
    }
  }
  *rem = r;
  return q;
}

inline uint64_t div_wide(U128 n, uint64_t d, uint64_t* rem) {
#if defined(__SIZEOF_INT128__)
  const unsigned __int128 v = (static_cast<unsigned __int128>(n.hi) << 64) | n.lo;
  *rem = static_cast<uint64_t>(v % d);
  return static_cast<uint64_t>(v / d);
#else
  return div_wide_portable(n, d, rem);
#endif
}

}  // namespace dravik::cpu
