// The order in which each tier runs the catalogue, what a block too small
// for a test does, where a stop takes effect, and the sequence on two worker
// threads at once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/run/flags.h"
#include "engine/catalogue/catalogue.h"
#include "core/text.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using testing::make_run;
using Names = std::vector<std::string>;

constexpr uint64_t kChunk = uint64_t{1} << 18;

// Counts the events that reach the sink and keeps the name of every test
// announced (the phase events).
struct PhaseSink {
  explicit PhaseSink(const dravik::Run& run) : run(run) {}
  const dravik::Run& run;
  Names names;
  std::atomic<int> events{0};
  EventSink sink() {
    return EventSink{this, [](void* owner, EventKind kind, const void*) {
                       auto& self = *static_cast<PhaseSink*>(owner);
                       self.events.fetch_add(1);
                       if (kind == EventKind::phase) {
                         self.names.emplace_back(self.run.st.algo_name.load());
                       }
                     }};
  }
};

std::unique_ptr<dravik::Run> flushing_run(PatternTier tier = PatternTier::standard, int32_t extended = 0) {
  auto run = make_run();
  run->clflush_usable = 1;
  run->cfg.tier = tier;
  run->cfg.extended_tests = extended;
  return run;
}

Names repeat(const char* name, int times) { return Names(times, name); }

Names concat(std::initializer_list<Names> parts) {
  Names all;
  for (const Names& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// movinv8 and retention announce themselves once per round.
const Names kStandard = concat({{"stuck-addr", "solid0", "solid1", "checker", "movinv0", "movinv1",
                                 "movinv-rand", "modulo20", "walk"},
                                repeat("movinv8", 8),
                                {"blockseq", "bitflip", "bitspread", "rand-dual"}});
const Names kExtended = {"cmp-xor", "cmp-sub", "cmp-mul", "cmp-div", "cmp-or", "cmp-and", "seqinc"};
const Names kWithoutHalves = concat({{"stuck-addr", "solid0", "solid1", "checker", "movinv0",
                                      "movinv1", "movinv-rand", "modulo20", "walk"},
                                     repeat("movinv8", 8),
                                     {"blockseq", "bitflip", "bitspread", "movinv-rot"}});

class Sequence : public ::testing::Test {
 protected:
  void TearDown() override { reset_process_flags(); }

  // Runs the configured sequence over the block; returns the announcements.
  Names run_sequence(dravik::Run& run, const TestBlock& b) {
    PhaseSink sink(run);
    run.sink = sink.sink();
    run_test_sequence(run, b);
    run.sink = heartbeat_sink(run);
    return sink.names;
  }
};

struct TierCase {
  const char* label;
  PatternTier tier;
  int32_t extended;
  int32_t retention_s;
  Names expected;
};

TEST_F(Sequence, EachTierRunsItsTestsInOrder) {
  const TierCase cases[] = {
      {"quick ignores extended and retention", PatternTier::quick, 1, 5,
       {"stuck-addr", "checker", "movinv-rand"}},
      {"standard", PatternTier::standard, 0, 0, kStandard},
      {"standard extended retention", PatternTier::standard, 1, 1,
       concat({kStandard, kExtended, repeat("retention", 2)})},
      {"thorough extended", PatternTier::thorough, 1, 0,
       concat({kStandard, {"movinv-rot", "block-move"}, kExtended})},
  };
  for (const TierCase& c : cases) {
    SCOPED_TRACE(c.label);
    auto run = flushing_run(c.tier, c.extended);
    run->cfg.retention_s = c.retention_s;
    std::vector<uint64_t> words(5003);
    EXPECT_EQ(run_sequence(*run, TestBlock{words.data(), words.size(), 1}), c.expected);
    EXPECT_EQ(run->faults.total.load(), 0);
  }
}

// A null base: any touch of the block would crash the test.
TEST_F(Sequence, EmptyBlockOnlyAnnouncesAndFlushes) {
  auto run = flushing_run(PatternTier::thorough, 1);
  int flushes = 0;
  run->after_flush = [&flushes](const TestBlock&) { ++flushes; };
  EXPECT_EQ(run_sequence(*run, TestBlock{nullptr, 0, 1}), kWithoutHalves);
  EXPECT_GT(flushes, 0);
  EXPECT_EQ(run->faults.total.load(), 0);
  EXPECT_EQ(run->st.address_fault_seen.load(), 0);
}

TEST_F(Sequence, OneWordSkipsTheHalvesTestsAndStillTestsTheWord) {
  auto run = flushing_run(PatternTier::thorough, 1);
  uint64_t word = 0;
  run->after_flush = [&word](const TestBlock&) { word |= uint64_t{1} << 63; };  // stuck at 1
  EXPECT_EQ(run_sequence(*run, TestBlock{&word, 1, 1}), kWithoutHalves);
  ASSERT_EQ(run->faults.used, 1);
  EXPECT_STREQ(run->faults.records[0].test, "stuck-addr");
  EXPECT_EQ(run->faults.records[0].vaddr, reinterpret_cast<uint64_t>(&word));
  EXPECT_EQ(run->st.address_fault_seen.load(), 1);
}

TEST_F(Sequence, StopEndsTheSequenceAtTheNextCheckpoint) {
  auto run = flushing_run();
  std::vector<uint64_t> words(3 * kChunk + 5);
  int flushes = 0;
  // After solid1's write pass: its verify stops at index 0, before reading.
  run->after_flush = [&](const TestBlock& b) {
    if (++flushes == 3) {
      b.base[7] ^= 1;
      stop_requested.store(1);
    }
  };
  EXPECT_EQ(run_sequence(*run, TestBlock{words.data(), words.size(), 1}),
            (Names{"stuck-addr", "solid0", "solid1"}));
  EXPECT_EQ(flushes, 3);
  EXPECT_EQ(run->faults.total.load(), 0);
}

TEST_F(Sequence, AStopInsideAPassIsSeenAtTheNextCheckpoint) {
  auto run = make_run();
  int checkpoints = 0;
  int chunks = 0;
  const bool completed = walk_checkpoints(
      *run, 3 * kChunk + 5, [&](uint64_t) { ++checkpoints; return 0.0; },
      [&](uint64_t, uint64_t) {
        if (++chunks == 2) stop_requested.store(1);
      });
  EXPECT_FALSE(completed);
  EXPECT_EQ(chunks, 2);
  EXPECT_EQ(checkpoints, 2);
}

// Which chunks a walk visits and where its checkpoints fall.
struct Walk {
  std::vector<uint64_t> checkpoints;
  std::vector<std::pair<uint64_t, uint64_t>> spans;
};

TEST_F(Sequence, CheckpointsFallOnEveryMultipleOfTheChunkIncludingZero) {
  using Spans = std::vector<std::pair<uint64_t, uint64_t>>;
  struct Case {
    uint64_t n;
    std::vector<uint64_t> up_checkpoints;
    Spans up;
    std::vector<uint64_t> down_checkpoints;
    Spans down;
  };
  const uint64_t c = kChunk;
  const Case cases[] = {
      {0, {}, {}, {}, {}},
      {1, {0}, {{0, 1}}, {0}, {{1, 1}, {0, 1}}},
      {c, {0}, {{0, c}}, {0}, {{1, c}, {0, 1}}},
      {c + 1, {0, c}, {{0, c}, {c, c + 1}}, {c, 0}, {{c + 1, c + 1}, {1, c + 1}, {0, 1}}},
      {2 * c + 9,
       {0, c, 2 * c},
       {{0, c}, {c, 2 * c}, {2 * c, 2 * c + 9}},
       {2 * c, c, 0},
       {{2 * c + 1, 2 * c + 9}, {c + 1, 2 * c + 1}, {1, c + 1}, {0, 1}}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.n);
    auto run = make_run();
    Walk up, down;
    EXPECT_TRUE(walk_checkpoints(
        *run, k.n, [&](uint64_t i) { up.checkpoints.push_back(i); return 0.0; },
        [&](uint64_t lo, uint64_t hi) { up.spans.emplace_back(lo, hi); }));
    EXPECT_TRUE(walk_checkpoints_down(
        *run, k.n, [&](uint64_t i) { down.checkpoints.push_back(i); return 0.0; },
        [&](uint64_t lo, uint64_t hi) { down.spans.emplace_back(lo, hi); }));
    EXPECT_EQ(up.checkpoints, k.up_checkpoints);
    EXPECT_EQ(up.spans, k.up);
    EXPECT_EQ(down.checkpoints, k.down_checkpoints);
    EXPECT_EQ(down.spans, k.down);
  }
}

TEST_F(Sequence, AStopSeenAtACheckpointSkipsTheRestOfThePass) {
  auto run = flushing_run();
  std::vector<uint64_t> words(3 * kChunk + 5);
  const TestBlock b{words.data(), words.size(), 1};
  int flushes = 0;
  // The flip would be read by pass 2; the stop comes first.
  run->after_flush = [&](const TestBlock& blk) {
    ++flushes;
    blk.base[2 * kChunk + 1] ^= 4;
    stop_requested.store(1);
  };
  run_catalogue_test(*run, b, *find_test("movinv0"), block_test_seed(*run, b));
  EXPECT_EQ(flushes, 1);
  EXPECT_EQ(run->faults.total.load(), 0);
}

// The block is still verified after a stop cut the retention wait short, and
// the wait ends within one sleep (half a second) of the stop, not at the end
// of its minute; the bound leaves room for a busy box. The stop comes once the
// wait has reported its first progress.
TEST(RetentionThreads, StopDuringTheWaitEndsItAndTheBlockIsStillVerified) {
  auto run = flushing_run();
  run->cfg.retention_s = 60;
  std::vector<uint64_t> words(kChunk + 3);
  const TestBlock b{words.data(), words.size(), 1};
  std::atomic<double> stop_at{0.0};
  std::thread stopper;
  int flushes = 0;
  run->after_flush = [&](const TestBlock& blk) {
    if (++flushes != 1) return;
    blk.base[99] ^= uint64_t{1} << 20;
    run->st.algo_pct.store(-1);
    stopper = std::thread([&stop_at, &run] {
      const double deadline = now_seconds() + 60.0;
      while (run->st.algo_pct.load() < 0 && now_seconds() < deadline) usleep(1000);
      stop_at.store(now_seconds());
      stop_requested.store(1);
    });
  };
  PhaseSink sink(*run);
  run->sink = sink.sink();
  run_catalogue_test(*run, b, *find_test("retention"), 0);
  const double ended = now_seconds();
  stopper.join();
  reset_process_flags();
  EXPECT_LT(ended - stop_at.load(), 2.0);
  EXPECT_EQ(sink.names, Names{"retention"});  // the second value never starts
  ASSERT_EQ(run->faults.used, 1);
  EXPECT_STREQ(run->faults.records[0].test, "retention");
  EXPECT_EQ(run->faults.records[0].expected, ~uint64_t{0});
  EXPECT_EQ(run->faults.records[0].vaddr, reinterpret_cast<uint64_t>(&words[99]));
}

// Two workers run the standard sequence on their own blocks at the same
// time; a stuck bit in one block is recorded, and no event reaches the sink.
TEST(CatalogueThreads, TwoWorkersRunTheSequenceConcurrently) {
  auto run = flushing_run();
  PhaseSink sink(*run);
  run->sink = sink.sink();
  std::vector<uint64_t> good(kChunk + 11), bad(kChunk + 11);
  uint64_t* const stuck = &bad[kChunk + 4];
  run->after_flush = [stuck](const TestBlock& b) {
    if (b.base <= stuck && stuck < b.base + b.words) *stuck |= uint64_t{1} << 62;
  };
  std::atomic<int> finished{0};
  auto worker = [&](std::vector<uint64_t>* words) {
    in_worker = 1;
    run_test_sequence(*run, TestBlock{words->data(), words->size(), 1});
    finished.fetch_add(1);
  };
  std::thread a(worker, &good);
  std::thread c(worker, &bad);
  a.join();
  c.join();
  EXPECT_EQ(finished.load(), 2);
  EXPECT_EQ(sink.events.load(), 0);
  ASSERT_EQ(run->faults.used, 1);
  EXPECT_EQ(run->faults.records[0].vaddr, reinterpret_cast<uint64_t>(stuck));
  EXPECT_GT(run->faults.records[0].count, 1);
  EXPECT_EQ(run->faults.records[0].cls, FaultClass::hard);
}

}  // namespace
}  // namespace dravik
