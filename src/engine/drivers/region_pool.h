// The shared region pool of threaded OFFLINE passes.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "engine/test_block.h"
#include "memory/regions/arena.h"

namespace dravik {

struct EngineContext;

// A mapped region whose test sequence is under way. Its tests run one at a
// time and in catalogue order, each on whichever worker takes it next: a
// worker that the processor starves holds at most the one test it is
// running, and a worker with a free processor takes the rest.
struct OpenRegion {
  TestBlock block;
  uint64_t size = 0;     // bytes, for the pass counters
  int32_t locked = 0;
  uint64_t seed = 0;     // the block's test seed, from the region's number in the pass
  int32_t next = 0;      // index in the tier sequence of the next test to run
  bool running = false;  // a worker is running one of its tests
};

// What a worker of the pass last measured of its processor, and whether it
// works, sits out or has left.
struct WorkerSeen {
  double share = 1.0;  // of a processor, over its last test or probe
  int32_t cpu = -1;    // the processor it was on then; -1 when unknown
  bool measured = false;  // share and cpu hold a measure (none before its first probe)
  bool present = false;
  bool resting = false;
};

// What a worker measures of its processor after each test and in each probe.
struct WorkerMeasure {
  double share = 1.0;       // of a processor
  int32_t cpu = -1;         // the processor it was on at the end; -1 when unknown
  bool idle_class = false;  // it runs in the idle scheduling class
};

struct RegionPool {
  std::mutex pool_lock;  // guards every field below except finished
  uint64_t unclaimed = 0;
  uint64_t claimed = 0;  // claimed by a worker, not yet mapped
  uint64_t reserve = 0;
  int32_t failed = 0;        // no worker may take another region
  int32_t alloc_failed = 0;  // a worker could not map even 8 MiB
  int32_t pressure = 0;      // a worker gave up waiting for memory
  RegionTable table;
  std::vector<OpenRegion> open;  // oldest first
  std::vector<WorkerSeen> seen;  // by worker index
  // Signalled whenever a test of an open region ends, for a worker that has
  // nothing left to claim while others still run tests, and when a worker
  // leaves, for the main thread.
  std::condition_variable test_ended;
  // Added to by each worker as it leaves (under pool_lock), read by the
  // waiting main thread.
  std::atomic<int32_t> finished{0};
  // Test seam: sees a worker's index and what it just measured, and may
  // change it. Empty in production.
  std::function<void(int32_t worker, WorkerMeasure* measured)> measure_seam;
};

// Thread body of one OFFLINE worker.
void test_worker(EngineContext& run, RegionPool& pool, int32_t pass, int32_t index);
// One threaded pass: start the workers, wait ticking, join, release the pool.
// Returns how many workers started (those that could not are skipped).
int32_t threaded_pass(EngineContext& run, RegionPool& pool, int32_t workers);

}  // namespace dravik
