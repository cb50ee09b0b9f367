// The shared region pool of threaded OFFLINE passes.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

#include "memory/arena.h"

namespace dravik {

struct EngineContext;

struct RegionPool {
  std::mutex pool_lock;  // guards every field below except finished
  uint64_t unclaimed = 0;
  uint64_t claimed = 0;  // claimed by a worker, not yet mapped
  uint64_t reserve = 0;
  int32_t failed = 0;        // no worker may take another region
  int32_t alloc_failed = 0;  // a worker could not map even 8 MiB
  int32_t pressure = 0;      // a worker gave up waiting for memory
  RegionTable table;
  // Added to by each worker as it leaves, read by the waiting main thread.
  std::atomic<int32_t> finished{0};
};

// Thread body of one OFFLINE worker.
void test_worker(EngineContext& run, RegionPool& pool, int32_t pass, int32_t index);
// One threaded pass: start the workers, wait ticking, join, release the pool.
// Returns how many workers started (those that could not are skipped).
int32_t threaded_pass(EngineContext& run, RegionPool& pool, int32_t workers);

}  // namespace dravik
