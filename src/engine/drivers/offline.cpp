// The OFFLINE driver: one-thread sweeps, or a pool of worker threads taking
// regions from a shared budget (layout and thread contract in offline.h).
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "core/run/flags.h"
#include "core/prng/prng.h"
#include "core/text.h"
#include "engine/context.h"
#include "engine/catalogue/catalogue.h"
#include "engine/drivers/cpu_share.h"
#include "engine/drivers/idle_wait.h"
#include "engine/progress.h"
#include "engine/drivers/region_pool.h"
#include "engine/drivers/map_paint.h"
#include "engine/drivers/offline.h"
#include "engine/drivers/production.h"
#include "memory/regions/arena.h"
#include "memory/probes/probes.h"
#include "memory/regions/sizing.h"

namespace dravik {

namespace {

constexpr int32_t kMaxWorkers = 256;
constexpr int kMaxWaits = 100;           // 100 waits of 100 ms: ten seconds
constexpr useconds_t kWaitMicros = 100000;

enum class Claim { region, wait, finish };

// A worker that got less than this fraction of the share of a processor that
// the best-served working worker got is starved: a busy process of higher
// priority holds its processor, and the others would run its tests sooner.
// One that got from kTurnsShare up to kSharedShare on the processor another
// worker was on takes turns with it on a processor that has nothing else to
// run (two workers there get half each).
constexpr double kStarvedFraction = 0.25;
constexpr double kTurnsShare = 0.35;
constexpr double kSharedShare = 0.75;
constexpr double kProbeSeconds = 0.005;
constexpr double kFirstRestSeconds = 0.1;
constexpr double kLongestRestSeconds = 1.6;

// The size of an OFFLINE region, whatever the worker count: the chunk, raised
// to the smallest region that is ever mapped. One worker and many take the
// same regions in the same order.
uint64_t offline_chunk(const RunConfig& cfg) { return std::max(chunk_bytes(cfg), kMinRegion); }

// The seed of the pass's region with the given number (counted from 1 in the
// order the regions are taken), as the single sweep seeds its k-th region:
// the same region gets the same random data whichever worker tests it.
uint64_t region_seed(const EngineContext& run, int32_t number, int32_t pass) {
  return test_seed(run.cfg.seed, number, pass);
}

// pool_lock held: whether a region may still be claimed.
bool region_left(const RegionPool& pool) {
  return !pool.failed && !stopping() && pool.table.count < RegionTable::kMax &&
         pool.unclaimed >= kMinRegion;
}

// The offline region plan for the next region of a worker; pool_lock held.
Claim claim_locked(EngineContext& run, RegionPool& pool, uint64_t* size, int32_t* slot) {
  if (!region_left(pool)) return Claim::finish;
  const uint64_t available = mem_available_bytes(run.paths.meminfo);
  const OfflineRegionPlan plan =
      offline_region_plan(available, pool.claimed, pool.reserve, offline_chunk(run.cfg),
                          pool.unclaimed, run.cfg.extended_tests != 0);
  if (plan.wait) return Claim::wait;
  const uint64_t claim = std::min(plan.size, pool.unclaimed);
  pool.unclaimed -= claim;
  pool.claimed += claim;
  *size = claim;
  *slot = pool.table.count++;
  return Claim::region;
}

// Maps a claimed region outside the lock, then settles the claim under it.
ArenaRegion map_claimed(RegionPool& pool, uint64_t claim, int32_t slot) {
  ArenaRegion region = arena_alloc_halving(claim);
  std::lock_guard<std::mutex> guard(pool.pool_lock);
  pool.claimed -= claim;
  if (region.base == nullptr) {
    pool.table.entries[slot] = ArenaRegion{};
    pool.failed = 1;
    pool.alloc_failed = 1;
    return region;
  }
  pool.table.entries[slot] = region;
  if (region.size < claim) pool.unclaimed += claim - region.size;
  return region;
}

// One test of one open region, as a worker takes it.
struct TestJob {
  size_t region = 0;
  int32_t test = 0;
  TestBlock block;
  uint64_t seed = 0;
};

// pool_lock held: the next test of the oldest open region that no worker is
// running, marked as running.
bool take_open_test(RegionPool& pool, int32_t count, TestJob* job) {
  for (size_t r = 0; r < pool.open.size(); ++r) {
    OpenRegion& o = pool.open[r];
    if (o.running || o.next >= count) continue;
    o.running = true;
    *job = TestJob{r, o.next++, o.block, o.seed};
    return true;
  }
  return false;
}

bool any_running(const RegionPool& pool) {
  for (const OpenRegion& o : pool.open) {
    if (o.running) return true;
  }
  return false;
}

// pool_lock held: whether a test or a region is still to be taken.
bool work_left(const RegionPool& pool, int32_t count) {
  if (stopping()) return false;
  for (const OpenRegion& o : pool.open) {
    if (o.next < count) return true;
  }
  return region_left(pool);
}

WorkerMeasure measure(const RegionPool& pool, int32_t index, double share) {
  WorkerMeasure m{share, sched_getcpu(), sched_getscheduler(0) == SCHED_IDLE};
  if (pool.measure_seam) pool.measure_seam(index, &m);
  return m;
}

// pool_lock held. Records what worker `index` measured and decides whether it
// sits out next, as long as another worker of the pass works (somebody always
// does the work):
//   - starved: it got less than kStarvedFraction of what the best-served
//     working worker got. A busy box that slows every worker alike starves
//     none: each adds what it gets, and a test it holds at the end of the
//     pass would run no sooner on another;
//   - in the idle scheduling class, taking turns: it is on the processor a
//     working worker was last seen on and got about half of it, so that
//     processor runs nothing else and the second worker adds nothing there
//     (a working worker gives way only to a lower-numbered one; a resting
//     worker whose probe got at least kTurnsShare there stays out whatever
//     else it got). The kernel leaves two idle-class threads taking turns on
//     one processor rather than move one beside a busy normal-priority
//     process, where it would get nothing. Beside work of others on that
//     processor two idle-class workers get twice the share of one, and at
//     normal priority the kernel balances them itself: both go on.
bool decide_rest_locked(RegionPool& pool, int32_t index, const WorkerMeasure& m) {
  WorkerSeen& self = pool.seen[static_cast<size_t>(index)];
  self.share = m.share;
  self.cpu = m.cpu;
  self.measured = true;
  bool other_works = false;
  bool turns = false;
  double best_other = 0.0;
  // About half of a processor: it took turns there with one other worker and
  // nothing else ran (a resting worker's short probe may have got all of it).
  const bool halves = m.share >= kTurnsShare && (self.resting || m.share < kSharedShare);
  for (size_t j = 0; j < pool.seen.size(); ++j) {
    const WorkerSeen& o = pool.seen[j];
    if (static_cast<int32_t>(j) == index || !o.present || o.resting) continue;
    other_works = true;
    if (o.measured) best_other = std::max(best_other, o.share);
    if (m.idle_class && m.cpu >= 0 && o.cpu == m.cpu && halves &&
        (self.resting || static_cast<int32_t>(j) < index)) {
      turns = true;
    }
  }
  self.resting = other_works && (m.share < kStarvedFraction * best_other || turns);
  return self.resting;
}

bool decide_rest(RegionPool& pool, int32_t index, const WorkerMeasure& m) {
  std::lock_guard<std::mutex> guard(pool.pool_lock);
  return decide_rest_locked(pool, index, m);
}

// A worker that sits out waits, each rest twice as long as the last up to a
// limit, then probes its processor and decides again; it stops resting when
// nothing is left to take or every other worker has left. Returns whether it
// rests on.
bool rest_once(RegionPool& pool, int32_t count, int32_t index, double* rest) {
  {
    std::unique_lock<std::mutex> lock(pool.pool_lock);
    WorkerSeen& self = pool.seen[static_cast<size_t>(index)];
    auto others_work = [&] {
      for (const WorkerSeen& o : pool.seen) {
        if (&o != &self && o.present && !o.resting) return true;
      }
      return false;
    };
    // In steps of 100 ms at most, so that a stop is seen promptly.
    const double until = now_seconds() + *rest;
    while (work_left(pool, count) && others_work() && now_seconds() < until) {
      pool.test_ended.wait_for(lock, std::chrono::milliseconds(100));
    }
    if (!work_left(pool, count) || !others_work()) {
      self.resting = false;
      return false;
    }
  }
  const bool again = decide_rest(pool, index, measure(pool, index, probe_cpu_share(kProbeSeconds)));
  *rest = again ? std::min(2 * *rest, kLongestRestSeconds) : kFirstRestSeconds;
  return again;
}

// A test has ended: the region is free for the next test, and a region whose
// sequence is complete counts towards the pass.
void end_test(EngineContext& run, RegionPool& pool, const TestJob& job, int32_t count) {
  bool done = false;
  uint64_t size = 0;
  int32_t locked = 0;
  {
    std::lock_guard<std::mutex> guard(pool.pool_lock);
    OpenRegion& o = pool.open[job.region];
    o.running = false;
    done = o.next >= count;
    size = o.size;
    locked = o.locked;
  }
  pool.test_ended.notify_all();
  if (done) {
    run.st.pass_bytes.fetch_add(size, std::memory_order_relaxed);
    run.st.total_bytes.fetch_add(size, std::memory_order_relaxed);
    run.st.last_locked.store(locked, std::memory_order_relaxed);
  }
}

}  // namespace

// A worker runs one test at a time: the next test of the oldest open region
// that nobody is running, else the first test of a region it claims and maps,
// else, when nothing is left to claim, it waits for a running test to end and
// takes the test after it. Every region still gets its whole sequence in
// catalogue order with the seed of its number in the pass, and faults
// are recorded by the worker whose test found them, as before; only which
// worker runs which test changes. A worker measures the share of a processor
// it gets, before its first test and over each test, and sits out while it
// is starved next to the others or only takes turns with another worker on
// an otherwise idle processor, as long as another worker goes on.
void test_worker(EngineContext& run, RegionPool& pool, int32_t pass, int32_t index) {
  in_worker = 1;
  const CatalogueEntry* sequence[32];
  const int32_t count = tier_sequence(run.cfg, sequence, 32);
  bool resting = decide_rest(pool, index, measure(pool, index, probe_cpu_share(kProbeSeconds)));
  double rest = kFirstRestSeconds;
  int waits = 0;
  while (!stopping()) {
    if (resting) {
      resting = rest_once(pool, count, index, &rest);
      if (resting) continue;
    }
    TestJob job;
    Claim what = Claim::finish;
    uint64_t claim = 0;
    int32_t slot = -1;
    bool have_test = false;
    {
      std::unique_lock<std::mutex> lock(pool.pool_lock);
      for (;;) {
        have_test = take_open_test(pool, count, &job);
        if (have_test) break;
        what = claim_locked(run, pool, &claim, &slot);
        if (what != Claim::finish || stopping() || !any_running(pool)) break;
        pool.test_ended.wait_for(lock, std::chrono::milliseconds(100));
      }
    }
    if (have_test) {
      const ShareClock clock;
      run_catalogue_test(run, job.block, *sequence[job.test], job.seed);
      resting = decide_rest(pool, index, measure(pool, index, clock.share()));
      end_test(run, pool, job, count);
      waits = 0;
      continue;
    }
    if (what == Claim::finish) break;
    if (what == Claim::wait) {
      if (waits >= kMaxWaits || stopping()) {
        std::lock_guard<std::mutex> guard(pool.pool_lock);
        pool.pressure = 1;
        break;
      }
      usleep(kWaitMicros);
      ++waits;
      continue;
    }
    const ArenaRegion region = map_claimed(pool, claim, slot);
    if (region.base == nullptr) break;
    OpenRegion o;
    o.block = TestBlock{static_cast<uint64_t*>(region.base), region.size / 8, pass};
    o.size = region.size;
    o.locked = region.locked;
    o.seed = region_seed(run, slot + 1, pass);
    o.running = true;
    {
      std::lock_guard<std::mutex> guard(pool.pool_lock);
      job = TestJob{pool.open.size(), 0, o.block, o.seed};
      o.next = 1;
      pool.open.push_back(o);
    }
    const ShareClock clock;
    if (count > 0) run_catalogue_test(run, job.block, *sequence[0], job.seed);
    resting = decide_rest(pool, index, measure(pool, index, clock.share()));
    end_test(run, pool, job, count);
    waits = 0;
  }
  {
    // Counted under the lock, so that the main thread waiting on the
    // condition cannot miss the last worker leaving.
    std::lock_guard<std::mutex> guard(pool.pool_lock);
    pool.seen[static_cast<size_t>(index)].present = false;
    pool.seen[static_cast<size_t>(index)].resting = false;
    pool.finished.fetch_add(1, std::memory_order_release);
  }
  pool.test_ended.notify_all();
}

int32_t threaded_pass(EngineContext& run, RegionPool& pool, int32_t workers) {
  {
    std::lock_guard<std::mutex> guard(pool.pool_lock);
    pool.unclaimed = run.st.budget;
    pool.claimed = 0;
    pool.reserve = reserve_bytes(run.cfg);
    pool.failed = pool.alloc_failed = pool.pressure = 0;
    pool.table.count = 0;
    pool.open.clear();
    // Counted before any starts, so that the first to measure itself
    // starved knows others are coming.
    pool.seen.assign(static_cast<size_t>(workers), WorkerSeen{});
    for (WorkerSeen& w : pool.seen) w.present = true;
  }
  run.st.regions_in_pass = workers;
  pool.finished.store(0, std::memory_order_relaxed);
  const int32_t pass = static_cast<int32_t>(run.st.current_pass);
  std::vector<std::thread> threads;
  threads.reserve(static_cast<size_t>(workers));
  for (int32_t i = 0; i < workers; ++i) {
    try {
      threads.emplace_back(test_worker, std::ref(run), std::ref(pool), pass, i);
    } catch (const std::system_error&) {
      // A worker that cannot start is skipped; the pass runs with the others.
      std::lock_guard<std::mutex> guard(pool.pool_lock);
      pool.seen[static_cast<size_t>(i)].present = false;
    }
  }
  const int32_t started = static_cast<int32_t>(threads.size());
  auto tick = [&run] {
    const uint64_t done = run.st.pass_bytes.load(std::memory_order_relaxed);
    test_progress(run, run.st.budget ? static_cast<double>(done) * 100.0 /
                                           static_cast<double>(run.st.budget)
                                     : 0.0);
  };
  // Ticks every 150 ms, and goes on as soon as the last worker has left.
  auto all_left = [&] {
    return pool.finished.load(std::memory_order_acquire) >= started || stopping();
  };
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(pool.pool_lock);
      if (pool.test_ended.wait_for(lock, std::chrono::milliseconds(150), all_left)) break;
    }
    tick();
  }
  for (std::thread& t : threads) t.join();
  pool.open.clear();
  pool.table.release_all();
  if (run.map.logical) paint_progress(run);
  // Every pass reaches the keys and the screen at least once, however quickly
  // its workers finished, so an unlimited run can always be quit.
  tick();
  return started;
}

void run_offline(EngineContext& run) {
  run.st.total_passes = run.cfg.passes > 0 ? run.cfg.passes : INT64_MAX;
  if (!prepare_passes(run)) return;
  int32_t workers = run.cfg.threads > 0 ? run.cfg.threads : 1;
  if (workers > 1) workers = std::min(workers, kMaxWorkers);
  run.st.current_pass = 1;
  auto pool = workers > 1 ? std::make_unique<RegionPool>() : nullptr;
  while (!stopping()) {
    run.st.pass_bytes.store(0, std::memory_order_relaxed);
    run.st.regions_in_pass = 0;
    bool empty_pass = false;
    if (workers == 1) {
      sweep_pass(run, run.st.budget, offline_chunk(run.cfg));
      empty_pass = run.st.regions_in_pass == 0;
    } else {
      if (threaded_pass(run, *pool, workers) == 0) {
        // Not one worker could be started (a process limit, say): nothing
        // was tested, and no later pass would fare better.
        set_end_reason_if_none(run.st, EndReason::THREAD_START_ABORT);
        break;
      }
      if (pool->alloc_failed) {
        set_end_reason_if_none(run.st, EndReason::ALLOC_ABORT);
        break;
      }
      if (pool->pressure) {
        set_end_reason_if_none(run.st, EndReason::PRESSURE_ABORT);
        break;
      }
    }
    if (stopping()) {
      set_end_reason_if_none(run.st, EndReason::USER_STOP);
      break;
    }
    run.st.current_pass += 1;
    if (run.st.current_pass > run.st.total_passes) break;
    if (empty_pass) idle_between_passes(run);
  }
  finish_passes(run);
}

}  // namespace dravik
