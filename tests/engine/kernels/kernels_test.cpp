// The line kernels on whatever vectors the processor has: every word of a
// span is written where it belongs, a clean verify records nothing and leaves
// what it should, and a bit flipped in any word -- in the head before the
// first line, in either line of a two-line step, in the lone line after them,
// in the words after the last line, in the low or the high word of a pair, in
// either 32-bit half -- is recorded once, at that word, with the value the
// read loaded. A kernel that drops a pair or a line at a span's end, tests
// only some lanes or bits of its differences, or puts a line's words in the
// wrong order fails here.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/context.h"
#include "engine/kernels/rand_lanes.h"
#include "support/test_support.h"

namespace dravik {
namespace {

constexpr uint64_t kWords = 200;  // lanes of three lines, then a tail
constexpr int32_t kBits[] = {0, 31, 32, 63};

struct KernelRow {
  const char* name;
  bool inverts;  // the verify leaves the complement of what it checked
  std::function<void(const TestBlock&)> fill;
  std::function<uint64_t(const TestBlock&, uint64_t)> due;  // the value word i was given
  std::function<void(EngineContext&, const TestBlock&)> verify;
  std::function<uint64_t(const TestBlock&)> bare;  // diff_or, for the plain verifies
};

// Rows whose stream make(b) fills the block and checks it (rmw: the
// read-modify-write that leaves the complement).
template <class Cur, class Make>
KernelRow row(const char* name, bool rmw, Make make) {
  KernelRow r{};
  r.name = name;
  r.inverts = rmw;
  r.fill = [make](const TestBlock& b) {
    Cur c = make(b);
    stream_fill(b.base, 0, b.words, c);
  };
  r.due = [make](const TestBlock& b, uint64_t i) {
    Cur c = make(b);
    for (uint64_t k = 0; k < i; ++k) c.next1();
    return c.next1();
  };
  r.verify = [make, rmw](EngineContext& run, const TestBlock& b) {
    Cur c = make(b);
    rmw ? check_invert_span(run, b, 0, b.words, c, "line-kernels")
        : check_span(run, b, 0, b.words, c, "line-kernels");
  };
  if (!rmw) {
    r.bare = [make](const TestBlock& b) {
      Cur c = make(b);
      return diff_or(b.base, 0, b.words, c);
    };
  }
  return r;
}

// Both halves written from one stream, checking each other. The block's
// length decides whether the upper half starts on a pair.
KernelRow halves_row() {
  KernelRow r = row<RandomWords>("two halves", false, [](const TestBlock&) { return RandomWords(7); });
  const auto due = r.due;
  r.fill = [](const TestBlock& b) {
    RandomWords c(7);
    stream_fill_halves(b.base, b.words / 2, 0, b.words / 2, c);
  };
  r.due = [due](const TestBlock& b, uint64_t i) { return due(b, i % (b.words / 2)); };
  r.verify = [](EngineContext& run, const TestBlock& b) {
    kernel::StreamAt<RandomWords> expect(RandomWords(7));
    check_halves(run, b, b.words / 2, 0, b.words / 2, expect, "line-kernels");
  };
  r.bare = nullptr;
  return r;
}

void every_word(const std::vector<KernelRow>& table, uint64_t words) {
  std::vector<uint64_t> store(words + 16);
  uint64_t* line = reinterpret_cast<uint64_t*>(
      (reinterpret_cast<uintptr_t>(store.data()) + 63) & ~uintptr_t{63});
  for (const KernelRow& k : table) {
    // On a line, a word past it (vectors only 8-byte aligned), three past it.
    for (const uint64_t offset : {0, 1, 3}) {
      const TestBlock b{line + offset, words, 1};
      const std::string where =
          std::string(k.name) + ", " + std::to_string(words) + " words at +" + std::to_string(offset);
      auto clean = testing::make_run();
      clean->cfg.use_phys = false;
      k.fill(b);
      for (uint64_t i = 0; i < words; ++i) ASSERT_EQ(b.base[i], k.due(b, i)) << where << ", " << i;
      if (k.bare) {
        ASSERT_EQ(k.bare(b), 0u) << where;
      }
      k.verify(*clean, b);
      ASSERT_EQ(clean->faults.used, 0) << where;
      for (uint64_t i = 0; i < words; ++i) {
        ASSERT_EQ(b.base[i], k.inverts ? ~k.due(b, i) : k.due(b, i)) << where << ", after, " << i;
      }

      for (uint64_t at = 0; at < words; ++at) {
        const uint64_t m = uint64_t{1} << kBits[at % std::size(kBits)];
        auto run = testing::make_run();
        run->cfg.use_phys = false;
        k.fill(b);
        b.base[at] ^= m;
        if (k.bare) {
          ASSERT_EQ(k.bare(b), m) << where << ", flip at " << at;
        }
        k.verify(*run, b);
        ASSERT_EQ(run->faults.used, 1) << where << ", flip at " << at;
        const FaultRecord& r = run->faults.records[0];
        const uint64_t due = k.due(b, at);
        EXPECT_EQ(r.vaddr, reinterpret_cast<uintptr_t>(b.base + at)) << where << ", flip at " << at;
        EXPECT_EQ(r.expected, due) << where << ", flip at " << at;
        EXPECT_EQ(r.actual, due ^ m) << where << ", flip at " << at;
      }
    }
  }
}

TEST(LineKernels, EveryWordIsWrittenAndAFlipInAnyWordIsRecordedThere) {
  static const PatternTable period5(5, [](uint32_t k) { return 0x0123456789ABCDEFULL * (k + 1); });
  auto constant = [](const TestBlock&) { return ConstWords{0xA5A5A5A5A5A5A5A5ULL}; };
  auto periodic = [](const TestBlock&) { return PeriodicWords(period5, 0); };
  auto address = [](const TestBlock& b) { return AddressWords{reinterpret_cast<uintptr_t>(b.base)}; };
  auto random = [](const TestBlock&) { return RandomWords(0x5EED); };
  every_word({row<ConstWords>("constant", false, constant),
              row<PeriodicWords>("periodic", false, periodic),
              row<AddressWords>("address", false, address),
              row<RandomWords>("random lanes", false, random),
              row<ConstWords>("read-modify-write constant", true, constant),
              row<RandomWords>("read-modify-write random lanes", true, random), halves_row()},
             kWords);
  // Halves of an odd number of words: the upper half is only 8-byte aligned.
  every_word({halves_row()}, kWords + 2);
}

}  // namespace
}  // namespace dravik
