// OFFLINE with one worker against two, beside the bare memory's own gain from
// a second thread, measured in the same run: this host's bandwidth for a
// second thread moves from nothing to double within an hour, so a worker
// count is judged only against the reference measured next to it.
//
// Three OFFLINE timings: the one-thread sweep, and the worker pool with one
// and with two workers. All three test the same regions (of the chunk size)
// with the same tests over the same bytes.
//
// The pool runs one worker, two, two and one again, and each column is the
// mean of its two runs.
//
// The reference is the write+verify cycle of the engine benchmark (a
// non-temporal fill with a computed pattern, a fence, a branch-free verifying
// read) over the whole budget, on one thread and then on two threads that
// take half each. The OFFLINE runs are whole passes of the chosen tier
// through the real driver.
//
// Usage: perf_offline_bench [MiB] [--tier quick|standard] [--repeat N] [--busy] [--idle]
//                           [--reference]
//   --busy  keeps one processor busy with a spinning child process at normal
//           priority for the whole measurement
//   --idle  runs at idle priority, as dravik itself does (on a box that others
//           keep busy the figures then measure their load more than ours)
//   --reference  prints only the reference: the best of N one-thread and of
//           N two-thread cycles, in seconds, on one line (for scripts)
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "app/run/run.h"
#include "bench_run.h"
#include "core/run/flags.h"
#include "core/text.h"
#include "engine/kernels/kernels.h"
#include "engine/flush.h"
#include "engine/drivers/offline.h"
#include "engine/drivers/production.h"
#include "engine/drivers/region_pool.h"
#include "memory/regions/arena.h"
#include "memory/address/phys_map.h"
#include "memory/probes/probes.h"

using namespace dravik;

namespace {

std::unique_ptr<Run> bench_run(uint64_t bytes, PatternTier tier, int32_t threads) {
  auto run = make_bench_run(bytes, RunMode::OFFLINE, tier, threads);
  run->cfg.passes = 1;
  return run;
}

// Fill, fence, verify of words [lo, hi) of w.
void reference_part(uint64_t* w, uint64_t lo, uint64_t hi) {
  AddressWords fill{reinterpret_cast<uintptr_t>(w + lo)};
  stream_fill(w, lo, hi, fill);
  full_fence();
  AddressWords expect{reinterpret_cast<uintptr_t>(w + lo)};
  if (diff_or(w, lo, hi, expect) != 0) fprintf(stderr, "reference read found a mismatch\n");
}

// Wall seconds of one reference cycle over the block on `threads` threads.
double reference_cycle(const ArenaRegion& r, int threads) {
  uint64_t* w = static_cast<uint64_t*>(r.base);
  const uint64_t n = r.size / 8;
  const double t0 = now_seconds();
  if (threads == 1) {
    reference_part(w, 0, n);
  } else {
    std::thread other(reference_part, w, n / 2, n);
    reference_part(w, 0, n / 2);
    other.join();
  }
  return now_seconds() - t0;
}

double offline_pass(uint64_t bytes, PatternTier tier, int32_t threads) {
  reset_process_flags();
  auto run = bench_run(bytes, tier, threads);
  const double t0 = now_seconds();
  run_offline(*run);
  const double dt = now_seconds() - t0;
  if (run->st.total_bytes.load() != bytes) {
    printf("  warning: tested %lu of %lu bytes (%s)\n",
           static_cast<unsigned long>(run->st.total_bytes.load()),
           static_cast<unsigned long>(bytes), end_reason_text(run->st.end_reason.load()));
  }
  return dt;
}

// One pass of the worker pool with the given number of workers, also one.
double pool_pass(uint64_t bytes, PatternTier tier, int32_t workers) {
  reset_process_flags();
  auto run = bench_run(bytes, tier, 2);
  const double t0 = now_seconds();
  run->st.total_passes = 1;
  if (!prepare_passes(*run)) return -1;
  run->st.current_pass = 1;
  auto pool = std::make_unique<RegionPool>();
  threaded_pass(*run, *pool, workers);
  finish_passes(*run);
  const double dt = now_seconds() - t0;
  if (run->st.total_bytes.load() != bytes) {
    printf("  warning: the pool tested %lu of %lu bytes\n",
           static_cast<unsigned long>(run->st.total_bytes.load()),
           static_cast<unsigned long>(bytes));
  }
  return dt;
}

pid_t start_spinner() {
  const pid_t pid = fork();
  if (pid == 0) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(static_cast<int>(std::thread::hardware_concurrency()) - 1, &one);
    sched_setaffinity(0, sizeof one, &one);
    std::atomic<uint64_t> spin{0};
    for (;;) spin.fetch_add(1, std::memory_order_relaxed);
  }
  return pid;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t mib = 512;
  int repeat = 2;
  bool busy = false;
  bool idle_priority = false;
  bool reference_only = false;
  PatternTier tier = PatternTier::standard;
  for (int a = 1; a < argc; ++a) {
    if (strcmp(argv[a], "--busy") == 0) {
      busy = true;
    } else if (strcmp(argv[a], "--reference") == 0) {
      reference_only = true;
    } else if (strcmp(argv[a], "--idle") == 0) {
      idle_priority = true;
    } else if (strcmp(argv[a], "--repeat") == 0 && a + 1 < argc) {
      repeat = std::max(1, atoi(argv[++a]));
    } else if (strcmp(argv[a], "--tier") == 0 && a + 1 < argc) {
      tier = strcmp(argv[++a], "quick") == 0 ? PatternTier::quick : PatternTier::standard;
    } else {
      mib = strtoull(argv[a], nullptr, 10);
    }
  }
  if (mib == 0) mib = 512;
  const uint64_t bytes = mib << 20;
  const pid_t spinner = busy ? start_spinner() : -1;
  sched_param param{};
  const bool idle = idle_priority && sched_setscheduler(0, SCHED_IDLE, &param) == 0;
  if (reference_only) {
    ArenaRegion r = arena_alloc(bytes);
    if (r.base == nullptr) {
      fprintf(stderr, "cannot map %lu MiB\n", static_cast<unsigned long>(mib));
      return 1;
    }
    double best1 = 1e30, best2 = 1e30;
    for (int k = 0; k < repeat; ++k) {
      best1 = std::min(best1, reference_cycle(r, 1));
      best2 = std::min(best2, reference_cycle(r, 2));
    }
    arena_free(r);
    printf("%.4f %.4f\n", best1, best2);
    if (spinner > 0) {
      kill(spinner, SIGKILL);
      waitpid(spinner, nullptr, 0);
    }
    return 0;
  }
  printf("OFFLINE 1 vs 2 workers, %lu MiB, %s tier, %s priority, %s\n",
         static_cast<unsigned long>(mib), tier == PatternTier::quick ? "quick" : "standard",
         idle ? "idle" : "normal", busy ? "one processor kept busy" : "no load of our own");
  printf("%4s %8s %8s %6s %9s %9s %9s %6s\n", "run", "ref 1 s", "ref 2 s", "gain", "sweep s",
         "pool 1 s", "pool 2 s", "gain");
  ArenaRegion r = arena_alloc(bytes);
  if (r.base == nullptr) {
    fprintf(stderr, "cannot map %lu MiB\n", static_cast<unsigned long>(mib));
    return 1;
  }
  for (int k = 0; k < repeat; ++k) {
    const double ref1 = reference_cycle(r, 1);
    const double ref2 = reference_cycle(r, 2);
    arena_free(r);
    const double sweep = offline_pass(bytes, tier, 1);
    // One, two, two, one: a drift of the host's speed during the four runs
    // weighs on both columns alike.
    const double pool1a = pool_pass(bytes, tier, 1);
    const double pool2a = offline_pass(bytes, tier, 2);
    const double pool2b = offline_pass(bytes, tier, 2);
    const double pool1b = pool_pass(bytes, tier, 1);
    const double pool1 = (pool1a + pool1b) / 2;
    const double pool2 = (pool2a + pool2b) / 2;
    r = arena_alloc(bytes);
    printf("%4d %8.3f %8.3f %5.2fx %9.2f %9.2f %9.2f %5.2fx\n", k + 1, ref1, ref2, ref1 / ref2,
           sweep, pool1, pool2, pool1 / pool2);
    fflush(stdout);
  }
  arena_free(r);
  if (spinner > 0) {
    kill(spinner, SIGKILL);
    waitpid(spinner, nullptr, 0);
  }
  return 0;
}
