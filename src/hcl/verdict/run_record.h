// The record of one qualification run: what set-up decided and what every
// phase measured. The phases fill it on the main thread; the verdict reads it
// (as part of its inputs, verdict.h) after the worker pool is shut down.
#pragma once
#include <cstdint>
#include <vector>

#include "core/config.h"
#include "hcl/rules/busy.h"

namespace dravik {

// One point of the core-scaling sweep.
struct HclSweepPoint {
  int threads = 0;
  double write_gbs = 0.0;
  double read_gbs = 0.0;
};

struct HclRun {
  int threads = 1;                      // worker threads, 1..64
  bool affinity = false;                // every worker pinned itself
  int64_t arena_bytes_per_thread = 0;   // multiple of 2 MiB, 8 MiB..256 MiB
  uint64_t arena_total = 0;             // bytes of the arenas actually allocated
  int duration = 60;                    // saturate seconds
  uint64_t base_seed = 0;               // the run's seed, every stream's starting point
  HclTier tier = HclTier::standard;
  bool contended = false;               // under 40 % of RAM was available before allocation
  uint64_t mem_total = 0;               // MemTotal in bytes (or the cgroup limit); 0 unknown
  bool total_from_cgroup = false;       // mem_total is the memory cgroups' limit

  // Preflight readings (P0).
  double load1 = -1.0;                  // -1 when /proc/loadavg is unreadable
  double psi_mem10 = -1.0;              // -1 without pressure information
  bool busy = false;                    // load1 above 0.6 x online CPUs
  uint64_t max_freq = 0;                // CPU 0 maximum in kHz; 0 when unknown

  int64_t edac_ce_start = -1;
  int64_t edac_ue_start = -1;
  int64_t klog_crit_start = 0;

  // Bit errors per phase (differences of the job's error total).
  int64_t addr_errors = 0;
  int64_t pattern_errors = 0;
  int64_t churn_errors = 0;
  int64_t realism_errors = 0;
  int64_t fade_errors = -1;             // -1: the phase did not run
  int64_t cooldown_errors = -1;
  int fade_secs = 0;                    // 0 when bit fade was skipped

  std::vector<HclSweepPoint> sweep;     // in the order the points ran
  double peak_read = 0.0;               // GB/s over the sweep and the saturate rounds
  double peak_write = 0.0;
  int saturation_threads = 0;           // sweep point with the largest read
  int64_t rounds = 0;                   // saturate rounds completed
  int64_t saturate_errors = 0;
  double stddev_pct = -1.0;             // -1 with fewer than 8 stability samples
  double last_first_ratio = -1.0;
  int64_t throttle_samples = 0;         // rounds that saw CPU 0 below 92 % of max_freq
  int64_t edac_ce_saturate = 0;

  double lat_idle_avg = 0.0;            // nanoseconds; 0 when not measured
  double lat_idle_p99 = 0.0;
  double lat_loaded_avg = 0.0;
  double lat_loaded_p99 = 0.0;
  BoxLoad latency_load;                 // the box around the idle chase

  double oltp_mops = 0.0;               // 0 when not run
  int ledger = -1;                      // 1 ok, 0 mismatch, -1 not run
};

}  // namespace dravik
