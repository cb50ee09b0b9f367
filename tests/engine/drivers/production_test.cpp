// The single-sweep scheduler: regions sized from fresh readings, passes
// counted, memory at the reserve handled without spinning, aborts recorded.
#include <gtest/gtest.h>

#include <atomic>

#include "core/run/flags.h"
#include "engine/drivers/map_paint.h"
#include "engine/drivers/production.h"
#include "core/text.h"
#include "support/run_setup.h"
#include "support/meminfo_fixture.h"
#include "support/recording_sink.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using testing::MeminfoFixture;
using testing::RecordingSink;

constexpr uint64_t kMiB = 1ull << 20;

std::unique_ptr<Run> sweep_run(const MeminfoFixture& meminfo, int64_t chunk_mib, int64_t passes) {
  return testing::meminfo_run(meminfo, RunMode::PRODUCTION, chunk_mib, passes);
}

using Sweep = testing::FlagsReset;

TEST_F(Sweep, RegionsShrinkNearTheReserveAndCellEventsCountWindows) {
  MeminfoFixture meminfo(48);
  auto run = sweep_run(meminfo, 16, 1);
  RecordingSink sink(*run);
  run_production(*run);
  EXPECT_EQ(run->st.budget, 48 * kMiB);
  EXPECT_EQ(run->st.total_bytes.load(), 48 * kMiB);
  EXPECT_EQ(run->st.regions_in_pass, 3) << "three 16 MiB regions";
  std::vector<int32_t> windows;
  for (const auto& e : sink.events()) {
    if (e.kind == EventKind::cell) windows.push_back(e.win);
  }
  EXPECT_EQ(windows, (std::vector<int32_t>{1, 2, 3}));
  EXPECT_GE(sink.count(EventKind::map), 1);
  EXPECT_EQ(end_reason_of(run->st), EndReason::COMPLETED);
  EXPECT_EQ(run->st.current_pass, 1);
}

TEST_F(Sweep, MemoryFallingToTheReserveEndsThePassAfterTheRegionUnderTest) {
  MeminfoFixture meminfo(64);
  auto run = sweep_run(meminfo, 16, 1);
  run->after_flush = [&](const TestBlock&) { meminfo.set_available_mib(0); };
  run_production(*run);
  EXPECT_EQ(run->st.total_bytes.load(), 16 * kMiB) << "only the first region was tested";
  EXPECT_LT(run->st.total_bytes.load(), run->st.budget);
  EXPECT_EQ(end_reason_of(run->st), EndReason::COMPLETED);
}

TEST_F(Sweep, PassLimitCountsPassesAndEndsOnTheLast) {
  MeminfoFixture meminfo(16);
  auto run = sweep_run(meminfo, 16, 3);
  run_production(*run);
  EXPECT_EQ(run->st.current_pass, 3);
  EXPECT_EQ(run->st.total_bytes.load(), 48 * kMiB);
  EXPECT_EQ(end_reason_of(run->st), EndReason::COMPLETED);
}

TEST_F(Sweep, StopDuringAPassCountsItAsSeen) {
  struct Case { int64_t passes; int64_t stop_in; int64_t want_pass; } cases[] = {
      {0, 5, 6},  // unlimited, stopped in pass 5: the count moves past it
      {3, 2, 3},  // limited to 3, stopped in pass 2
  };
  for (const Case& c : cases) {
    reset_process_flags();
    MeminfoFixture meminfo(16);
    auto run = sweep_run(meminfo, 16, c.passes);
    dravik::Run* r = run.get();
    run->after_flush = [r, &c](const TestBlock&) {
      if (r->st.current_pass == c.stop_in) stop_requested.store(1);
    };
    run_production(*run);
    EXPECT_EQ(run->st.current_pass, c.want_pass) << c.passes;
    EXPECT_EQ(end_reason_of(run->st), EndReason::USER_STOP);
  }
}

TEST_F(Sweep, ChunkBelowTheRegionFloorRecordsAllocAbortEveryPass) {
  MeminfoFixture meminfo(64);
  auto run = sweep_run(meminfo, 1, 2);
  run_production(*run);
  EXPECT_EQ(run->st.total_bytes.load(), 0u);
  EXPECT_EQ(run->st.current_pass, 2) << "later passes still run";
  EXPECT_EQ(end_reason_of(run->st), EndReason::ALLOC_ABORT);
}

TEST_F(Sweep, SecondPassThatCannotMapAnythingAbortsTheRun) {
  MeminfoFixture meminfo(16);
  auto run = sweep_run(meminfo, 16, 2);
  dravik::Run* r = run.get();
  run->after_flush = [&meminfo, r](const TestBlock&) {
    if (r->st.current_pass == 1) meminfo.set_available_mib(4);  // headroom below 8 MiB
  };
  run_production(*run);
  EXPECT_EQ(run->st.total_bytes.load(), 16 * kMiB);
  EXPECT_EQ(end_reason_of(run->st), EndReason::ALLOC_ABORT);
}

TEST_F(Sweep, BudgetBelowTheFloorTestsNothing) {
  MeminfoFixture meminfo(8);
  auto run = sweep_run(meminfo, 16, 1);
  run->cfg.mem_cap = 8 * kMiB - 1;
  run_production(*run);
  EXPECT_EQ(run->st.total_bytes.load(), 0u);
  EXPECT_EQ(end_reason_of(run->st), EndReason::ALLOC_ABORT);
}

TEST_F(Sweep, StrictRefusesAnUnlockedRegion) {
  // As nobody with no right to lock, the first region comes back unlocked.
  const int status = testing::run_as_nobody([] {
    MeminfoFixture meminfo(16);
    auto run = sweep_run(meminfo, 16, 1);
    run->cfg.strict = 1;
    run_production(*run);
    const bool ok = end_reason_of(run->st) == EndReason::STRICT_MLOCK_ABORT && stopping() &&
                    run->st.total_bytes.load() == 0;
    return ok ? 0 : 1;
  });
  EXPECT_EQ(status, 0);
}

TEST_F(Sweep, EndlessRunAtTheReserveWaitsBetweenEmptyPasses) {
  MeminfoFixture meminfo(16);
  auto run = sweep_run(meminfo, 16, 0);
  dravik::Run* r = run.get();
  run->after_flush = [&meminfo, r](const TestBlock&) {
    if (r->st.current_pass == 1) meminfo.set_available_mib(0);  // at the reserve from now on
  };
  // Stopped from the run's own heartbeat once the count reached pass 5.
  run->sink = EventSink{r, nullptr, [](void* owner) {
                          if (static_cast<dravik::Run*>(owner)->st.current_pass >= 5) stop_requested.store(1);
                        }};
  const double t0 = now_seconds();
  run_production(*run);
  // Passes 2 and 3 found nothing to test and each was followed by a pause of
  // a second; without the pause pass 5 comes within milliseconds.
  EXPECT_GE(now_seconds() - t0, 2.0);
  EXPECT_EQ(run->st.current_pass, 5);
  EXPECT_EQ(end_reason_of(run->st), EndReason::USER_STOP);
}

TEST(MapPainting, LogicalProgressKeepsHardMarksAndMovesTheEdge) {
  auto run = testing::make_run();
  run->st.budget = 100 * kMiB;
  map_setup(run->map, run->phys.ram_ranges, run->st, 10, 1);
  ASSERT_EQ(run->map.cells, 10);
  run->map.put(2, static_cast<uint8_t>(CellState::fault));
  run->map.put(8, static_cast<uint8_t>(CellState::suspect));
  run->st.pass_bytes = 50 * kMiB;
  paint_progress(*run);
  const uint8_t ok = static_cast<uint8_t>(3 + (run->st.color_counter.load() & 3));
  for (int i = 0; i < 10; ++i) {
    const uint8_t want = i == 2 ? 7 : i < 5 ? ok : i == 5 ? 2 : 1;
    EXPECT_EQ(run->map.get(i), want) << "cell " << i;
  }
  run->st.pass_bytes = 200 * kMiB;  // beyond the budget: the edge stays on the last cell
  paint_progress(*run);
  EXPECT_EQ(run->map.get(9), 2);
  EXPECT_EQ(run->map.get(8), ok) << "a suspect mark is repainted in logical mode";
}

}  // namespace
}  // namespace dravik
