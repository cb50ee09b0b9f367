// P4: full-bandwidth streaming. A core-scaling sweep (1, 2, 4, ... threads,
// ending exactly at the worker count) finds where reads saturate; timed
// write/verify rounds over every worker then hold the bus at full load for
// the saturate duration, giving the peak figures, the stability samples and
// the throttle count.
#include <algorithm>

#include "core/run/flags.h"
#include "core/text.h"
#include "hcl/output.h"
#include "hcl/phases/phases.h"
#include "hcl/rules/schedule.h"
#include "hcl/rules/setup.h"
#include "hcl/rules/stats.h"
#include "memory/probes/probes.h"

namespace dravik {

namespace {

constexpr double kSweepSeconds = 1.2;
constexpr int kMaxStabilitySamples = 512;

// GB/s of one job: the bytes the first `active` workers moved over the job's
// wall time (barrier passage included).
double stream_job(HclSession& s, HclOp op, int active, uint64_t seed, double seconds) {
  const double wall = run_job(s.runner, op, active, seed, 0, seconds);
  return static_cast<double>(sum_bytes(s.job, active)) / wall / 1e9;
}

void sweep(HclSession& s) {
  HclRun& run = s.run;
  const std::vector<int> points = sweep_points(run.threads);
  s.out().stage("sweep", run.threads);
  hcl_console(s.out(), "\n [sweep] core-scaling, %d point%s\n", static_cast<int>(points.size()),
              points.size() == 1 ? "" : "s");
  int best = -1;
  for (const int k : points) {
    const uint64_t seed = sweep_seed(s.base_seed(), k);
    const double write = stream_job(s, HclOp::write_stream, k, seed, kSweepSeconds);
    const double read = stream_job(s, HclOp::verify_stream, k, seed, kSweepSeconds);
    run.sweep.push_back(HclSweepPoint{k, write, read});
    s.out().point("sweep", "write", k, write);
    s.out().point("sweep", "read", k, read);
    hcl_console(s.out(), "  threads %2d : write %7.2f GB/s   read %7.2f GB/s\n", k, write, read);
    report_bit_errors(s.runner);
    if (best < 0 || read > run.sweep[static_cast<size_t>(best)].read_gbs) {
      best = static_cast<int>(run.sweep.size()) - 1;
    }
    run.peak_write = std::max(run.peak_write, write);
    if (stopping()) break;
  }
  run.saturation_threads = run.sweep[static_cast<size_t>(best)].threads;
  run.peak_read = run.sweep[static_cast<size_t>(best)].read_gbs;
}

// Returns the bit errors seen during the rounds.
int64_t saturate(HclSession& s) {
  HclRun& run = s.run;
  s.out().stage("saturate", run.threads);
  hcl_console(s.out(), "\n [saturate] %ds full-thread write/verify-read stream\n", run.duration);
  map_begin_timed(s.runner, "P4", run.threads, run.duration);
  const int64_t errors_before = s.job.error_total.load(std::memory_order_relaxed);
  const EdacCounts edac_before = edac_counts(s.ctx.paths.edac_mc);

  double samples[kMaxStabilitySamples];
  int sample_count = 0;
  double max_write = 0.0, max_read = 0.0;
  const double start = now_seconds();
  int64_t round = 0;
  for (; !stopping(); ++round) {
    const double slice = saturate_slice(run.duration, now_seconds() - start);
    if (slice <= 0.0) break;
    const uint64_t seed = saturate_seed(s.base_seed(), round);
    const double write = stream_job(s, HclOp::write_stream, run.threads, seed, slice);
    const double read = stream_job(s, HclOp::verify_stream, run.threads, seed, slice);
    max_write = std::max(max_write, write);
    max_read = std::max(max_read, read);
    if (is_stability_sample(round, slice) && sample_count < kMaxStabilitySamples) {
      samples[sample_count++] = read;
    }
    if (throttled_sample(run.max_freq, read_cpufreq(s.ctx.paths.cpufreq_dir, "scaling_cur_freq"))) {
      ++run.throttle_samples;
    }
    s.out().point("saturate", "write", run.threads, write);
    s.out().point("saturate", "read", run.threads, read);
    report_bit_errors(s.runner);
  }
  map_end(s.runner);
  report_bit_errors(s.runner);
  run.rounds = round;
  run.saturate_errors = s.job.error_total.load(std::memory_order_relaxed) - errors_before;
  const EdacCounts edac_after = edac_counts(s.ctx.paths.edac_mc);
  run.edac_ce_saturate =
      edac_before.ce < 0 || edac_after.ce < 0 ? 0 : edac_after.ce - edac_before.ce;
  run.peak_read = std::max(run.peak_read, max_read);
  run.peak_write = std::max(run.peak_write, max_write);
  s.out().point("saturate", "write", run.threads, max_write);
  s.out().point("saturate", "read", run.threads, max_read);
  hcl_console(s.out(), "  %lld rounds: write %7.2f GB/s   verify-read %7.2f GB/s   bit errors: %lld\n",
              static_cast<long long>(run.rounds), max_write, max_read,
              static_cast<long long>(run.saturate_errors));

  const HclStability st = stability_stats(samples, sample_count);
  run.stddev_pct = st.stddev_pct;
  run.last_first_ratio = st.last_first_ratio;
  if (sample_count >= 8) {
    hcl_console(s.out(), "  stability: round-to-round %.1f%% stddev; last/first quartile x%.3f%s\n",
                run.stddev_pct, run.last_first_ratio,
                run.throttle_samples > 0 ? " (CPU throttling seen)" : "");
  }
  return run.saturate_errors;
}

}  // namespace

void phase_stream(HclSession& s) {
  phase_begin(s, 4);
  sweep(s);
  int64_t saturate_errors = 0;
  if (!stopping()) saturate_errors = saturate(s);
  report_bit_errors(s.runner);
  phase_finish(s, 4, saturate_errors > 0);
}

}  // namespace dravik
