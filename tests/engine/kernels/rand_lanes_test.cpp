// The lane kernels write and expect, at every index, the very word the
// sequential generator gives it: over many seeds, span lengths (lane counts
// that do not divide them, spans shorter than a line per lane), stream
// positions and alignments, on both vector widths, and through the tests of
// the catalogue that draw from the generator.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/prng/prng.h"
#include "engine/catalogue/catalogue.h"
#include "engine/kernels/rand_lanes.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using testing::make_run;

// 64-byte aligned words, `offset` words past the line start.
struct Words {
  std::vector<uint64_t> store;
  uint64_t* w;
  Words(uint64_t n, uint64_t offset) : store(n + offset + 8) {
    const uintptr_t a = reinterpret_cast<uintptr_t>(store.data());
    w = reinterpret_cast<uint64_t*>((a + 63) & ~uintptr_t{63}) + offset;
  }
};

std::vector<uint64_t> sequence(uint64_t seed, uint64_t skip, uint64_t n) {
  RandState rs;
  rand_seed(&rs, seed);
  for (uint64_t k = 0; k < skip; ++k) rand_next(&rs);
  std::vector<uint64_t> v(n);
  for (uint64_t& x : v) x = rand_next(&rs);
  return v;
}

TEST(RandLanes, EveryIndexGetsTheSequentialWord) {
  const uint64_t lengths[] = {0, 1, 7, 63, 64, 65, 511, 512, 513, 520, 1000, 4099, 8 * 8 * 37 + 3};
  std::vector<uint64_t> seeds = {0, 1, 2, 0x5EED, ~uint64_t{0}};
  uint64_t mix = 7;
  for (int k = 0; k < 15; ++k) seeds.push_back(splitmix_next(&mix));
  auto run = make_run();
  for (const uint64_t seed : seeds) {
    for (const uint64_t n : lengths) {
      for (const uint64_t offset : {0, 1, 3}) {
        const uint64_t skip = seed % 41;
        SCOPED_TRACE("seed " + std::to_string(seed) + " n " + std::to_string(n) + " offset " +
                     std::to_string(offset));
        const std::vector<uint64_t> want = sequence(seed, skip, n + 1);
        RandomWords start(seed);
        for (uint64_t k = 0; k < skip; ++k) start.next1();

        Words a(n, offset);
        RandomWords fill = start;
        stream_fill(a.w, 0, n, fill);
        ASSERT_EQ(fill.next1(), want[n]) << "stream not left after the span";
        for (uint64_t i = 0; i < n; ++i) ASSERT_EQ(a.w[i], want[i]) << "fill, index " << i;

        const uint64_t h = n / 2 + offset;  // odd and even halves
        Words d(2 * h, offset);
        RandomWords halves = start;
        stream_fill_halves(d.w, h, 0, h, halves);
        for (uint64_t i = 0; i < h; ++i) {
          ASSERT_EQ(d.w[i], d.w[h + i]) << "halves, index " << i;
          ASSERT_EQ(d.w[i], sequence(seed, skip, h)[i]) << "halves, index " << i;
        }

        const TestBlock b{a.w, n, 1};
        RandomWords check = start;
        check_span(*run, b, 0, n, check, "t");
        RandomWords invert = start;
        check_invert_span(*run, b, 0, n, invert, "t");
        for (uint64_t i = 0; i < n; ++i) ASSERT_EQ(a.w[i], ~want[i]) << "inverted, index " << i;
        InvertedRandomWords inverted(seed);
        for (uint64_t k = 0; k < skip; ++k) inverted.next1();
        check_span(*run, b, 0, n, inverted, "t");
        ASSERT_EQ(check.next1(), want[n]);
        ASSERT_EQ(run->faults.total.load(), 0);
      }
    }
  }
}

// A map that uses both the value and the stream index, as seqinc and
// cmp-mul do: v * K + j.
struct MulIndexMap {
  uint64_t K = 0x9E3779B97F4A7C15ULL;
  uint64_t one(uint64_t v, uint64_t j) const { return v * K + j; }
  Pair two(Pair v, Pair jv) const { return mul_lo64(v, cpu::splat(K), cpu::splat(K >> 32)) + jv; }
#if DRAVIK_CPU_WIDE
  DRAVIK_WIDE_FN Quad four(Quad v, Quad jv) const { return mul_lo64(v, cpu::splat_quad(K)) + jv; }
#endif
};

// Both widths of lanes, called directly: the processor running the tests
// picks only one of them for the kernels. The stream starts some words in,
// so the lanes' indices start away from 0.
template <class Map>
void every_width_gives_the_sequential_lines() {
  const uint64_t len = 8 * 13;
  MappedRandom<Map> start(0xC0FFEE);
  for (int k = 0; k < 5; ++k) start.next1();
  std::vector<uint64_t> want(kLanes * len + 1);
  MappedRandom<Map> seq = start;
  for (uint64_t& x : want) x = seq.next1();
  auto lines_of = [&](auto run_lines) {
    std::vector<uint64_t> got(kLanes * len);
    MappedRandom<Map> c = start;
    run_lines(c, [&](uint64_t k, uint64_t off, const Line& l) {
      cpu::words_of(l, &got[k * len + off]);
    });
    got.push_back(c.next1());  // the stream after the lanes
    return got;
  };
  EXPECT_EQ(lines_of([&](MappedRandom<Map>& c, auto f) {
              kernel::lanes_by_line<RandLanes2, 4>(c, len, f);
            }),
            want);
#if DRAVIK_CPU_WIDE
  if (cpu::wide_vectors()) {
    EXPECT_EQ(lines_of([&](MappedRandom<Map>& c, auto f) {
                kernel::lanes_by_line_wide(c, len, f);
              }),
              want);
  }
#endif
}

TEST(RandLanes, BothVectorWidthsGiveTheSameLines) {
  every_width_gives_the_sequential_lines<PlainMap>();
  every_width_gives_the_sequential_lines<MulIndexMap>();
}

// The catalogue's generator tests leave their stream in the block: both
// halves (or the copy) hold op(L, v) for the stream from the test's seed,
// movinv-rand the complement of its stream.
TEST(RandLanes, GeneratorTestsWriteTheSequentialWords) {
  struct Row {
    const char* name;
    uint64_t (*word)(uint64_t L, uint64_t v, uint64_t j);
  };
  const Row rows[] = {
      {"movinv-rand", [](uint64_t, uint64_t v, uint64_t) { return ~v; }},
      {"rand-dual", [](uint64_t, uint64_t v, uint64_t) { return v; }},
      {"block-move", [](uint64_t, uint64_t v, uint64_t) { return v; }},
      {"cmp-xor", [](uint64_t L, uint64_t v, uint64_t) { return L ^ v; }},
      {"cmp-sub", [](uint64_t L, uint64_t v, uint64_t) { return v - L; }},
      {"cmp-mul", [](uint64_t L, uint64_t v, uint64_t) { return L * v; }},
      {"cmp-div", [](uint64_t L, uint64_t v, uint64_t) { return v / L; }},
      {"cmp-or", [](uint64_t L, uint64_t v, uint64_t) { return L | v; }},
      {"cmp-and", [](uint64_t L, uint64_t v, uint64_t) { return L & v; }},
      {"seqinc", [](uint64_t, uint64_t v, uint64_t j) { return v + j; }},
  };
  auto run = make_run();
  for (const Row& row : rows) {
    const CatalogueEntry* test = find_test(row.name);
    ASSERT_NE(test, nullptr);
    for (const uint64_t n : {uint64_t{2}, uint64_t{3}, uint64_t{1001}, (uint64_t{1} << 18) + 4099}) {
      SCOPED_TRACE(std::string(row.name) + " n " + std::to_string(n));
      Words m(n, 0);
      const TestBlock b{m.w, n, 3};
      const uint64_t block_seed = 0x1234567 + n;
      run_catalogue_test(*run, b, *test, block_seed);
      const bool halves = test != find_test("movinv-rand");
      const uint64_t seed = test == find_test("block-move") ? uint64_t{3} ^ 0xB10CC0DEULL
                                                           : block_seed ^ test->seed_xor;
      const uint64_t count = halves ? n / 2 : n;
      const bool ext = test->fn == find_test("cmp-xor")->fn;
      std::vector<uint64_t> v = sequence(seed, 0, count + 1);
      uint64_t L = ext ? (v[0] == 0 ? 1 : v[0]) : 0;
      if (ext) v.erase(v.begin());
      for (uint64_t j = 0; j < count; ++j) {
        const uint64_t want = row.word(L, v[j], j);
        ASSERT_EQ(m.w[j + (halves ? count : 0)], want) << "index " << j;
        if (halves && test != find_test("block-move")) {
          ASSERT_EQ(m.w[j], want) << "index " << j;
        }
      }
    }
  }
  EXPECT_EQ(run->faults.total.load(), 0);
}

// Lanes 0 and 1 of a vector.
std::vector<uint64_t> lanes_of(Pair x) { return {cpu::low_word(x), cpu::high_word(x)}; }

#if DRAVIK_CPU_WIDE
// The same three results in wide lanes (a and b in lanes 0 and 3), lanes 0
// and 3 of each appended to r.
DRAVIK_WIDE_FN void in_wide_lanes(const DivideBy& by, uint64_t d, uint64_t a, uint64_t b,
                                  std::vector<uint64_t>& r) {
  const Quad w = cpu::quad_of(a, 0, 0, b);
  const Quad lo4 = cpu::splat_quad(d);
  const Quad hi4 = cpu::splat_quad(d >> 32);
  for (const Quad x : {by.four(w), mul_lo64(w, lo4), mul_hi64(w, lo4, hi4)}) {
    r.push_back(cpu::word_of<0>(x));
    r.push_back(cpu::word_of<3>(x));
  }
}
#endif

// The quotients, low and high products of (a, b) by d: one word at a time
// (by.one and the processor's multiply), then in 128-bit and, where the
// processor has them, wide lanes.
std::vector<uint64_t> in_lanes(const DivideBy& by, uint64_t d, uint64_t a, uint64_t b) {
  std::vector<uint64_t> r = {by.one(a), by.one(b), a * d, b * d, cpu::mul_hi(a, d),
                             cpu::mul_hi(b, d)};
  const Pair v = pair_of(a, b);
  const Pair lo = cpu::splat(d);
  const Pair hi = cpu::splat(d >> 32);
  for (const Pair x : {by.two(v), mul_lo64(v, lo, hi), mul_hi64(v, lo, hi)}) {
    for (const uint64_t w : lanes_of(x)) r.push_back(w);
  }
#if DRAVIK_CPU_WIDE
  if (cpu::wide_vectors()) in_wide_lanes(by, d, a, b, r);
#endif
  return r;
}

// The vector maps of the extended group (the divide-by-multiply, the 64-bit
// multiply from 32-bit products) against the processor's own divide and
// multiply, for divisors and values at every edge (1, powers of two and their
// neighbours, the top of the range) and pseudo-random ones.
TEST(RandLanes, VectorDivideAndMultiplyAreExact) {
  std::vector<uint64_t> consts = {1, 2, 3, 5, 7, 10, 641, (1ull << 32) - 1, 1ull << 32,
                                  (1ull << 32) + 1, (1ull << 63) - 1, 1ull << 63,
                                  (1ull << 63) + 1, ~uint64_t{0} - 1, ~uint64_t{0}};
  uint64_t mix = 11;
  for (int k = 0; k < 60; ++k) consts.push_back((splitmix_next(&mix) >> (k % 64)) | 1);
  for (const uint64_t d : consts) {
    std::vector<uint64_t> vs = {0, 1, d - 1, d, d + 1, 2 * d - 1, 2 * d, ~uint64_t{0} - d,
                                1ull << 63, ~uint64_t{0} - 1, ~uint64_t{0}};
    for (int k = 0; k < 64; ++k) vs.push_back(splitmix_next(&mix) >> (k % 64));
    const DivideBy by(d);
    for (size_t k = 0; k + 1 < vs.size(); ++k) {
      const uint64_t a = vs[k], b = vs[k + 1];
      const std::vector<uint64_t> got = in_lanes(by, d, a, b);
      // The high words from the 128-bit product (cpu/wide_int.h, checked on
      // its own against the compiler's 128-bit type).
      const uint64_t want[6] = {a / d, b / d, a * d, b * d, cpu::mul_wide_portable(a, d).hi,
                                cpu::mul_wide_portable(b, d).hi};
      for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i], want[i % 6]) << "d " << d << " v " << a << ", " << b << " result " << i;
      }
    }
  }
}

}  // namespace
}  // namespace dravik
