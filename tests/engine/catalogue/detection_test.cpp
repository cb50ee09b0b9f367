// Every test of the catalogue finds a bit flipped in a word it verifies and
// reports it with the right index, expected and actual value, and none of
// them reports anything on clean memory. The fault is planted through the
// flush seam, in the window between a write pass and the verify that follows.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/run/flags.h"
#include "engine/catalogue/catalogue.h"
#include "engine/flush.h"
#include "core/prng/prng.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using testing::make_run;

constexpr uint64_t kOnes = ~uint64_t{0};
constexpr uint64_t kChunk = uint64_t{1} << 18;

// Anonymous memory for one block, starting offset words past a page start so
// that blocks which are not 16-byte or line aligned get tested too.
class BlockMemory {
 public:
  BlockMemory(uint64_t words, uint64_t offset_words) : words_(words) {
    bytes_ = (words + offset_words + 1) * 8;
    void* p = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    map_ = p == MAP_FAILED ? nullptr : p;
    base_ = static_cast<uint64_t*>(map_) + offset_words;
  }
  ~BlockMemory() {
    if (map_ != nullptr) munmap(map_, bytes_);
  }
  BlockMemory(const BlockMemory&) = delete;
  BlockMemory& operator=(const BlockMemory&) = delete;
  bool ok() const { return map_ != nullptr; }
  TestBlock block(int32_t pass) const { return TestBlock{base_, words_, pass}; }

 private:
  void* map_ = nullptr;
  uint64_t* base_ = nullptr;
  uint64_t words_ = 0;
  uint64_t bytes_ = 0;
};

// A defect planted through the seam: a bit flipped once after a chosen flush,
// or a bit stuck at 0 or 1 that is forced again after every flush, as a real
// stuck cell would read whatever was written.
struct Defect {
  enum Kind { flip_once, stuck_at_1, stuck_at_0 } kind = flip_once;
  uint64_t* word = nullptr;
  uint64_t mask = 0;
  int at_flush = 1;  // flip_once: after this flush (1 = the first)
};

// Installs the defect on the run's flush seam.
void plant(dravik::Run& run, Defect d) {
  run.after_flush = [d, flushes = 0](const TestBlock&) mutable {
    ++flushes;
    switch (d.kind) {
      case Defect::flip_once:
        if (flushes == d.at_flush) *d.word ^= d.mask;
        break;
      case Defect::stuck_at_1:
        *d.word |= d.mask;
        break;
      case Defect::stuck_at_0:
        *d.word &= ~d.mask;
        break;
    }
  };
}

std::unique_ptr<dravik::Run> flushing_run() {
  auto run = make_run();
  run->clflush_usable = 1;
  run->clflushopt = cpu_has_clflushopt() ? 1 : 0;
  run->st.regions_in_pass = 3;  // the window number goes into the seeds
  return run;
}

// Output k (0 = first) of the generator seeded with seed.
uint64_t nth_random(uint64_t seed, uint64_t k) {
  RandState rs;
  rand_seed(&rs, seed);
  uint64_t v = 0;
  for (uint64_t j = 0; j <= k; ++j) v = rand_next(&rs);
  return v;
}

bool checks_halves(const std::string& name) {
  return name == "rand-dual" || name.rfind("cmp-", 0) == 0 || name == "seqinc";
}

// Where and with what values a test must report the planted flip.
struct Expect {
  uint64_t index;
  uint64_t expected;
  uint64_t actual;
};

struct Place {
  uint64_t n;       // block length in words
  uint64_t h;       // n / 2
  uint64_t i;       // planted word (lower half; a multiple of 20)
  uint64_t m;       // flipped bit
  uint64_t base;    // address of word 0
  uint64_t seed;    // block seed S
  int32_t pass;
};

// Value of word j of the extended group's halves for operation op.
uint64_t extended_value(int op, uint64_t seed, uint64_t j) {
  uint64_t L = nth_random(seed, 0);
  if (L == 0) L = 1;
  const uint64_t v = nth_random(seed, j + 1);
  switch (op) {
    case 0: return L ^ v;
    case 1: return v - L;
    case 2: return L * v;
    case 3: return v / L;
    case 4: return L | v;
    case 5: return L & v;
    default: return v + j;
  }
}

Expect flipped(uint64_t index, uint64_t e, uint64_t m) { return {index, e, e ^ m}; }

// A flip in the lower half of a two-halves test: reported at the lower word,
// where it is, with the value both halves were given as expected; its intact
// partner in the upper half gets no record.
Expect halves(const Place& p, uint64_t value) { return flipped(p.i, value, p.m); }

struct Row {
  const char* name;
  int at_flush;     // the flush after which the flip is planted
  bool in_upper;    // planted in word h + i instead of i
  Expect (*expect)(const Place&);
};

const Row kRows[] = {
    {"stuck-addr", 1, false, [](const Place& p) { return flipped(p.i, p.base + 8 * p.i, p.m); }},
    {"solid0", 1, false, [](const Place& p) { return flipped(p.i, 0, p.m); }},
    {"solid1", 1, false, [](const Place& p) { return flipped(p.i, kOnes, p.m); }},
    {"checker", 1, false,
     [](const Place& p) {
       return flipped(p.i, p.i % 2 ? 0xAAAAAAAAAAAAAAAAULL : 0x5555555555555555ULL, p.m);
     }},
    {"movinv0", 1, false, [](const Place& p) { return flipped(p.i, 0, p.m); }},
    {"movinv1", 1, false, [](const Place& p) { return flipped(p.i, kOnes, p.m); }},
    {"movinv-rand", 1, false,
     [](const Place& p) { return flipped(p.i, nth_random(p.seed, p.i), p.m); }},
    {"modulo20", 1, false, [](const Place& p) { return flipped(p.i, 0x5555555555555555ULL, p.m); }},
    {"walk", 1, false, [](const Place& p) { return flipped(p.i, uint64_t{1} << (p.i % 64), p.m); }},
    {"movinv8", 1, false, [](const Place& p) { return flipped(p.i, 0x0101010101010101ULL, p.m); }},
    {"blockseq", 1, false, [](const Place& p) { return flipped(p.i, 0, p.m); }},
    {"bitflip", 1, false, [](const Place& p) { return flipped(p.i, p.i % 2 ? ~uint64_t{1} : 1, p.m); }},
    {"bitspread", 1, false,
     [](const Place& p) { return flipped(p.i, p.i % 2 ? ~uint64_t{3} : 3, p.m); }},
    {"rand-dual", 1, false,
     [](const Place& p) { return halves(p, nth_random(p.seed ^ 0xABCD, p.i)); }},
    {"movinv-rot", 1, false,
     [](const Place& p) { return flipped(p.i, uint64_t{1} << (p.i % 64), p.m); }},
    // The flip goes into the copy, after the second flush. The copy then
    // holds once written again while its source reads right: the copy carried
    // a glitch of its read, recorded at the source word.
    {"block-move", 2, true,
     [](const Place& p) {
       const uint64_t seed = static_cast<uint64_t>(static_cast<int64_t>(p.pass)) ^ 0xB10CC0DEULL;
       return flipped(p.i, nth_random(seed, p.i), p.m);
     }},
    {"cmp-xor", 1, false, [](const Place& p) { return halves(p, extended_value(0, p.seed ^ 0xC0FFFF, p.i)); }},
    {"cmp-sub", 1, false, [](const Place& p) { return halves(p, extended_value(1, p.seed ^ 0xC0FFCC, p.i)); }},
    {"cmp-mul", 1, false, [](const Place& p) { return halves(p, extended_value(2, p.seed ^ 0xC0FFDD, p.i)); }},
    {"cmp-div", 1, false, [](const Place& p) { return halves(p, extended_value(3, p.seed ^ 0xC0FFAA, p.i)); }},
    {"cmp-or", 1, false, [](const Place& p) { return halves(p, extended_value(4, p.seed ^ 0xC0FFBB, p.i)); }},
    {"cmp-and", 1, false, [](const Place& p) { return halves(p, extended_value(5, p.seed ^ 0xC0FF88, p.i)); }},
    {"seqinc", 1, false, [](const Place& p) { return halves(p, extended_value(6, p.seed ^ 0xC0FF99, p.i)); }},
    {"retention", 1, false, [](const Place& p) { return flipped(p.i, kOnes, p.m); }},
    // Later verify passes: the second half of checker and bitflip, the
    // descending pass of the moving inversions, the read-only third pass of
    // movinv-rand.
    {"checker", 2, false,
     [](const Place& p) {
       return flipped(p.i, p.i % 2 ? 0x5555555555555555ULL : 0xAAAAAAAAAAAAAAAAULL, p.m);
     }},
    {"bitflip", 2, false, [](const Place& p) { return flipped(p.i, p.i % 2 ? 1 : ~uint64_t{1}, p.m); }},
    {"movinv0", 2, false, [](const Place& p) { return flipped(p.i, kOnes, p.m); }},
    {"movinv8", 2, false, [](const Place& p) { return flipped(p.i, ~0x0101010101010101ULL, p.m); }},
    {"movinv-rand", 2, false,
     [](const Place& p) { return flipped(p.i, ~nth_random(p.seed, p.i), p.m); }},
};

// Block shapes: several chunks with an odd tail; a tiny odd block that is
// only 8-byte aligned; one chunk and a bit, misaligned, with the planted word
// at the very end of the lower half; words the kernels handle one by one
// outside their line-wise body.
struct Shape {
  uint64_t n;
  uint64_t offset_words;
  uint64_t i;
  int bit;
};
const Shape kShapes[] = {
    {3 * kChunk + 13, 0, 264000, 17},
    {1001, 1, 140, 63},
    {kChunk + 77, 3, 131100, 0},
    {1001, 1, 0, 31},                  // the word before the first full line
    {2 * kChunk + 7, 5, 262140, 40},   // a word after the last full line of a chunk
    {2 * kChunk + 7, 3, 262140, 9},    // in the odd line after the last pair of lines of a chunk
};

class Detection : public ::testing::TestWithParam<std::tuple<int, int>> {
 protected:
  const Row& row() const { return kRows[std::get<0>(GetParam())]; }
  const Shape& shape() const { return kShapes[std::get<1>(GetParam())]; }

  // Runs the row's test the way the sequence does (block seed from the run).
  void run_test(dravik::Run& run, const TestBlock& b) {
    const CatalogueEntry* test = find_test(row().name);
    ASSERT_NE(test, nullptr) << row().name;
    run_catalogue_test(run, b, *test, block_test_seed(run, b));
  }
};

TEST_P(Detection, CleanMemoryGivesNoRecord) {
  BlockMemory mem(shape().n, shape().offset_words);
  ASSERT_TRUE(mem.ok());
  auto run = flushing_run();
  run->cfg.retention_s = 1;
  run_test(*run, mem.block(2));
  EXPECT_EQ(run->faults.total.load(), 0);
  EXPECT_EQ(run->faults.used, 0);
  EXPECT_EQ(run->st.address_fault_seen.load(), 0);
}

TEST_P(Detection, FlippedBitIsReportedOnceWithItsValues) {
  const Shape& s = shape();
  BlockMemory mem(s.n, s.offset_words);
  ASSERT_TRUE(mem.ok());
  auto run = flushing_run();
  run->cfg.retention_s = 1;
  const TestBlock b = mem.block(2);
  const Place p{s.n, s.n / 2, s.i, uint64_t{1} << s.bit, reinterpret_cast<uint64_t>(b.base),
                test_seed(run->cfg.seed, run->st.regions_in_pass, b.pass), b.pass};
  const uint64_t planted = row().in_upper ? p.h + p.i : p.i;
  plant(*run, Defect{Defect::flip_once, b.base + planted, p.m, row().at_flush});

  run_test(*run, b);

  const Expect want = row().expect(p);
  ASSERT_EQ(run->faults.used, 1);
  const FaultRecord& r = run->faults.records[0];
  EXPECT_EQ(r.vaddr, p.base + 8 * want.index);
  EXPECT_EQ(r.expected, want.expected);
  EXPECT_EQ(r.actual, want.actual);
  EXPECT_EQ(r.xor_value, p.m);
  EXPECT_EQ(r.bits, 1);
  EXPECT_STREQ(r.test, row().name);
  EXPECT_EQ(r.pass, 2);
  // Only the addressing test raises the addressing suspicion.
  EXPECT_EQ(run->st.address_fault_seen.load(), std::string(row().name) == "stuck-addr" ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryTest, Detection,
    ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kRows))),
                       ::testing::Range(0, static_cast<int>(std::size(kShapes)))),
    [](const ::testing::TestParamInfo<std::tuple<int, int>>& info) {
      std::string name = kRows[std::get<0>(info.param)].name;
      for (char& c : name) {
        if (c == '-') c = '_';
      }
      return name + "_flush" + std::to_string(kRows[std::get<0>(info.param)].at_flush) +
             "_shape" + std::to_string(std::get<1>(info.param));
    });

// A read-path glitch: the planted word is wrong for the verifying read only.
// The mismatch seam puts the good value back after the read found the
// difference and before record_fault re-reads, as when the line has left the
// cache by then and memory holds good data. The record must carry what the
// verifying read loaded, and the re-read must class it transient even with a
// threshold of one sighting. block-move's flip is in its copy, which holds
// once written again: a glitch of the copy's read, recorded at the source.
class FirstRead : public Detection {};

TEST_P(FirstRead, AGlitchOnlyTheVerifyingReadSawIsOneTransientWithTheGlitchedValue) {
  const Shape& s = shape();
  BlockMemory mem(s.n, s.offset_words);
  ASSERT_TRUE(mem.ok());
  auto run = flushing_run();
  run->cfg.retention_s = 1;
  run->cfg.hard_threshold = 1;
  const TestBlock b = mem.block(2);
  const Place p{s.n, s.n / 2, s.i, uint64_t{1} << s.bit, reinterpret_cast<uint64_t>(b.base),
                test_seed(run->cfg.seed, run->st.regions_in_pass, b.pass), b.pass};
  const Expect want = row().expect(p);
  uint64_t* word = b.base + (row().in_upper ? p.h + p.i : p.i);
  plant(*run, Defect{Defect::flip_once, word, p.m, row().at_flush});
  int seen = 0;
  uint64_t seen_index = ~uint64_t{0};
  run->on_mismatch = [&](const TestBlock&, uint64_t index) {
    ++seen;
    seen_index = index;
    *word = want.expected;
  };

  run_test(*run, b);

  EXPECT_EQ(seen, 1);
  EXPECT_EQ(seen_index, want.index);
  ASSERT_EQ(run->faults.used, 1);
  const FaultRecord& r = run->faults.records[0];
  EXPECT_EQ(r.vaddr, p.base + 8 * want.index);
  EXPECT_EQ(r.expected, want.expected);
  EXPECT_EQ(r.actual, want.actual);
  EXPECT_EQ(r.xor_value, p.m);
  EXPECT_EQ(r.cls, FaultClass::transient);
  EXPECT_EQ(r.count, 1);
  EXPECT_STREQ(r.test, row().name);
  EXPECT_EQ(run->faults.transient, 1);
  EXPECT_EQ(run->faults.hard, 0);
  EXPECT_EQ(run->faults.total.load(), 1);
}

// The 24 tests in catalogue order (the first rows of the table), over the
// shapes that put the word inside a line, before the first line and after
// the last line of a chunk.
INSTANTIATE_TEST_SUITE_P(
    EveryTest, FirstRead,
    ::testing::Combine(::testing::Range(0, 24), ::testing::Values(1, 2, 3, 4)),
    [](const ::testing::TestParamInfo<std::tuple<int, int>>& info) {
      std::string name = kRows[std::get<0>(info.param)].name;
      for (char& c : name) {
        if (c == '-') c = '_';
      }
      return name + "_shape" + std::to_string(std::get<1>(info.param));
    });

// The first and last words of the checkpoint spans, which the kernels check
// outside their line-wise bodies, over a block whose spans are whole lines
// and one whose spans and base are not: a flip there is recorded where it
// is. One row per kernel: constant, periodic and random verifies, the
// ascending and descending read-modify-writes, the two-halves check with the
// stream types of the extended group, and the copy check.
TEST(DetectionRules, AFlipAtEitherEndOfASpanIsRecordedWhereItIs) {
  const char* kernels[][2] = {{"solid0", "1"},     {"walk", "1"},        {"movinv-rand", "1"},
                              {"movinv-rand", "2"}, {"movinv0", "1"},     {"movinv0", "2"},
                              {"rand-dual", "1"},  {"cmp-mul", "1"},     {"seqinc", "1"},
                              {"block-move", "2"}, {"stuck-addr", "1"}};
  const Shape shapes[] = {{2 * kChunk + 48, 0, 0, 5}, {2 * kChunk + 38, 3, 0, 62}};
  for (const auto& k : kernels) {
    const Row* row = nullptr;
    for (const Row& r : kRows) {
      if (std::string(r.name) == k[0] && r.at_flush == std::stoi(k[1])) row = &r;
    }
    ASSERT_NE(row, nullptr) << k[0];
    const bool halves = row->in_upper || checks_halves(row->name);
    for (const Shape& s : shapes) {
      const uint64_t end = halves ? s.n / 2 : s.n;  // the spans cover [0, end)
      for (const uint64_t i : {uint64_t{0}, uint64_t{1}, kChunk - 1, kChunk, kChunk + 1, end - 1}) {
        SCOPED_TRACE(std::string(row->name) + " flush " + k[1] + " n " + std::to_string(s.n) +
                     " word " + std::to_string(i));
        BlockMemory mem(s.n, s.offset_words);
        ASSERT_TRUE(mem.ok());
        auto run = flushing_run();
        run->cfg.retention_s = 1;
        const TestBlock b = mem.block(2);
        const Place p{s.n, s.n / 2, i, uint64_t{1} << s.bit, reinterpret_cast<uint64_t>(b.base),
                      test_seed(run->cfg.seed, run->st.regions_in_pass, b.pass), b.pass};
        plant(*run, Defect{Defect::flip_once, b.base + (row->in_upper ? p.h + i : i), p.m,
                           row->at_flush});
        run_catalogue_test(*run, b, *find_test(row->name), block_test_seed(*run, b));
        const Expect want = row->expect(p);
        ASSERT_EQ(run->faults.used, 1);
        EXPECT_EQ(run->faults.records[0].vaddr, p.base + 8 * want.index);
        EXPECT_EQ(run->faults.records[0].expected, want.expected);
        EXPECT_EQ(run->faults.records[0].actual, want.actual);
      }
    }
  }
}

// When both words of a pair differ from the value they were given, each is
// recorded with its own actual value.
TEST(DetectionRules, BothHalvesWrongAreTwoRecords) {
  BlockMemory mem(kChunk + 77, 3);
  ASSERT_TRUE(mem.ok());
  auto run = flushing_run();
  const TestBlock b = mem.block(2);
  const uint64_t h = b.words / 2, i = 4321;
  run->after_flush = [&](const TestBlock&) {
    b.base[i] ^= uint64_t{1} << 4;
    b.base[h + i] ^= uint64_t{1} << 50;
  };
  run_catalogue_test(*run, b, *find_test("rand-dual"), block_test_seed(*run, b));
  const uint64_t e = nth_random(block_test_seed(*run, b) ^ 0xABCD, i);
  ASSERT_EQ(run->faults.used, 2);
  EXPECT_EQ(run->faults.records[0].vaddr, reinterpret_cast<uint64_t>(b.base + i));
  EXPECT_EQ(run->faults.records[0].actual, e ^ (uint64_t{1} << 4));
  EXPECT_EQ(run->faults.records[1].vaddr, reinterpret_cast<uint64_t>(b.base + h + i));
  EXPECT_EQ(run->faults.records[1].actual, e ^ (uint64_t{1} << 50));
  EXPECT_EQ(run->faults.records[1].expected, e);
}

TEST(DetectionRules, TheCatalogueHasTheTwentyFourTestsInOrder) {
  const char* names[] = {"stuck-addr", "solid0",   "solid1",     "checker",    "movinv0",
                         "movinv1",    "movinv-rand", "modulo20", "walk",       "movinv8",
                         "blockseq",   "bitflip",  "bitspread",  "rand-dual",  "movinv-rot",
                         "block-move", "cmp-xor",  "cmp-sub",    "cmp-mul",    "cmp-div",
                         "cmp-or",     "cmp-and",  "seqinc",     "retention"};
  ASSERT_EQ(catalogue().size(), std::size(names));
  for (size_t k = 0; k < std::size(names); ++k) {
    EXPECT_STREQ(catalogue()[k].name, names[k]);
    EXPECT_STREQ(kRows[k].name, names[k]);  // every test has its detection row
  }
}

TEST(DetectionRules, Modulo20NeverReportsABackgroundWord) {
  BlockMemory mem(3 * kChunk + 13, 0);
  ASSERT_TRUE(mem.ok());
  auto run = flushing_run();
  const TestBlock b = mem.block(1);
  // Word 264001 is background while the target sits at offset 0; the next
  // offset rewrites it before it is ever a target.
  plant(*run, Defect{Defect::flip_once, b.base + 264001, uint64_t{1} << 9, 1});
  run_catalogue_test(*run, b, *find_test("modulo20"), block_test_seed(*run, b));
  EXPECT_EQ(run->faults.total.load(), 0);
}

// A bit stuck at 1 in the top bit (never set in a user-space address) reads
// wrong for every test whose pattern has that bit clear.
TEST(DetectionRules, OneStuckWordSeenByManyTestsIsOneRecordHardAtTheSecondSighting) {
  BlockMemory mem(kChunk + 5, 0);
  ASSERT_TRUE(mem.ok());
  auto run = flushing_run();
  const TestBlock b = mem.block(1);
  const uint64_t at = 1000;
  plant(*run, Defect{Defect::stuck_at_1, b.base + at, uint64_t{1} << 63});
  const uint64_t seed = block_test_seed(*run, b);

  run_catalogue_test(*run, b, *find_test("solid0"), seed);
  ASSERT_EQ(run->faults.used, 1);
  EXPECT_EQ(run->faults.records[0].cls, FaultClass::transient);
  EXPECT_EQ(run->faults.transient, 1);
  EXPECT_EQ(run->faults.hard, 0);

  run_catalogue_test(*run, b, *find_test("movinv0"), seed);
  run_catalogue_test(*run, b, *find_test("stuck-addr"), seed);
  ASSERT_EQ(run->faults.used, 1);
  const FaultRecord& r = run->faults.records[0];
  EXPECT_EQ(r.vaddr, reinterpret_cast<uint64_t>(b.base + at));
  EXPECT_STREQ(r.test, "solid0");
  EXPECT_EQ(r.expected, 0u);
  EXPECT_GE(r.count, 3);
  EXPECT_EQ(r.cls, FaultClass::hard);
  EXPECT_EQ(run->faults.hard, 1);
  EXPECT_EQ(run->faults.transient, 0);
  // The latest sighting (stuck-addr) decides actual and xor.
  EXPECT_EQ(r.actual, reinterpret_cast<uint64_t>(b.base + at) | (uint64_t{1} << 63));
  EXPECT_EQ(r.xor_value, uint64_t{1} << 63);
  EXPECT_EQ(run->st.address_fault_seen.load(), 1);
}

TEST(DetectionRules, WithThresholdOneAPersistentDefectIsHardAtOnce) {
  BlockMemory mem(4096, 0);
  ASSERT_TRUE(mem.ok());
  auto run = flushing_run();
  run->cfg.hard_threshold = 1;
  const TestBlock b = mem.block(1);
  plant(*run, Defect{Defect::stuck_at_0, b.base + 77, uint64_t{1} << 5});
  run_catalogue_test(*run, b, *find_test("solid1"), block_test_seed(*run, b));
  ASSERT_EQ(run->faults.used, 1);
  EXPECT_EQ(run->faults.records[0].cls, FaultClass::hard);
  EXPECT_EQ(run->faults.records[0].count, 1);
  EXPECT_EQ(run->faults.hard, 1);
  EXPECT_EQ(run->faults.transient, 0);
}

// The data movinv-rand leaves after its first pass, for a run with a seed.
std::vector<uint64_t> movinv_rand_data(uint64_t base_seed, const BlockMemory& mem) {
  auto run = flushing_run();
  run->cfg.seed = base_seed;
  const TestBlock b = mem.block(4);
  std::vector<uint64_t> seen;
  run->after_flush = [&seen](const TestBlock& blk) {
    if (seen.empty()) seen.assign(blk.base, blk.base + blk.words);
  };
  run_catalogue_test(*run, b, *find_test("movinv-rand"), block_test_seed(*run, b));
  return seen;
}

TEST(DetectionRules, TheSameSeedWritesTheSameRandomData) {
  BlockMemory mem(2 * kChunk + 3, 1);
  ASSERT_TRUE(mem.ok());
  const std::vector<uint64_t> first = movinv_rand_data(0xFEEDFACE, mem);
  std::memset(mem.block(0).base, 0, 8 * mem.block(0).words);
  const std::vector<uint64_t> second = movinv_rand_data(0xFEEDFACE, mem);
  const std::vector<uint64_t> other = movinv_rand_data(0xFEEDFACF, mem);
  ASSERT_EQ(first.size(), 2 * kChunk + 3);
  EXPECT_EQ(first, second);
  EXPECT_NE(first, other);
  // Word i is output i of the stream of the block seed.
  const uint64_t seed = test_seed(0xFEEDFACE, 3, 4);
  EXPECT_EQ(first[0], nth_random(seed, 0));
  EXPECT_EQ(first[kChunk + 1], nth_random(seed, kChunk + 1));
}

}  // namespace
}  // namespace dravik
