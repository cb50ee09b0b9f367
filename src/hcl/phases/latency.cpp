// P5: latency and jitter. Worker 0 chases a random cycle through its arena,
// first alone, then while every other worker streams copies; the samples
// give the idle and loaded average and 99th percentile per load.
#include "core/run/flags.h"
#include "core/text.h"
#include "hcl/kernels/chase.h"
#include "hcl/output.h"
#include "hcl/phases/phases.h"
#include "hcl/rules/schedule.h"
#include "hcl/rules/setup.h"
#include "hcl/rules/stats.h"
#include "memory/probes/probes.h"

namespace dravik {

namespace {

constexpr double kChaseSeconds = 3.0;
// The idle chase runs as short rounds and keeps the quietest: on a box that
// serves, other work lands now and then, and only ever adds latency.
constexpr int kIdleRounds = 3;
constexpr double kIdleRoundSeconds = kChaseSeconds / kIdleRounds;

LatencyStats chase(HclSession& s, HclOp op, int active, double seconds) {
  s.job.lat_samples = 0;
  run_job(s.runner, op, active, 0, 0, seconds);
  return latency_stats(s.job.samples.data(), s.job.lat_samples);
}

// The idle rounds, with the box's load read around them.
LatencyStats idle_chase(HclSession& s) {
  const HclPaths& paths = s.ctx.paths;
  const CpuTimes before = read_cpu_times(paths.proc_stat, paths.self_stat);
  LatencyStats rounds[kIdleRounds];
  for (int r = 0; r < kIdleRounds && !stopping(); ++r) {
    rounds[r] = chase(s, HclOp::chase_idle, 1, kIdleRoundSeconds);
  }
  const CpuTimes after = read_cpu_times(paths.proc_stat, paths.self_stat);
  s.run.latency_load = box_load(before, after, psi_some_avg10(paths.psi_memory),
                                read_load1(paths.loadavg), s.run.threads, s.inv.cpus);
  const int best = quietest_round(rounds, kIdleRounds);
  return best < 0 ? LatencyStats{} : rounds[best];
}

double ratio(const LatencyStats& l) { return l.avg > 0.0 ? l.p99 / l.avg : 0.0; }

}  // namespace

void phase_latency(HclSession& s) {
  HclRun& run = s.run;
  HclArena& arena = s.job.arenas[0];
  phase_begin(s, 5);
  s.out().stage("latency", run.threads);
  hcl_console(s.out(), "\n [latency] random pointer chase (64B nodes, Fisher-Yates cycle)\n");

  const uint64_t nodes = chase_node_count(arena.words);
  if (!build_chase_cycle(arena.base, nodes, s.base_seed() ^ kSeedChase)) return;
  arena.written = 0;  // the stream content is gone
  s.job.chase_nodes = arena.base;
  s.job.chase_count = nodes;

  const LatencyStats idle = idle_chase(s);
  run.lat_idle_avg = idle.avg;
  run.lat_idle_p99 = idle.p99;
  const LatencyStats loaded = chase(s, HclOp::chase_loaded, run.threads, kChaseSeconds);
  run.lat_loaded_avg = loaded.avg;
  run.lat_loaded_p99 = loaded.p99;

  s.out().latency_point("lat_idle", 1, idle.avg, idle.p99);
  s.out().latency_point("lat_loaded", run.threads, loaded.avg, loaded.p99);
  char span[32];
  format_size(nodes * 64, span, sizeof span);
  hcl_console(s.out(), "  span %s : idle   avg %7.1f ns  p99 %7.1f ns  (x%.2f)\n", span, idle.avg,
              idle.p99, ratio(idle));
  hcl_console(s.out(), "           : loaded avg %7.1f ns  p99 %7.1f ns  (x%.2f)\n", loaded.avg,
              loaded.p99, ratio(loaded));
  const BoxLoad& box = run.latency_load;
  if (box.busy) {
    hcl_console(s.out(),
                "  busy     : other work took %.1f%% of the CPU time (stolen %.1f%%), memory "
                "pressure %.2f%%, load %.2f — a jitter shortfall will be INCONCLUSIVE\n",
                box.others_pct, box.steal_pct, box.psi_mem10, box.load1);
  }
  report_bit_errors(s.runner);
  phase_finish(s, 5, false);
}

}  // namespace dravik
