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

// The run record as the phases left it, with the kit and the readings taken
// after the pool shut down.
HclVerdictInputs verdict_inputs(const HclSession& s, const EdacCounts& edac_end,
                                int64_t klog_crit_end) {
  HclVerdictInputs in;
  in.run = s.run;
  in.module_count = s.inv.module_count;
  in.setup_uniform = s.gate.uniform;
  for (int r = 0; r < s.gate.reason_count; ++r) in.setup_reasons.emplace_back(s.gate.reasons[r]);
  in.theoretical_gbs = s.ref.theoretical_gbs;
  in.channels_src = s.ref.channels_src;
  in.edac_ce_end = edac_end.ce;
  in.edac_ue_end = edac_end.ue;
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
