// The OFFLINE driver: one thread or a pool of workers over the same regions,
// and the pool that waits for memory a bounded time before it gives up.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "core/run/flags.h"
#include "engine/drivers/region_pool.h"
#include "engine/drivers/offline.h"
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

// Regions of 16 MiB, `threads` workers.
std::unique_ptr<Run> offline_run(const MeminfoFixture& meminfo, int32_t threads, int64_t passes) {
  auto run = testing::meminfo_run(meminfo, RunMode::OFFLINE, 16, passes);
  run->cfg.threads = threads;
  return run;
}

using OfflineSweep = testing::FlagsReset;

// One thread takes regions of the chunk, as the workers do; a chunk below the
// 8 MiB floor is raised to it (PRODUCTION's sweep maps nothing then).
TEST_F(OfflineSweep, OneThreadTakesRegionsOfTheChunkRaisedToTheFloor) {
  struct Case { int64_t chunk_mib; int32_t regions; } cases[] = {{8, 5}, {1, 5}, {16, 3}, {128, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chunk_mib);
    reset_process_flags();
    MeminfoFixture meminfo(4096);
    auto run = offline_run(meminfo, 1, 1);
    run->cfg.mem_cap = 40 * kMiB;
    run->cfg.chunk_mib = c.chunk_mib;
    run_offline(*run);
    EXPECT_EQ(run->st.regions_in_pass, c.regions);
    EXPECT_EQ(run->st.total_bytes.load(), 40 * kMiB);
    EXPECT_EQ(end_reason_of(run->st), EndReason::COMPLETED);
  }
}

TEST_F(OfflineSweep, UnlimitedRunStoppedInPassFiveEndsThere) {
  MeminfoFixture meminfo(16);
  auto run = offline_run(meminfo, 1, 0);
  dravik::Run* r = run.get();
  run->after_flush = [r](const TestBlock&) {
    if (r->st.current_pass == 5) stop_requested.store(1);
  };
  run_offline(*run);
  EXPECT_EQ(run->st.current_pass, 5) << "OFFLINE does not advance the count after a stop";
  EXPECT_EQ(end_reason_of(run->st), EndReason::USER_STOP);
}

// What one region went through in a pass, seen at each write/verify
// boundary of its tests: how many words the boundary covered and a sample of
// what they held. The sample is taken evenly over the covered words, with a
// word that holds its own address (stuck-addr) counted by its index, so that
// the same test with the same seed over the same bytes leaves the same trace
// wherever the region was mapped.
struct RegionTrace {
  int32_t pass = 0;
  uint64_t words = 0;  // the region's size: the most any boundary covered
  std::vector<std::pair<uint64_t, uint64_t>> boundaries;  // covered words, sample
  bool operator<(const RegionTrace& o) const {
    return std::tie(pass, words, boundaries) < std::tie(o.pass, o.words, o.boundaries);
  }
  bool operator==(const RegionTrace& o) const {
    return pass == o.pass && words == o.words && boundaries == o.boundaries;
  }
};

uint64_t sample_of(const TestBlock& b) {
  uint64_t h = 0xcbf29ce484222325ull;
  const uint64_t step = std::max<uint64_t>(1, b.words / 61);
  for (uint64_t i = 0; i < b.words; i += step) {
    uint64_t v = b.base[i];
    if (v == reinterpret_cast<uintptr_t>(b.base + i)) v = i ^ 0xadd7e55000000000ull;
    h = (h ^ v) * 0x100000001b3ull;
  }
  return h;
}

// Runs one OFFLINE run and returns its regions' traces in sorted order, and
// how many threads ran tests.
std::vector<RegionTrace> offline_traces(Run& run, size_t* testers) {
  std::mutex m;
  std::map<std::pair<int32_t, const uint64_t*>, RegionTrace> regions;
  std::vector<std::thread::id> threads;
  run.after_flush = [&](const TestBlock& b) {
    const uint64_t sample = sample_of(b);
    std::lock_guard<std::mutex> lock(m);
    RegionTrace& t = regions[{b.pass, b.base}];
    t.pass = b.pass;
    t.words = std::max(t.words, b.words);
    t.boundaries.emplace_back(b.words, sample);
    if (std::find(threads.begin(), threads.end(), std::this_thread::get_id()) == threads.end()) {
      threads.push_back(std::this_thread::get_id());
    }
  };
  run_offline(run);
  run.after_flush = nullptr;
  std::vector<RegionTrace> out;
  for (auto& [key, trace] : regions) out.push_back(trace);
  std::sort(out.begin(), out.end());
  *testers = threads.size();
  return out;
}

// One worker and two or three test the same regions with the same tests and
// seeds over the same bytes; only which worker ran what differs. The regions
// are of the chunk, the last one the rest of the budget.
TEST_F(OfflineSweep, TwoOrThreeWorkersTestTheSameRegionsAsOne) {
  MeminfoFixture meminfo(4096);
  std::vector<RegionTrace> one;
  for (int32_t threads : {1, 2, 3}) {
    SCOPED_TRACE(threads);
    reset_process_flags();
    auto run = offline_run(meminfo, threads, 2);
    run->cfg.mem_cap = 40 * kMiB;
    run->cfg.seed = 0x5eed0f0ff11e;
    size_t testers = 0;
    const std::vector<RegionTrace> traces = offline_traces(*run, &testers);
    EXPECT_EQ(end_reason_of(run->st), EndReason::COMPLETED);
    EXPECT_EQ(run->st.total_bytes.load(), 80 * kMiB);
    if (threads == 1) {
      one = traces;
      std::vector<uint64_t> sizes;
      for (const RegionTrace& t : traces) sizes.push_back(t.words * 8 / kMiB);
      EXPECT_EQ(sizes, (std::vector<uint64_t>{8, 16, 16, 8, 16, 16})) << "two passes";
      continue;
    }
    EXPECT_LE(testers, static_cast<size_t>(threads));
    EXPECT_EQ(traces.size(), one.size());
    if (traces.size() != one.size()) continue;
    for (size_t k = 0; k < one.size(); ++k) {
      EXPECT_EQ(traces[k].words, one[k].words) << "region " << k;
      EXPECT_TRUE(traces[k] == one[k]) << "region " << k << " of " << traces[k].words * 8 / kMiB
                                       << " MiB in pass " << traces[k].pass;
    }
  }
}

using OfflinePoolThreads = testing::FlagsReset;

TEST_F(OfflinePoolThreads, WorkersShareTheBudgetOverPasses) {
  MeminfoFixture meminfo(64);
  auto run = offline_run(meminfo, 2, 2);
  run_offline(*run);
  EXPECT_EQ(run->st.regions_in_pass, 2);
  EXPECT_EQ(run->st.total_bytes.load(), 128 * kMiB);
  EXPECT_EQ(run->st.current_pass, 2);
  EXPECT_EQ(end_reason_of(run->st), EndReason::COMPLETED);
}

TEST_F(OfflinePoolThreads, ThreadCountIsCappedAt256AndSmallChunksAreRaised) {
  MeminfoFixture meminfo(32);
  auto run = offline_run(meminfo, 1000, 1);
  run->cfg.chunk_mib = 1;  // raised to 8 MiB per region by the pool
  run_offline(*run);
  EXPECT_EQ(run->st.regions_in_pass, 256);
  EXPECT_EQ(run->st.total_bytes.load(), 32 * kMiB);
  EXPECT_EQ(end_reason_of(run->st), EndReason::COMPLETED);
}

TEST_F(OfflinePoolThreads, MemoryStuckAtTheReserveAbortsAfterTheWaits) {
  MeminfoFixture meminfo(64);
  auto run = offline_run(meminfo, 4, 1);
  RecordingSink sink(*run);
  // Right after the budget was taken: 6 MiB of headroom, below a region.
  bool budget_taken = false;
  sink.on_event = [&](EventKind kind) {
    if (kind == EventKind::map && !budget_taken) meminfo.set_available_mib(6);
    budget_taken = true;
  };
  const double t0 = now_seconds();
  run_offline(*run);
  const double waited = now_seconds() - t0;
  EXPECT_GE(waited, 9.5) << "100 waits of 100 ms";
  EXPECT_LT(waited, 30.0);
  EXPECT_EQ(end_reason_of(run->st), EndReason::PRESSURE_ABORT);
  EXPECT_EQ(run->st.total_bytes.load(), 0u);
}

TEST_F(OfflinePoolThreads, MemoryFreedWithinTheWaitsLetsThePassGoOn) {
  MeminfoFixture meminfo(32);
  auto run = offline_run(meminfo, 2, 1);
  RecordingSink sink(*run);
  bool budget_taken = false;
  int ticks_waited = 0;
  // No memory right after the budget was taken; it comes back after five
  // progress ticks of the main thread (three quarters of a second of waits).
  sink.on_event = [&](EventKind kind) {
    if (kind == EventKind::map && !budget_taken) meminfo.set_available_mib(0);
    budget_taken = true;
    if (kind == EventKind::progress && ++ticks_waited == 5) meminfo.set_available_mib(32);
  };
  run_offline(*run);
  EXPECT_GE(ticks_waited, 5);
  EXPECT_EQ(end_reason_of(run->st), EndReason::COMPLETED);
  EXPECT_EQ(run->st.total_bytes.load(), 32 * kMiB);
}

TEST_F(OfflinePoolThreads, FaultFoundByAWorkerIsCountedButNotEmitted) {
  MeminfoFixture meminfo(16);
  auto run = offline_run(meminfo, 2, 1);
  RecordingSink sink(*run);
  run->after_flush = [](const TestBlock& b) { b.base[123] ^= 1ull << 5; };
  run_offline(*run);
  EXPECT_GT(run->faults.total.load(), 0);
  EXPECT_GT(run->faults.used, 0);
  EXPECT_EQ(sink.count(EventKind::fault), 0) << "workers never emit";
  EXPECT_EQ(sink.count(EventKind::phase), 0);
}

// One worker is held inside its first test until the other has tested both
// other regions; the held region still gets its whole sequence once (five
// flushes in the quick tier), whichever worker runs its remaining tests, and
// the pass ends complete.
TEST_F(OfflinePoolThreads, AHeldWorkersRegionIsFinishedOnceWhoeverTakesItsTests) {
  MeminfoFixture meminfo(48);
  auto run = offline_run(meminfo, 2, 1);
  std::mutex m;
  std::condition_variable changed;
  std::map<const uint64_t*, int> flushes;
  std::thread::id held{};
  int others = 0;
  run->after_flush = [&](const TestBlock& b) {
    std::unique_lock<std::mutex> lock(m);
    ++flushes[b.base];
    if (held == std::thread::id{}) {
      held = std::this_thread::get_id();
      changed.wait_for(lock, std::chrono::seconds(60), [&] { return others >= 10; });
    } else if (std::this_thread::get_id() != held) {
      ++others;
      changed.notify_all();
    }
  };
  run_offline(*run);
  EXPECT_EQ(end_reason_of(run->st), EndReason::COMPLETED);
  EXPECT_EQ(run->st.total_bytes.load(), 48 * kMiB);
  ASSERT_EQ(flushes.size(), 3u);
  for (const auto& [base, count] : flushes) EXPECT_EQ(count, 5) << "region " << base;
}

// A worker measured starved of processor time next to the other, or taking
// turns with another worker on an otherwise idle processor at idle priority,
// takes no test while the other goes on; when every worker is starved one
// still works. A worker at idle priority on a processor of its own, or slowed
// as much as the other by a busy box, or sharing a processor with the other
// beside work of others (where two idle-class workers get twice the share of
// one), joins and both work (worker 0 waits, after its first test, until
// worker 1 has taken one). Either way each region gets its whole sequence once (five
// flushes in the quick tier).
TEST_F(OfflinePoolThreads, WorkersThatGainNothingSitOutWithoutStallingThePass) {
  enum Worker1 { sits_out, may_work, joins };
  struct Case {
    const char* what;
    double share[2];
    int32_t cpu[2];
    Worker1 worker1;
  };
  for (const Case& c : {Case{"worker 1 starved", {1.0, 0.0}, {0, 1}, sits_out},
                        Case{"both starved", {0.0, 0.0}, {0, 1}, may_work},
                        Case{"both on one processor", {0.5, 0.5}, {0, 0}, sits_out},
                        Case{"each on a processor of its own", {1.0, 1.0}, {0, 1}, joins},
                        Case{"both slowed alike by a busy box", {0.15, 0.15}, {0, 1}, joins},
                        Case{"worker 1 a third as fast", {0.9, 0.3}, {0, 1}, joins},
                        Case{"both on one processor beside others", {0.14, 0.14}, {0, 0}, joins}}) {
    SCOPED_TRACE(c.what);
    MeminfoFixture meminfo(48);
    auto run = offline_run(meminfo, 2, 1);
    ASSERT_TRUE(prepare_passes(*run));
    RegionPool pool;
    std::mutex m;
    std::condition_variable worker1_tested;
    std::map<const uint64_t*, int> flushes;
    std::thread::id worker0{}, worker1{};
    int by_worker0 = 0, by_worker1 = 0;
    int measures0 = 0;
    pool.measure_seam = [&](int32_t worker, WorkerMeasure* measured) {
      // Worker 1 measures only once worker 0 has recorded its first measure,
      // so that it decides knowing where worker 0 is.
      while (worker == 1) {
        {
          std::lock_guard<std::mutex> lock(pool.pool_lock);
          if (pool.seen[0].cpu >= 0) break;
        }
        std::this_thread::yield();
      }
      std::unique_lock<std::mutex> lock(m);
      (worker == 1 ? worker1 : worker0) = std::this_thread::get_id();
      *measured = WorkerMeasure{c.share[worker], c.cpu[worker], true};
      if (worker == 0 && ++measures0 == 2 && c.worker1 == joins) {
        worker1_tested.wait_for(lock, std::chrono::seconds(30), [&] { return by_worker1 > 0; });
      }
    };
    run->after_flush = [&](const TestBlock& b) {
      std::lock_guard<std::mutex> lock(m);
      ++flushes[b.base];
      if (std::this_thread::get_id() == worker1) ++by_worker1;
      if (std::this_thread::get_id() == worker0) ++by_worker0;
      worker1_tested.notify_all();
    };
    EXPECT_EQ(threaded_pass(*run, pool, 2), 2);
    EXPECT_EQ(run->st.pass_bytes.load(), 48 * kMiB);
    ASSERT_EQ(flushes.size(), 3u);
    for (const auto& [base, count] : flushes) EXPECT_EQ(count, 5) << "region " << base;
    if (c.worker1 == sits_out) {
      EXPECT_EQ(by_worker1, 0);
    } else if (c.worker1 == joins) {
      EXPECT_GT(by_worker1, 0);
      EXPECT_GT(by_worker0, 0) << "both work";
    }
  }
}

TEST_F(OfflinePoolThreads, StopEndsEveryWorkerAndReleasesThePool) {
  MeminfoFixture meminfo(256);
  auto run = offline_run(meminfo, 2, 0);
  run->cfg.tier = PatternTier::standard;
  RecordingSink sink(*run);
  // Stopped at the main thread's first progress tick, while the workers test.
  sink.on_event = [](EventKind kind) {
    if (kind == EventKind::progress) stop_requested.store(1);
  };
  run_offline(*run);
  EXPECT_EQ(end_reason_of(run->st), EndReason::USER_STOP);
  EXPECT_EQ(run->st.current_pass, 1);
}

}  // namespace
}  // namespace dravik
