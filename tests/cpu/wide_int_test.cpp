// 128-bit products and quotients without a 128-bit type (32-bit ARM): a wrong
// carry in either puts a fault on the wrong map cell or makes a random
// kernel's divided index stray outside its block.
#include "cpu/wide_int.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

namespace dravik::cpu {
namespace {

TEST(WideInt, ProductsAndQuotientsHoldAtTheEdgesAndAtRandom) {
  constexpr uint64_t kMax = ~uint64_t{0};
  struct Case {
    uint64_t a, b;
    U128 product;
  };
  const Case cases[] = {
      {0, kMax, {0, 0}},
      {1, kMax, {0, kMax}},
      {kMax, kMax, {kMax - 1, 1}},
      {uint64_t{1} << 32, uint64_t{1} << 32, {1, 0}},
      {0xFFFFFFFF, 0xFFFFFFFF, {0, 0xFFFFFFFE00000001}},
      {0x123456789ABCDEF0, 0x0FEDCBA987654321, {0x0121FA00AD77D742, 0x2236D88FE5618CF0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mul_wide_portable(c.a, c.b), c.product) << std::hex << c.a << " * " << c.b;
    EXPECT_EQ(mul_wide(c.a, c.b), c.product) << std::hex << c.a << " * " << c.b;
  }

  // Every quotient times its divisor plus its remainder is the dividend, with
  // the remainder below the divisor; the native and portable forms agree.
  std::mt19937_64 rng(0x5eed);
  for (int i = 0; i < 20000; ++i) {
    const uint64_t d = (rng() >> (rng() % 64)) | 1u;
    const U128 n{rng() % d, rng()};
    uint64_t rem = 0, rem_portable = 0;
    const uint64_t q = div_wide(n, d, &rem);
    ASSERT_EQ(div_wide_portable(n, d, &rem_portable), q);
    ASSERT_EQ(rem_portable, rem);
    ASSERT_LT(rem, d);
    U128 back = mul_wide_portable(q, d);
    back.lo += rem;
    if (back.lo < rem) ++back.hi;
    ASSERT_EQ(back, n) << std::hex << n.hi << ":" << n.lo << " / " << d;
    const uint64_t a = rng(), b = rng();
    ASSERT_EQ(mul_wide(a, b), mul_wide_portable(a, b));
  }
}

}  // namespace
}  // namespace dravik::cpu
