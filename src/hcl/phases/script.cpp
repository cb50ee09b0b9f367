// The script of a qualification run: start-up, the nine phases in order,
// the ordered end of the pool and the hand-over to the verdict. Every phase
// after the preflight runs only while the stop flag is clear, except the
// stream phase, which always starts so that a stopped run still has one
// bandwidth point, and the fade phases, which say "skip" in the quick tier.
#include "hcl/phases/script.h"

#include <memory>

#include "core/run/flags.h"
#include "hcl/output.h"
#include "hcl/phases/phases.h"
#include "hcl/verdict/verdict.h"
#include "memory/probes/probes.h"

namespace dravik {

namespace {

HclVerdictInputs verdict_inputs(const HclSession& s, const EdacCounts& edac_end,
                                int64_t klog_crit_end) {
  const HclRun& run = s.run;
  HclVerdictInputs in;
  in.threads = run.threads;
  in.affinity = s.job.affinity_ok != 0;
  in.arena_total = run.arena_total;
  in.mem_total = run.mem_total;
  in.total_from_cgroup = run.total_from_cgroup;
  in.duration = run.duration;
  in.base_seed = s.ctx.cfg.seed;

  in.contended = run.contended;
  in.busy = run.busy;
  in.load1 = run.load1;
  in.psi_mem10 = run.psi_mem10;

  in.module_count = s.inv.module_count;
  in.setup_uniform = s.gate.uniform;
  for (int r = 0; r < s.gate.reason_count; ++r) in.setup_reasons.emplace_back(s.gate.reasons[r]);
  in.theoretical_gbs = s.ref.theoretical_gbs;
  in.channels_src = s.ref.channels_src;

  in.addr_errors = run.addr_errors;
  in.pattern_errors = run.pattern_errors;
  in.churn_errors = run.churn_errors;
  in.realism_errors = run.realism_errors;
  in.fade_errors = run.fade_errors;
  in.cooldown_errors = run.cooldown_errors;
  in.fade_secs = run.fade_secs;

  in.sweep.assign(run.sweep, run.sweep + run.sweep_count);
  in.peak_read = run.peak_read;
  in.peak_write = run.peak_write;
  in.saturation_threads = run.saturation_threads;
  in.rounds = run.rounds;
  in.saturate_errors = run.saturate_errors;
  in.throttle_samples = run.throttle_samples;
  in.edac_ce_saturate = run.edac_ce_saturate;
  in.stddev_pct = run.stddev_pct;
  in.last_first_ratio = run.last_first_ratio;

  in.lat_idle_avg = run.lat_idle_avg;
  in.lat_idle_p99 = run.lat_idle_p99;
  in.lat_loaded_avg = run.lat_loaded_avg;
  in.lat_loaded_p99 = run.lat_loaded_p99;
  in.latency_load = run.latency_load;
  in.oltp_mops = run.oltp_mops;
  in.ledger = run.ledger;

  in.edac_ce_start = run.edac_ce_start;
  in.edac_ue_start = run.edac_ue_start;
  in.edac_ce_end = edac_end.ce;
  in.edac_ue_end = edac_end.ue;
  in.klog_crit_start = run.klog_crit_start;
  in.klog_crit_end = klog_crit_end;
  in.error_total = s.job.error_total.load(std::memory_order_relaxed);
  in.stopped = stopping();
  return in;
}

}  // namespace

int run_qualification(HclContext& ctx) {
  // The job record carries the latency samples and the session the
  // inventory: both live on the heap.
  auto job = std::make_unique<HclJob>();
  HclRunner runner(*job, ctx.out);
  auto session = std::make_unique<HclSession>(ctx, *job, runner);
  HclSession& s = *session;
  if (!hcl_startup(s)) return 3;

  phase_preflight(s);
  if (!stopping()) phase_address(s);
  if (!stopping()) phase_patterns(s);
  if (!stopping()) phase_churn(s);
  phase_stream(s);
  if (!stopping() && job->arenas[0].base != nullptr) phase_latency(s);
  if (!stopping()) phase_load(s);
  phase_fade_and_cooldown(s);

  hcl_pool_shutdown(runner);
  const EdacCounts edac_end = edac_counts(ctx.paths.edac_mc);
  hcl_klog_drain(ctx);
  const HclVerdictReport report =
      build_hcl_verdict_report(verdict_inputs(s, edac_end, hcl_klog_crit(ctx)), ctx.cfg);
  ctx.out.verdict(report);
  return report.exit;
}

}  // namespace dravik
