// The line kernels on whatever vectors the processor has: every word of a
// span is written where it belongs, and a bit flipped in any word -- in the
// head before the first line, in either line of a two-line step, in the lone
// line after them, in the words after the last line, in the low or the high
// word of a pair, in either 32-bit half -- is recorded once, at that word,
// with the value the read loaded. A kernel that drops a pair or a line at a
// span's end, tests only some lanes or bits of its differences, or rebuilds
// a line's words in the wrong order fails here.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/context.h"
#include "engine/rand_lanes.h"
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
  std::function<uint64_t(const TestBlock&)> bare;  // diff_or over the block, when the row has it
};

// The value at index i of the stream make(b) starts, one word at a time.
template <class Cur, class Make>
uint64_t nth(Make make, const TestBlock& b, uint64_t i) {
  Cur c = make(b);
  for (uint64_t k = 0; k < i; ++k) c.next1();
  return c.next1();
}

template <class Cur, class Make>
KernelRow verify_row(const char* name, Make make) {
  return {name,
          false,
          [make](const TestBlock& b) {
            Cur c = make(b);
            stream_fill(b.base, 0, b.words, c);
          },
          [make](const TestBlock& b, uint64_t i) { return nth<Cur>(make, b, i); },
          [make](EngineContext& run, const TestBlock& b) {
            Cur c = make(b);
            check_span(run, b, 0, b.words, c, "line-kernels");
          },
          [make](const TestBlock& b) {
            Cur c = make(b);
            return diff_or(b.base, 0, b.words, c);
          }};
}

template <class Cur, class Make>
KernelRow invert_row(const char* name, Make make) {
  KernelRow r = verify_row<Cur>(name, make);
  r.inverts = true;
  r.verify = [make](EngineContext& run, const TestBlock& b) {
    Cur c = make(b);
    check_invert_span(run, b, 0, b.words, c, "line-kernels");
  };
  r.bare = nullptr;
  return r;
}

// Both halves written from one stream; they check each other. The block's
// own length picks whether the upper half starts on a pair.
KernelRow halves_row() {
  auto make = [](const TestBlock&) { return RandomWords(0xBADC0DE); };
  return {"two halves",
          false,
          [make](const TestBlock& b) {
            RandomWords c = make(b);
            stream_fill_halves(b.base, b.words / 2, 0, b.words / 2, c);
          },
          [make](const TestBlock& b, uint64_t i) {
            return nth<RandomWords>(make, b, i % (b.words / 2));
          },
          [make](EngineContext& run, const TestBlock& b) {
            kernel::StreamAt<RandomWords> expect(make(b));
            check_halves(run, b, b.words / 2, 0, b.words / 2, expect, "line-kernels");
          },
          nullptr};
}

const PatternTable& period_five() {
  static const PatternTable table(5, [](uint32_t k) { return 0x0123456789ABCDEFULL * (k + 1); });
  return table;
}

std::vector<KernelRow> rows() {
  auto constant = [](const TestBlock&) { return ConstWords{0xA5A5A5A5A5A5A5A5ULL}; };
  auto periodic = [](const TestBlock&) { return PeriodicWords(period_five(), 0); };
  auto address = [](const TestBlock& b) {
    return AddressWords{static_cast<uint64_t>(reinterpret_cast<uintptr_t>(b.base))};
  };
  auto random = [](const TestBlock&) { return RandomWords(0x5EED); };
  return {verify_row<ConstWords>("constant", constant),
          verify_row<PeriodicWords>("periodic", periodic),
          verify_row<AddressWords>("address", address),
          verify_row<RandomWords>("random lanes", random),
          invert_row<ConstWords>("read-modify-write constant", constant),
          invert_row<RandomWords>("read-modify-write random lanes", random),
          halves_row()};
}

// The verify rows over a block of `words`, at `offset` words past a line.
void every_word(const std::vector<KernelRow>& table, uint64_t words) {
  std::vector<uint64_t> store(words + 16);
  const uintptr_t start = reinterpret_cast<uintptr_t>(store.data());
  uint64_t* line = reinterpret_cast<uint64_t*>((start + 63) & ~uintptr_t{63});
  for (const KernelRow& row : table) {
    // A span on a line, one a word past it (only 8-byte aligned vectors) and
    // one three words past it.
    for (const uint64_t offset : {0, 1, 3}) {
      const TestBlock b{line + offset, words, 1};
      const std::string where = std::string(row.name) + ", " + std::to_string(words) +
                                " words, offset " + std::to_string(offset);
      row.fill(b);
      for (uint64_t i = 0; i < words; ++i) ASSERT_EQ(b.base[i], row.due(b, i)) << where << " word " << i;
      if (row.bare) {
        ASSERT_EQ(row.bare(b), 0u) << where;
      }
      {
        auto run = testing::make_run();
        run->cfg.use_phys = false;
        row.verify(*run, b);
        ASSERT_EQ(run->faults.used, 0) << where;
        for (uint64_t i = 0; i < words; ++i) {
          const uint64_t left = row.inverts ? ~row.due(b, i) : row.due(b, i);
          ASSERT_EQ(b.base[i], left) << where << " word " << i << " after the verify";
        }
      }

      for (uint64_t at = 0; at < words; ++at) {
        const uint64_t m = uint64_t{1} << kBits[at % std::size(kBits)];
        auto run = testing::make_run();
        run->cfg.use_phys = false;
        row.fill(b);
        b.base[at] ^= m;
        if (row.bare) {
          ASSERT_EQ(row.bare(b), m) << where << " word " << at;
        }
        row.verify(*run, b);
        ASSERT_EQ(run->faults.used, 1) << where << " word " << at;
        const FaultRecord& r = run->faults.records[0];
        const uint64_t due = row.due(b, at);
        EXPECT_EQ(r.vaddr, reinterpret_cast<uintptr_t>(b.base + at)) << where << " word " << at;
        EXPECT_EQ(r.expected, due) << where << " word " << at;
        EXPECT_EQ(r.actual, due ^ m) << where << " word " << at;
      }
    }
  }
}

TEST(LineKernels, EveryWordIsWrittenAndAFlipInAnyWordIsRecordedThere) {
  every_word(rows(), kWords);
  // Halves of an odd number of words: the upper half is only 8-byte aligned.
  every_word({halves_row()}, kWords + 2);
}

}  // namespace
}  // namespace dravik
