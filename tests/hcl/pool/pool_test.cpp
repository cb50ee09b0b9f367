// The real pool: pinned workers driven job by job through the barriers,
// timed and until-done jobs, the OLTP ledger, progress frames while a job
// runs, and the pressure watchdog ending a job.
#include <pthread.h>
#include <sched.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <numeric>

#include <gtest/gtest.h>

#include "core/run/flags.h"
#include "core/text.h"
#include "hcl/pool/runner.h"
#include "hcl/recording_output.h"
#include "hcl/pool/worker.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using testing::RecordingHclOutput;

constexpr int64_t kArenaBytes = 2 << 20;

struct Pool {
  std::unique_ptr<HclJob> job = std::make_unique<HclJob>();
  RecordingHclOutput out;
  HclRunner runner{*job, out};
  HclPoolStart started;
  Pool(int workers, int cpus, bool json = false, int64_t arena = kArenaBytes) : out(json) {
    reset_process_flags();
    started = hcl_pool_start(runner, workers, cpus, arena, 0);
  }
  ~Pool() {
    hcl_pool_shutdown(runner);
    reset_process_flags();
  }
  uint64_t bytes(int k) const { return job->stats[static_cast<size_t>(k)].bytes.load(); }
};

TEST(HclPoolThreads, WorkersWriteAndVerifyTheirArenasAndAPlantedFlipIsFound) {
  Pool pool(2, 2);
  HclJob& job = *pool.job;
  ASSERT_EQ(pool.started.arenas_allocated, 2);
  EXPECT_EQ(pool.started.arena_total, 2 * static_cast<uint64_t>(kArenaBytes));
  const uint64_t words = kArenaBytes / 8;

  EXPECT_GT(run_job(pool.runner, HclOp::write_stream, 2, 99, 1), 0.0);
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(pool.bytes(k), static_cast<uint64_t>(kArenaBytes));
    EXPECT_EQ(job.arenas[static_cast<size_t>(k)].written, words);
  }
  run_job(pool.runner, HclOp::verify_stream, 2, 99, 1);
  EXPECT_EQ(job.error_total.load(), 0);
  EXPECT_EQ(pool.bytes(1), static_cast<uint64_t>(kArenaBytes));

  // Only the active workers work.
  run_job(pool.runner, HclOp::verify_stream, 1, 99, 1);
  EXPECT_EQ(pool.bytes(1), 0u);

  uint64_t* w1 = job.arenas[1].base;
  const uint64_t good = w1[12345];
  w1[12345] = good ^ (uint64_t{1} << 40);
  run_job(pool.runner, HclOp::verify_stream, 2, 99, 1);
  ASSERT_EQ(job.error_total.load(), 1);
  report_bit_errors(pool.runner);
  ASSERT_EQ(pool.out.errors.size(), 1u);
  EXPECT_STREQ(pool.out.errors[0].phase, "read");
  EXPECT_EQ(pool.out.errors[0].vaddr, reinterpret_cast<uintptr_t>(w1 + 12345));
  EXPECT_EQ(pool.out.errors[0].expected, good);
  EXPECT_EQ(pool.out.errors[0].actual, good ^ (uint64_t{1} << 40));
  EXPECT_EQ(pool.out.errors[0].reread, good ^ (uint64_t{1} << 40));
  EXPECT_EQ(pool.out.error_bits[0], 1);
}

TEST(HclPoolThreads, ATimedWriteWrapsUntilStopAndKeepsWrittenAtTheArenaSize) {
  Pool pool(1, 1);
  const double wall = run_job(pool.runner, HclOp::write_stream, 1, 5, 0, 0.3);
  EXPECT_GE(wall, 0.3);
  EXPECT_LT(wall, 2.0);
  EXPECT_GT(pool.bytes(0), 2 * static_cast<uint64_t>(kArenaBytes));  // wrapped at least twice
  EXPECT_EQ(pool.job->arenas[0].written, static_cast<uint64_t>(kArenaBytes) / 8);
}

TEST(HclPoolThreads, TheOltpLedgerBalances) {
  Pool pool(3, 2);
  HclJob& job = *pool.job;
  void* hot = aligned_alloc(64, kHclHotSlots * 64);
  ASSERT_NE(hot, nullptr);
  memset(hot, 0, kHclHotSlots * 64);
  job.hot_set = static_cast<uint64_t*>(hot);
  job.hot_slots = kHclHotSlots;
  run_job(pool.runner, HclOp::oltp, 3, 11, 0, 0.3);
  uint64_t ledger = 0, incs = 0, ops = 0;
  for (int i = 0; i < kHclHotSlots; ++i) ledger += job.hot_set[i * 8];
  for (int k = 0; k < 3; ++k) {
    incs += job.stats[static_cast<size_t>(k)].incs.load();
    ops += job.stats[static_cast<size_t>(k)].ops.load();
  }
  EXPECT_GT(incs, 0u);
  EXPECT_EQ(ledger, incs);
  // About 30 % of the operations are increments.
  EXPECT_NEAR(static_cast<double>(incs) / static_cast<double>(ops), 0.3, 0.02);
  job.hot_set = nullptr;
  free(hot);
}

TEST(HclPoolThreads, FiveWorkersPinByIndexModuloTheCpus) {
  // The choice: worker 4 of 4 CPUs shares CPU 0 with worker 0.
  const int want[5] = {0, 1, 2, 3, 0};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(hcl_worker_cpu(i, 4), want[i]);
  EXPECT_EQ(hcl_worker_cpu(70, 64), 6);

  // The real affinity, over the CPUs this process may use when they are
  // 0..n-1 (at most four).
  cpu_set_t allowed;
  ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
  int cpus = 0;
  while (cpus < 4 && CPU_ISSET(cpus, &allowed)) ++cpus;
  if (cpus == 0) GTEST_SKIP() << "CPU 0 is not available to this process";
  Pool pool(5, cpus);
  EXPECT_EQ(pool.job->affinity_ok, 1);
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(pool.job->stats[static_cast<size_t>(i)].affinity.load(), i % cpus);
    cpu_set_t set;
    ASSERT_EQ(pthread_getaffinity_np(pool.job->threads[static_cast<size_t>(i)].native_handle(),
                                     sizeof set, &set),
              0);
    EXPECT_EQ(CPU_COUNT(&set), 1);
    EXPECT_TRUE(CPU_ISSET(i % cpus, &set));
  }
}

TEST(HclPoolThreads, APinBeyondTheSetOrOntoAMissingCpuLeavesTheWorkerUnpinned) {
  cpu_set_t allowed;
  ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
  int missing = -1;
  for (int c = 0; c < 1024; ++c) {
    if (!CPU_ISSET(c, &allowed)) {
      missing = c;
      break;
    }
  }
  if (missing < 0) GTEST_SKIP() << "every CPU of the set is available";
  // Claim one CPU more than there are: the worker on the missing one fails.
  Pool pool(missing + 1, missing + 1);
  EXPECT_EQ(pool.job->stats[static_cast<size_t>(missing)].affinity.load(), -1);
  EXPECT_EQ(pool.job->affinity_ok, 0);
  EXPECT_FALSE(hcl_pin_self(5000));  // beyond the 1024-CPU set: an empty set
}

TEST(HclPoolThreads, ProgressFramesDuringAJobStayFourASecond) {
  Pool pool(2, 2, true);
  map_begin_timed(pool.runner, "P3", 2, 0.9);
  run_job(pool.runner, HclOp::churn, 2, 3, 0, 0.9);
  map_end(pool.runner);
  const auto& frames = pool.out.frames;
  ASSERT_GE(frames.size(), 3u);
  ASSERT_LE(frames.size(), 5u);  // 0, .25, .5, .75 and the final one
  for (size_t i = 1; i + 1 < frames.size(); ++i) {
    EXPECT_GE(frames[i].at - frames[i - 1].at, 0.24);
    EXPECT_GE(frames[i].frame.done, frames[i - 1].frame.done);
  }
  EXPECT_EQ(frames.back().frame.done, 624);
  EXPECT_EQ(pool.job->error_total.load(), 0);
  EXPECT_GT(pool.bytes(0), 0u);
}

TEST(HclPoolThreads, AStopEndsJobsAtOnceAndTheShutdownStillCompletes) {
  Pool pool(2, 2);
  stop_requested.store(1);
  const double timed = run_job(pool.runner, HclOp::write_stream, 2, 1, 0, 30.0);
  EXPECT_LT(timed, 5.0);
  const double once = run_job(pool.runner, HclOp::churn, 2, 1, 1);
  EXPECT_LT(once, 5.0);
  EXPECT_EQ(pool.job->stop.load(), 1);
}

TEST(HclPoolThreads, ThePressureWatchdogEndsTheJobBelowTheFloor) {
  testing::TempDir dir;
  Pool pool(1, 1);
  pool.runner.meminfo_path = dir.write("meminfo", "MemTotal: 8000000 kB\nMemAvailable: 400000 kB\n");
  pool.runner.psi_path = dir.write("pressure", "some avg10=0.00 avg60=0.00 avg300=0.00 total=0\n");
  pool.runner.pressure_floor = 512ull << 20;
  const double wall = run_job(pool.runner, HclOp::write_stream, 1, 1, 0, 10.0);
  EXPECT_GE(wall, 0.9);  // the 20th poll
  EXPECT_LT(wall, 5.0);
  EXPECT_TRUE(stopping());
  EXPECT_TRUE(pool.runner.watchdog_tripped);
  ASSERT_EQ(pool.out.aborts.size(), 1u);
  EXPECT_EQ(pool.out.aborts[0].mem_available, 400000ull * 1024);
  EXPECT_EQ(pool.out.aborts[0].floor, 512ull << 20);
}

}  // namespace
}  // namespace dravik
