// The worker thread: pinning, the job loop between the two barriers, the
// dispatch of an op to its kernel, and the arena allocation.
#include "hcl/pool/worker.h"

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>

#include "core/run/flags.h"
#include "hcl/kernels/kernels.h"

namespace dravik {

namespace {

void set_worker_flag() { in_worker = 1; }

}  // namespace

int hcl_worker_cpu(int index, int cpus) { return cpus > 0 ? index % cpus : 0; }

bool hcl_pin_self(int cpu) {
  // A set sized for 1024 CPUs; a CPU beyond it leaves the set empty, which
  // the kernel refuses, so the worker runs unpinned and says so.
  cpu_set_t set;
  CPU_ZERO(&set);
  if (cpu >= 0 && cpu < 1024) CPU_SET(cpu, &set);
  return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

void hcl_allocate(HclJob& job, int index) {
  HclArena& a = job.arenas[static_cast<size_t>(index)];
  a = HclArena{};
  if (job.arena_bytes < 8) return;
  const size_t bytes = static_cast<size_t>(job.arena_bytes);
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return;
  madvise(p, bytes, MADV_HUGEPAGE);
  a.base = static_cast<uint64_t*>(p);
  a.words = bytes / 8;
  a.mapped_bytes = bytes;
  fill_stream_pattern(a.base, a.words, 0, 0);
  a.mlocked = mlock(p, bytes) == 0 ? 1 : 0;
}

void hcl_run_kernel(HclJob& job, int index) {
  switch (job.op) {
    case HclOp::allocate_arena: hcl_allocate(job, index); break;
    case HclOp::write_stream: hcl_write_stream(job, index); break;
    case HclOp::verify_stream: hcl_read_stream(job, index); break;
    case HclOp::copy_halves: copy_stream(job, index); break;
    case HclOp::chase_idle:
      if (index == 0) chase_kernel(job);
      break;
    case HclOp::chase_loaded:
      if (index == 0) {
        chase_kernel(job);
      } else {
        copy_stream(job, index);
      }
      break;
    case HclOp::oltp: hcl_oltp(job, index); break;
    case HclOp::address_test: hcl_address_test(job, index); break;
    case HclOp::pattern_round: hcl_pattern_test(job, index); break;
    case HclOp::churn: hcl_churn(job, index); break;
    case HclOp::tlb_walk: hcl_tlb_walk(job, index); break;
    case HclOp::fletcher4: hcl_fletcher4(job, index); break;
    case HclOp::quit: break;
  }
}

void hcl_worker(HclJob* job, int index) {
  set_worker_flag();
  HclThreadStats& st = job->stats[static_cast<size_t>(index)];
  const int cpu = hcl_worker_cpu(index, job->cpus);
  st.affinity.store(hcl_pin_self(cpu) ? cpu : -1, std::memory_order_relaxed);
  for (;;) {
    pthread_barrier_wait(&job->start_barrier);
    if (job->op == HclOp::quit) break;
    st.bytes.store(0, std::memory_order_relaxed);
    st.ops.store(0, std::memory_order_relaxed);
    st.incs.store(0, std::memory_order_relaxed);
    if (index < job->active) hcl_run_kernel(*job, index);
    if (job->done_count.fetch_add(1, std::memory_order_acq_rel) + 1 == job->worker_count) {
      // Taking the lock orders the wake-up after the controller's check.
      { std::lock_guard<std::mutex> hold(job->done_lock); }
      job->done_cv.notify_one();
    }
    pthread_barrier_wait(&job->end_barrier);
  }
  pthread_barrier_wait(&job->end_barrier);
}

}  // namespace dravik
