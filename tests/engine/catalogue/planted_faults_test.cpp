// The detection promise of each tier: faults of seven models planted into one
// block (see support/fault_planter.h), each tier run over it, and the
// instances each one catches counted against a March C- control run over the
// same block. A fault counts as caught when a record falls on its cell (on
// either page of a page mapped twice); a record anywhere else is a record at
// a healthy word and fails the test. The table asserted here is the one the
// README shows. block-move's copy check gets a table of its own: where each
// fault of a copied word is recorded, and as what.
//
// The planter decodes every instruction that touches a planted page, so each
// test re-runs itself with glibc's AVX-512 string functions turned off.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/catalogue/catalogue.h"
#include "support/fault_planter.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using testing::FaultModel;
using testing::FaultPlanter;
using testing::PlantedFault;

constexpr uint64_t kWords = uint64_t{1} << 17;  // 1 MiB
constexpr uint64_t kPage = 512;
constexpr uint64_t kAt = 40 * kPage;  // the trapped page, in the lower half
constexpr int kModels = 7;
const char* const kModelNames[kModels] = {"stuck-at",    "transition", "inversion coupling",
                                          "idempotent coupling", "page mapped twice",
                                          "decay after a hold", "first-read glitch"};
constexpr int kBits[8] = {0, 7, 13, 31, 32, 47, 58, 63};
// Aggressor and victim bits: the same position in their bytes, or not.
constexpr int kPairs[4][2] = {{3, 3}, {3, 43}, {5, 2}, {60, 17}};

// Coupling instance k takes word k % 8 of a pair of lines, the aggressor in
// one and the victim in the other; the single cells start at line 16.
std::vector<PlantedFault> planted() {
  std::vector<PlantedFault> f;
  int k = 0;
  auto couple = [&](FaultModel m, bool up, bool to_one, bool victim_above, const int* pair) {
    const uint64_t line = kAt + 16 * static_cast<uint64_t>(k / 8) + k % 8;
    const uint64_t a = victim_above ? line : line + 8, v = victim_above ? line + 8 : line;
    f.push_back({m, v, pair[1], up, to_one, a, pair[0]});
    ++k;
  };
  for (const bool above : {true, false}) {
    for (const bool up : {true, false}) {
      for (const auto& pair : kPairs) {
        couple(FaultModel::inversion_coupling, up, false, above, pair);
        for (const bool to_one : {false, true}) {
          couple(FaultModel::idempotent_coupling, up, to_one, above, pair);
        }
      }
    }
  }
  uint64_t w = kAt + 16 * 8;
  for (const FaultModel m : {FaultModel::stuck_at, FaultModel::transition, FaultModel::decay,
                             FaultModel::first_read_glitch}) {
    for (int j = 0; j < (m == FaultModel::stuck_at || m == FaultModel::transition ? 16 : 8); ++j) {
      f.push_back({m, w++, kBits[j % 8], j < 8});
    }
  }
  f.push_back({FaultModel::aliased_page, 60 * kPage, 0, false, false, 50 * kPage});
  f.push_back({FaultModel::aliased_page, 70 * kPage, 0, false, false, 90 * kPage});
  return f;
}

// March C- over the block, word by word: the indices whose read was wrong.
std::vector<uint64_t> march_c_minus(uint64_t* w, uint64_t n) {
  std::vector<uint64_t> bad;
  const uint64_t z = 0, o = ~uint64_t{0};
  for (uint64_t i = 0; i < n; ++i) w[i] = z;
  auto up = [&](uint64_t r, uint64_t v) {
    for (uint64_t i = 0; i < n; ++i) {
      if (w[i] != r) bad.push_back(i);
      w[i] = v;
    }
  };
  auto down = [&](uint64_t r, uint64_t v) {
    for (uint64_t i = n; i-- > 0;) {
      if (w[i] != r) bad.push_back(i);
      w[i] = v;
    }
  };
  up(z, o), up(o, z), down(z, o), down(o, z), up(z, z);
  return bad;
}

struct Column {
  const char* name;
  PatternTier tier;
  bool extended;
  int32_t retention_s;
};
const Column kColumns[] = {{"quick", PatternTier::quick, false, 0},
                           {"standard", PatternTier::standard, false, 0},
                           {"thorough --extended-tests --retention", PatternTier::thorough, true, 1}};
constexpr int kColumnCount = static_cast<int>(std::size(kColumns));

// Instances caught out of those planted, per model: March C-, then the columns.
const int kPlanted[kModels] = {16, 16, 16, 32, 2, 8, 8};
const int kCaught[kModels][1 + kColumnCount] = {
    {16, 16, 16, 16}, {16, 16, 16, 16}, {16, 9, 16, 16}, {32, 14, 32, 32},
    {2, 2, 2, 2},     {0, 0, 0, 8},     {8, 8, 8, 8},
};

bool in_page_of(uint64_t i, uint64_t word) { return i / kPage == word / kPage; }

// Counts the caught instances per model from the words with a record; adds
// to `healthy` every word with a record that is no planted cell.
void tally(const std::vector<PlantedFault>& faults, const std::vector<uint64_t>& hit, int* caught,
           std::vector<uint64_t>& healthy) {
  for (const PlantedFault& f : faults) {
    bool seen = false;
    for (const uint64_t i : hit) {
      seen = seen || (f.model == FaultModel::aliased_page
                          ? in_page_of(i, f.word) || in_page_of(i, f.aggressor)
                          : i == f.word);
    }
    if (f.model != FaultModel::none) caught[static_cast<int>(f.model) - 1] += seen ? 1 : 0;
  }
  for (const uint64_t i : hit) {
    bool planted_cell = false;
    for (const PlantedFault& f : faults) {
      planted_cell = planted_cell ||
                     (f.model == FaultModel::aliased_page
                          ? in_page_of(i, f.word) || in_page_of(i, f.aggressor)
                          : (f.model != FaultModel::none && i == f.word));
    }
    if (!planted_cell) healthy.push_back(i);
  }
}

// The words the run's records fall on.
std::vector<uint64_t> recorded_words(const Run& run, const TestBlock& b) {
  std::vector<uint64_t> words;
  for (int32_t k = 0; k < run.faults.used; ++k) {
    words.push_back((run.faults.records[k].vaddr - reinterpret_cast<uint64_t>(b.base)) / 8);
  }
  return words;
}

std::unique_ptr<Run> tier_run(const Column& c) {
  auto run = testing::make_run();
  run->cfg.tier = c.tier;
  run->cfg.extended_tests = c.extended;
  run->cfg.retention_s = c.retention_s;
  run->cfg.use_phys = false;
  return run;
}

constexpr const char* kTunables =
    "glibc.cpu.hwcaps=-AVX512F,-AVX512VL,-AVX512BW,-AVX512DQ,-AVX512CD,-ERMS,-FSRM";

// Why the planter cannot run here, or nullptr.
const char* planter_unusable() {
  if (!FaultPlanter::supported()) {
    return "the fault planter single-steps with the x86-64 trap flag: not on this processor";
  }
  if (testing::sanitized_build()) {
    return "the planter single-steps x86-64 code outside the sanitizers";
  }
  return nullptr;
}

// True in the child that runs the current test under kTunables. In the
// parent, runs that child and checks that it passed.
bool in_tuned_child() {
  if (getenv("DRAVIK_PLANTED") != nullptr) return true;
  const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
  setenv("GLIBC_TUNABLES", kTunables, 1);
  setenv("DRAVIK_PLANTED", "1", 1);
  testing::ProcOptions slow;
  slow.timeout_s = 540;  // about 20 s on a quiet machine; a busy one is no failure
  const testing::ProcResult r = testing::run_process(
      {std::filesystem::read_symlink("/proc/self/exe").string(),
       std::string("--gtest_filter=") + t->test_suite_name() + "." + t->name()},
      slow);
  unsetenv("GLIBC_TUNABLES");
  unsetenv("DRAVIK_PLANTED");
  printf("%s", r.out.c_str());
  EXPECT_EQ(r.exit_code, 0) << "signal " << r.term_signal << "\n" << r.err;
  return false;
}

TEST(PlantedFaults, EachTierCatchesWhatItsTablePromisesAndNothingElse) {
  if (const char* why = planter_unusable()) GTEST_SKIP() << why;
  if (!in_tuned_child()) return;
  const std::vector<PlantedFault> faults = planted();
  int caught[kModels][1 + kColumnCount] = {};
  std::vector<uint64_t> healthy;
  // Decay takes 0.9 s without a write: more than any test here leaves between
  // writing a word and reading it, less than the retention hold of 1 s.
  FaultPlanter planter(kWords, faults, 0.9);
  ASSERT_TRUE(planter.ok());
  const TestBlock b = planter.block(1);
  int col[kModels] = {};
  planter.arm();
  const std::vector<uint64_t> march = march_c_minus(b.base, b.words);
  planter.disarm();
  tally(faults, march, col, healthy);
  for (int m = 0; m < kModels; ++m) caught[m][0] = col[m];
  for (int c = 0; c < kColumnCount; ++c) {
    auto run = tier_run(kColumns[c]);
    planter.arm();
    run_test_sequence(*run, b);
    planter.disarm();
    int n[kModels] = {};
    tally(faults, recorded_words(*run, b), n, healthy);
    for (int m = 0; m < kModels; ++m) caught[m][c + 1] = n[m];
  }
  EXPECT_EQ(planter.undecodable(), 0);
  EXPECT_TRUE(healthy.empty()) << healthy.size() << " records at healthy words, first at word "
                               << healthy.front();
  printf("| fault model | planted | March C- | quick | standard | %s |\n|---|---|---|---|---|---|\n",
         kColumns[2].name);
  for (int m = 0; m < kModels; ++m) {
    printf("| %s | %d | %d | %d | %d | %d |\n", kModelNames[m], kPlanted[m], caught[m][0],
           caught[m][1], caught[m][2], caught[m][3]);
    for (int c = 0; c <= kColumnCount; ++c) {
      EXPECT_EQ(caught[m][c], kCaught[m][c]) << kModelNames[m] << ", column " << c;
    }
  }
  printf("steps: %lld\n", static_cast<long long>(planter.steps()));

  // Clean memory under the same stepping: the quick tier, the two-halves
  // check and the copy check make no record.
  FaultPlanter clean(kWords, {{FaultModel::none, kAt + 5}});
  ASSERT_TRUE(clean.ok());
  auto run = tier_run(kColumns[0]);
  const TestBlock cb = clean.block(1);
  clean.arm();
  run_test_sequence(*run, cb);
  for (const char* name : {"rand-dual", "seqinc", "block-move"}) {
    run_catalogue_test(*run, cb, *find_test(name), block_test_seed(*run, cb));
  }
  clean.disarm();
  EXPECT_EQ(run->faults.total.load(), 0);
  EXPECT_GT(clean.steps(), 0);
}

// block-move blames the word that is wrong, and only it: a glitch of one
// verifying read of the destination (memory holds the copy: transient, at
// the destination, as for a destination cell whose first read after every
// write glitches), a glitch of the copy's read of its source (the copy holds
// once written again: transient, at the source), a stuck destination (written
// again, it still does not hold: hard) and a stuck source (its value carried
// into the copy: hard, at the source). Each record carries the flip the
// verifying read saw.
TEST(PlantedFaults, BlockMoveRecordsEachFaultOfACopyAtItsWordAsWhatItIs) {
  if (const char* why = planter_unusable()) GTEST_SKIP() << why;
  if (!in_tuned_child()) return;
  constexpr uint64_t h = kWords / 2;
  constexpr int kBit = 9;
  struct Row {
    const char* what;
    PlantedFault fault;
    FaultClass cls;
  };
  const Row rows[] = {
      {"glitch of one verifying read", {FaultModel::single_read_glitch, h + kAt + 3, kBit},
       FaultClass::transient},
      {"glitch of the copy's read", {FaultModel::single_read_glitch, kAt + 3, kBit},
       FaultClass::transient},
      {"stuck destination", {FaultModel::stuck_at, h + kAt + 2, kBit, true}, FaultClass::hard},
      {"stuck source", {FaultModel::stuck_at, kAt + 1, kBit, true}, FaultClass::hard},
      {"destination glitching after every write",
       {FaultModel::first_read_glitch, h + kAt + 3, kBit}, FaultClass::transient},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FaultPlanter planter(kWords, {row.fault});
    ASSERT_TRUE(planter.ok());
    auto run = testing::make_run();
    run->cfg.use_phys = false;
    run->cfg.hard_threshold = 1;
    const TestBlock b = planter.block(1);
    planter.arm();
    run_catalogue_test(*run, b, *find_test("block-move"), block_test_seed(*run, b));
    planter.disarm();
    EXPECT_EQ(planter.undecodable(), 0);
    ASSERT_EQ(recorded_words(*run, b), std::vector<uint64_t>{row.fault.word});
    EXPECT_EQ(run->faults.records[0].cls, row.cls);
    EXPECT_EQ(run->faults.records[0].xor_value, uint64_t{1} << kBit);
  }
}

}  // namespace
}  // namespace dravik
