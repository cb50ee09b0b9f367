// The processor layer's vector operations against plain word arithmetic: a
// store that drops or swaps a pair, a difference test blind to some bit, or
// a lane operation on the wrong half shows here on either processor.
#include "cpu/cache.h"
#include "cpu/line.h"
#include "cpu/wide.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace dravik::cpu {
namespace {

TEST(CpuLine, AnySetSeesEveryBitOfEveryWordAndNothingElse) {
  EXPECT_FALSE(any_set(Line{}));
  for (int word = 0; word < 8; ++word) {
    for (int bit = 0; bit < 64; ++bit) {
      alignas(64) uint64_t w[8] = {};
      w[word] = uint64_t{1} << bit;
      const Line d = diff_line(w, Line{});
      ASSERT_TRUE(any_set(d)) << "word " << word << " bit " << bit;
      alignas(64) uint64_t out[8];
      words_of(d, out);
      for (int k = 0; k < 8; ++k) ASSERT_EQ(out[k], w[k]);
      ASSERT_EQ(fold(or_pairs(d)), w[word]);
    }
  }
}

TEST(CpuLine, StoresPutEveryWordInItsPlace) {
  alignas(64) uint64_t src[16];
  for (int k = 0; k < 16; ++k) src[k] = 0x0101010101010101ull * static_cast<uint64_t>(k + 1) + 7;
  const Line l = load_line(src);
  const Line u = load_line_unaligned(src + 1);
  // stream_line, store_line, the unaligned store, one pair and one word: each
  // into a zeroed buffer with a guard word on both sides.
  struct Case {
    const char* name;
    void (*write)(uint64_t*, const Line&, const Line&);
    int offset;  // first word written
    int words;
    int from;    // first source word
  };
  const Case cases[] = {
      {"stream_line", [](uint64_t* p, const Line& a, const Line&) { stream_line(p, a); }, 8, 8, 0},
      {"store_line", [](uint64_t* p, const Line& a, const Line&) { store_line(p, a); }, 8, 8, 0},
      {"store_line_unaligned",
       [](uint64_t* p, const Line&, const Line& b) { store_line_unaligned(p - 1, b); }, 7, 8, 1},
      {"stream_pair", [](uint64_t* p, const Line& a, const Line&) { stream_pair(p, a.v1); }, 8, 2, 2},
      {"stream_pairs",
       [](uint64_t* p, const Line& a, const Line&) { stream_pairs(p, a.v2, a.v3); }, 8, 4, 4},
      {"stream_word",
       [](uint64_t* p, const Line& a, const Line&) { stream_word(p, high_word(a.v3)); }, 8, 1, 7},
  };
  for (const Case& c : cases) {
    alignas(64) uint64_t dst[32] = {};
    c.write(dst + 8, l, u);
    store_fence();
    for (int k = 0; k < 32; ++k) {
      const bool inside = k >= c.offset && k < c.offset + c.words;
      ASSERT_EQ(dst[k], inside ? src[c.from + k - c.offset] : 0u) << c.name << " word " << k;
    }
  }
}

TEST(CpuLine, LaneOperationsMatchWordArithmetic) {
  const uint64_t a0 = 0xF00DFACE12345678ull, a1 = 0x8000000000000001ull;
  const uint64_t b0 = 0x00000003FFFFFFFFull, b1 = 0xDEADBEEF87654321ull;
  const Pair a = pair_of(a0, a1), b = pair_of(b0, b1);
  const Pair p = mul_low32(a, b);
  EXPECT_EQ(low_word(p), (a0 & 0xFFFFFFFFu) * (b0 & 0xFFFFFFFFu));
  EXPECT_EQ(high_word(p), (a1 & 0xFFFFFFFFu) * (b1 & 0xFFFFFFFFu));
  EXPECT_EQ(low_word(low_words(a, b)), a0);
  EXPECT_EQ(high_word(low_words(a, b)), b0);
  EXPECT_EQ(low_word(high_words(a, b)), a1);
  EXPECT_EQ(high_word(high_words(a, b)), b1);
  const Pair s = ((a + b) ^ (a << 23)) - (b >> 17);
  EXPECT_EQ(low_word(s), ((a0 + b0) ^ (a0 << 23)) - (b0 >> 17));
  EXPECT_EQ(high_word(s), ((a1 + b1) ^ (a1 << 23)) - (b1 >> 17));
#if DRAVIK_CPU_WIDE
  if (wide_vectors()) {
    struct Wide {
      DRAVIK_WIDE_FN static void run(uint64_t* out) {
        const Quad x = quad_of(1, 0xFFFFFFFF00000002ull, 3, 4);
        const Quad y = quad_of(5, 6, 0x100000007ull, 8);
        const Quad m = mul_low32(x, y);
        const Quad lo = low_words(x, y);
        const Quad hi = high_words(x, y);
        out[0] = word_of<0>(m), out[1] = word_of<1>(m), out[2] = word_of<2>(m);
        out[3] = word_of<3>(m), out[4] = word_of<2>(lo), out[5] = word_of<3>(hi);
        out[6] = low_word(high_pair(lo)), out[7] = high_word(low_pair(hi));
      }
    };
    uint64_t out[8];
    Wide::run(out);
    const uint64_t want[8] = {5, 12, 21, 32, 3, 8, 3, 6};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(out[k], want[k]) << k;
  }
#endif
}

}  // namespace
}  // namespace dravik::cpu
