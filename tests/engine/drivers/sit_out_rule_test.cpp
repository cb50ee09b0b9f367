// Which OFFLINE worker gives way when two working workers at idle priority
// find themselves on one processor: three workers, so that the pair is not
// simply worker 0 and another.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "core/run/flags.h"
#include "engine/drivers/production.h"
#include "engine/drivers/region_pool.h"
#include "support/run_setup.h"
#include "support/meminfo_fixture.h"
#include "support/test_support.h"

namespace dravik {
namespace {

constexpr uint64_t kMiB = 1ull << 20;

// Each worker starts on a processor of its own and runs one test, the first
// of a region (stuck_addr: one flush). Then a busy process starves worker 0
// on processor 0, and the kernel has put workers 1 and 2 together on
// processor 1, where each gets half of it. Worker 0 sits out, and of the pair
// the higher-numbered one gives way: worker 1 runs the rest of the pass
// alone, on a processor it no longer shares. Were the pair to keep taking
// turns, or to give way the other way round, the tests would run on a shared
// processor or by the wrong worker.
TEST(OfflineSitOutThreads, OfTwoWorkersOnOneProcessorTheHigherNumberedGivesWay) {
  reset_process_flags();
  testing::MeminfoFixture meminfo(48);
  auto run = testing::meminfo_run(meminfo, RunMode::OFFLINE, 16, 1);
  run->cfg.threads = 3;
  ASSERT_TRUE(prepare_passes(*run));

  RegionPool pool;
  std::mutex m;
  std::condition_variable flushed;
  std::map<std::thread::id, int32_t> worker_of;
  int flushes[3] = {};
  constexpr WorkerMeasure kFirst[3] = {{1.0, 0, true}, {1.0, 1, true}, {1.0, 2, true}};
  constexpr WorkerMeasure kThen[3] = {{0.1, 0, true}, {0.5, 1, true}, {0.5, 1, true}};
  pool.measure_seam = [&](int32_t worker, WorkerMeasure* measured) {
    std::lock_guard<std::mutex> lock(m);
    worker_of[std::this_thread::get_id()] = worker;
    *measured = flushes[worker] > 0 ? kThen[worker] : kFirst[worker];
  };
  // Each worker's first test ends only once all three have one, so that each
  // decides knowing where the other two are.
  run->after_flush = [&](const TestBlock&) {
    std::unique_lock<std::mutex> lock(m);
    const int32_t worker = worker_of.at(std::this_thread::get_id());
    ++flushes[worker];
    flushed.notify_all();
    flushed.wait_for(lock, std::chrono::seconds(60),
                     [&] { return flushes[0] > 0 && flushes[1] > 0 && flushes[2] > 0; });
  };

  EXPECT_EQ(threaded_pass(*run, pool, 3), 3);
  EXPECT_EQ(run->st.pass_bytes.load(), 48 * kMiB) << "three regions, each through its sequence";
  EXPECT_EQ(flushes[0], 1) << "starved: sits out after its first test";
  EXPECT_EQ(flushes[2], 1) << "gives way to worker 1";
  EXPECT_EQ(flushes[1], 13) << "the other 6 tests of the three regions";
}

}  // namespace
}  // namespace dravik
