// Start and ordered shutdown of the qualification's worker pool.
#include <sys/mman.h>

#include <algorithm>

#include "hcl/pool/runner.h"
#include "hcl/pool/worker.h"

namespace dravik {

HclPoolStart hcl_pool_start(HclRunner& r, int workers, int cpus, int64_t arena_bytes,
                            uint64_t pressure_floor) {
  HclJob& job = r.job;
  const int n = std::clamp(workers, 1, kHclMaxWorkers);
  r.pressure_floor = pressure_floor;
  job.worker_count = n;
  job.cpus = std::max(cpus, 1);
  job.arena_bytes = arena_bytes;
  pthread_barrier_init(&job.start_barrier, nullptr, static_cast<unsigned>(n + 1));
  pthread_barrier_init(&job.end_barrier, nullptr, static_cast<unsigned>(n + 1));
  job.threads.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) job.threads.emplace_back(hcl_worker, &job, i);
  run_job(r, HclOp::allocate_arena, n, 0, 1);

  HclPoolStart result;
  job.affinity_ok = 1;
  for (int i = 0; i < n; ++i) {
    const HclArena& a = job.arenas[static_cast<size_t>(i)];
    if (a.base != nullptr) {
      result.arena_total += a.words * 8;
      ++result.arenas_allocated;
    }
    if (job.stats[static_cast<size_t>(i)].affinity.load(std::memory_order_relaxed) == -1) {
      job.affinity_ok = 0;
    }
  }
  return result;
}

void hcl_pool_shutdown(HclRunner& r) {
  HclJob& job = r.job;
  if (job.threads.empty()) return;
  job.op = HclOp::quit;
  job.stop.store(1, std::memory_order_relaxed);
  pthread_barrier_wait(&job.start_barrier);
  pthread_barrier_wait(&job.end_barrier);
  for (std::thread& t : job.threads) t.join();
  job.threads.clear();
  for (HclArena& a : job.arenas) {
    if (a.base == nullptr || a.mapped_bytes == 0) continue;
    if (a.mlocked != 0) munlock(a.base, a.mapped_bytes);
    munmap(a.base, a.mapped_bytes);
    a = HclArena{};
  }
  pthread_barrier_destroy(&job.start_barrier);
  pthread_barrier_destroy(&job.end_barrier);
}

}  // namespace dravik
