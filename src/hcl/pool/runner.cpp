// The controller's side of a job: release the workers, keep the program
// alive while they work (kernel log, progress map, pressure watchdog), end a
// timed job, and collect them again.
#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "core/run/flags.h"
#include "core/text.h"
#include "hcl/output.h"
#include "hcl/pool/runner.h"
#include "memory/probes/probes.h"

namespace dravik {

namespace {

constexpr double kPollSeconds = 0.05;
constexpr int kPressureEvery = 20;  // polls between two watchdog readings
constexpr double kPsiLimit = 20.0;

// Sleeps up to `seconds`; an until-done job's poll returns early when its
// last worker finishes (a timed job ends on time whatever the workers do).
void wait_poll(HclJob& job, double seconds, bool until_done) {
  if (!until_done) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    return;
  }
  std::unique_lock<std::mutex> hold(job.done_lock);
  job.done_cv.wait_for(hold, std::chrono::duration<double>(seconds), [&job] {
    return job.done_count.load(std::memory_order_acquire) >= job.worker_count;
  });
}

// What every poll does besides sleeping.
void poll_work(HclRunner& r, int poll) {
  if (r.klog_drain) r.klog_drain();
  map_event(r, false, now_seconds());
  if (poll % kPressureEvery == 0 && !pausing() && !r.watchdog_tripped && r.pressure_floor > 0) {
    hcl_pressure_check(r);
  }
}

}  // namespace

double run_job(HclRunner& r, HclOp op, int active, uint64_t seed, int until_done, double seconds) {
  HclJob& job = r.job;
  job.op = op;
  job.active = active;
  job.seed = seed;
  job.until_done = until_done;
  job.stop.store(0, std::memory_order_relaxed);
  job.done_count.store(0, std::memory_order_relaxed);
  pthread_barrier_wait(&job.start_barrier);

  const double t0 = now_seconds();
  int poll = 0;
  if (until_done != 0) {
    if (!stopping()) {
      while (job.done_count.load(std::memory_order_acquire) < job.worker_count) {
        wait_poll(job, kPollSeconds, true);
        poll_work(r, ++poll);
        if (stopping()) break;
      }
    }
    if (stopping()) job.stop.store(1, std::memory_order_relaxed);
  } else if (seconds > 0) {
    if (!stopping()) {
      for (;;) {
        const double elapsed = now_seconds() - t0;
        if (elapsed >= seconds) break;
        // The last poll is cut short so the job ends on time.
        wait_poll(job, std::min(kPollSeconds, seconds - elapsed), false);
        poll_work(r, ++poll);
        if (stopping()) break;
      }
    }
    job.stop.store(1, std::memory_order_relaxed);
  }

  pthread_barrier_wait(&job.end_barrier);
  const double elapsed = now_seconds() - t0;
  if (r.klog_drain) r.klog_drain();
  return elapsed > 0 ? elapsed : 1e-9;
}

bool hcl_pressure_check(HclRunner& r) {
  const uint64_t available = mem_available_bytes(r.meminfo_path);
  const double psi = psi_some_avg10(r.psi_path);
  const bool short_of_memory = available > 0 && available < r.pressure_floor;
  const bool stalling = psi >= 0 && psi > kPsiLimit;
  if (!short_of_memory && !stalling) return false;
  r.watchdog_tripped = true;
  stop_requested.store(1, std::memory_order_relaxed);
  r.out.abort(available, r.pressure_floor, psi);
  return true;
}

}  // namespace dravik
