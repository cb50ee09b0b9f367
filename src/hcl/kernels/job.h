// The job record of the qualification's worker pool: what the controller
// (main thread) hands the pinned workers for each job, their arenas and
// counters, and the bit-error log they record into. The kernels read and
// write it; the controller's side is pool/runner.h.
//
// Thread contract:
// - The controller writes op, active, seed, until_done and pattern only
//   before it enters start_barrier; workers read them after leaving it. The
//   barrier orders them, so they are plain fields.
// - stop is set by the controller during a timed job (and on abort) and
//   polled by the kernels together with the process's stop_requested.
// - Each worker writes only its own stats slot and its own arena entry. Stats
//   are relaxed atomics: the controller reads them during a job for progress
//   (slightly stale) and after end_barrier (exact).
// - done_count and error_total are atomic counters.
// - error_log and its two counts are guarded by error_log.lock, taken by the
//   workers when recording and by the controller when reporting or drawing
//   the map. No other lock is ever held with it.
// - The OLTP hot set is shared by all workers: locked increments and relaxed
//   loads. The chase nodes and the latency samples belong to worker 0.
#pragma once
#include <pthread.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "memory/address/phys_map.h"

namespace dravik {

// What a job asks the workers to do, one kernel each (kernels.h says what
// each does).
enum class HclOp : int32_t {
  allocate_arena,
  write_stream,
  verify_stream,
  copy_halves,
  chase_idle,
  chase_loaded,
  oltp,
  address_test,
  pattern_round,
  churn,
  tlb_walk,
  fletcher4,
  quit,
};

inline constexpr int kHclMaxWorkers = 64;
inline constexpr int kHclErrorLogCapacity = 32;
inline constexpr int kHclLatencySamples = 32768;
inline constexpr int kHclHotSlots = 4096;

// Per-worker counters of the current job. Each worker zeroes bytes, ops and
// incs at the start of every job. One cache line each, so that a worker's
// progress stores never share a line with another worker's.
struct alignas(64) HclThreadStats {
  std::atomic<uint64_t> bytes{0};  // bytes moved
  std::atomic<uint64_t> ops{0};    // operations done (OLTP, TLB)
  std::atomic<uint64_t> incs{0};   // atomic increments done (OLTP)
  std::atomic<int32_t> affinity{0};  // -1 when pinning failed
};

// One worker's test arena.
struct HclArena {
  uint64_t* base = nullptr;  // null when the mapping failed
  uint64_t words = 0;        // size in 64-bit words
  uint64_t written = 0;      // words the last write stream wrote; 0 after any kernel that destroys them
  int32_t mlocked = 0;
  uint64_t mapped_bytes = 0;  // length the pool mapped (0: not the pool's mapping)
};

// One recorded bit error.
//   expected: what the kernel wrote there;
//   actual:   the value the verifying read loaded (the one that mismatched);
//   reread:   a fresh read of the word when the error was recorded. reread
//             equal to expected marks a glitch the verifying read alone saw.
struct HclErrorRecord {
  char phase[12] = {};  // the kernel that saw it ("read", "addr", ...), at most 11 characters
  uint64_t vaddr = 0;
  uint64_t expected = 0;
  uint64_t actual = 0;
  uint64_t reread = 0;
};

struct HclErrorLog {
  std::array<HclErrorRecord, kHclErrorLogCapacity> records{};
  int32_t count = 0;     // records stored (at most 32)
  int32_t reported = 0;  // records already reported
  mutable std::mutex lock;
};

// Test seam on the mismatch path: called with the word's address and its
// expected value once a verifying read has seen the mismatch, before
// anything reads the word again (a test restores the word there to make a
// glitch only the verifying read saw). Null in production.
using HclMismatchHook = void (*)(uint64_t* word, uint64_t expected, void* ctx);

// The job record: one per qualification run, created fresh (tests make their
// own). Large (the latency samples), so it lives on the heap.
struct HclJob {
  int32_t worker_count = 0;  // worker threads started (1..64)
  int32_t cpus = 1;          // online processors; workers pin to index mod cpus

  HclOp op = HclOp::quit;
  int32_t active = 0;      // workers with index < active work; the rest pass the barriers
  int32_t until_done = 1;  // 1: every active worker works once; 0: until stop
  uint64_t seed = 0;
  uint64_t pattern = 0;    // the fixed pattern of a pattern round
  std::atomic<int32_t> stop{0};

  pthread_barrier_t start_barrier{};
  pthread_barrier_t end_barrier{};
  std::vector<std::thread> threads;

  std::array<HclArena, kHclMaxWorkers> arenas{};
  int64_t arena_bytes = 0;  // bytes per worker arena
  // Words per page of the run (the TLB walk's stride): 512 with 4 KiB
  // pages, 8192 with the 64 KiB pages of some ARM kernels. Start-up sets it
  // from the run's page size.
  uint64_t page_words = system_page_size() / 8;
  int32_t flush_usable = 0;  // the cache flush may be used (start-up's probe)
  std::array<HclThreadStats, kHclMaxWorkers> stats{};

  // Latency: 64-byte nodes whose first word is the index of the next node.
  uint64_t* chase_nodes = nullptr;
  uint64_t chase_count = 0;
  int32_t lat_samples = 0;
  std::array<double, kHclLatencySamples> samples{};  // nanoseconds per load

  // OLTP: hot_slots counters, each the first word of its own 64-byte line.
  uint64_t* hot_set = nullptr;
  int32_t hot_slots = kHclHotSlots;

  std::atomic<int64_t> error_total{0};
  HclErrorLog error_log;

  int32_t affinity_ok = 0;
  std::atomic<int32_t> done_count{0};
  // The last worker to finish a job wakes the controller's poll early, so an
  // until-done job does not wait out the rest of a 50 ms poll.
  std::mutex done_lock;
  std::condition_variable done_cv;

  // Receives the OLTP read sum and the chase's last index, so that those
  // loops have a result nobody can optimise away.
  std::atomic<uint64_t> sink{0};

  HclMismatchHook mismatch_hook = nullptr;
  void* mismatch_ctx = nullptr;

  HclJob() = default;
  HclJob(const HclJob&) = delete;
  HclJob& operator=(const HclJob&) = delete;
};

}  // namespace dravik
