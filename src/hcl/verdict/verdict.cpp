#include "hcl/verdict/verdict.h"

#include <algorithm>

namespace dravik {

namespace {

constexpr int kProvisionalSeconds = 30;

// A counter difference; a negative reading means the counter was not there.
int64_t reading_delta(int64_t start, int64_t end) {
  if (start < 0 || end < 0) return 0;
  return end - start;
}

}  // namespace

const char* criterion_word(HclCriterion c) {
  switch (c) {
    case HclCriterion::pass: return "pass";
    case HclCriterion::marginal: return "marginal";
    case HclCriterion::fail: return "fail";
    case HclCriterion::unknown: break;
  }
  return "unknown";
}

const char* verdict_word(HclVerdict v) {
  switch (v) {
    case HclVerdict::pass: return "PASS";
    case HclVerdict::pass_unqualified: return "PASS-UNQUALIFIED";
    case HclVerdict::marginal: return "MARGINAL";
    case HclVerdict::fail: return "FAIL";
    case HclVerdict::inconclusive: break;
  }
  return "INCONCLUSIVE";
}

int verdict_exit(HclVerdict v) {
  switch (v) {
    case HclVerdict::pass:
    case HclVerdict::pass_unqualified: return 0;
    case HclVerdict::fail: return 1;
    case HclVerdict::marginal: return 2;
    case HclVerdict::inconclusive: break;
  }
  return 3;
}

const char* hcl_tier_word(HclTier t) {
  switch (t) {
    case HclTier::quick: return "quick";
    case HclTier::soak: return "soak";
    case HclTier::standard: break;
  }
  return "standard";
}

HclFloors hcl_floors(double pass_pct, double fail_pct, bool pct_given) {
  HclFloors f;
  f.pass_floor = pass_pct > 0 ? pass_pct : 80.0;
  f.fail_floor = fail_pct > 0 ? fail_pct : 60.0;
  f.fail_floor = std::min(f.fail_floor, f.pass_floor);
  f.from_table = pct_given;
  return f;
}

HclCriteria hcl_criteria(const HclVerdictInputs& in, const HclFloors& floors, HclTier tier) {
  const HclRun& run = in.run;
  HclCriteria c;
  c.ce_delta = reading_delta(run.edac_ce_start, in.edac_ce_end);
  c.ue_delta = reading_delta(run.edac_ue_start, in.edac_ue_end);
  c.klog_crit_delta = in.klog_crit_end - run.klog_crit_start;

  c.setup = in.setup_uniform == 1   ? HclCriterion::pass
            : in.setup_uniform == 0 ? HclCriterion::fail
                                    : HclCriterion::unknown;

  if (in.theoretical_gbs > 0) {
    c.efficiency_pct = run.peak_read * 100.0 / in.theoretical_gbs;
    c.jedec_efficiency = c.efficiency_pct >= floors.pass_floor   ? HclCriterion::pass
                         : c.efficiency_pct >= floors.fail_floor ? HclCriterion::marginal
                                                                 : HclCriterion::fail;
  }

  if (run.lat_idle_avg > 0) {
    c.jitter_ratio = run.lat_idle_p99 / run.lat_idle_avg;
    c.latency_jitter = c.jitter_ratio > kHclJitterLimit ? HclCriterion::fail : HclCriterion::pass;
  }

  // Fade and cool-down count only where they ran (-1 otherwise).
  const bool fade_ran = run.fade_errors >= 0;
  c.fade_total = std::max<int64_t>(run.fade_errors, 0) + std::max<int64_t>(run.cooldown_errors, 0);
  c.pattern_total = run.addr_errors + run.pattern_errors + run.churn_errors +
                    run.realism_errors + c.fade_total;
  c.patterns = c.pattern_total != 0 ? HclCriterion::fail : HclCriterion::pass;
  if (fade_ran) {
    c.bit_fade = run.fade_errors > 0 || run.cooldown_errors > 0 ? HclCriterion::fail
                                                                : HclCriterion::pass;
  }

  if (run.stddev_pct >= 0) {
    c.variance =
        run.stddev_pct > kHclVarianceLimitPct ? HclCriterion::marginal : HclCriterion::pass;
  }
  if (run.last_first_ratio >= 0) {
    c.degradation =
        run.last_first_ratio < kHclDegradationFloor ? HclCriterion::marginal : HclCriterion::pass;
  }

  c.ce_policy = c.ce_delta != 0 ? HclCriterion::marginal : HclCriterion::pass;
  c.zero_errors = in.error_total != 0 || c.ue_delta != 0 || c.klog_crit_delta != 0
                      ? HclCriterion::fail
                      : HclCriterion::pass;

  c.throttled = run.rounds > 0 && run.throttle_samples * 4 > run.rounds;
  c.provisional = tier == HclTier::quick || run.duration < kProvisionalSeconds;
  return c;
}

HclVerdict hcl_decide(const HclCriteria& c, const HclVerdictFacts& facts) {
  if (facts.stopped) return HclVerdict::inconclusive;
  if (c.setup == HclCriterion::fail) return HclVerdict::fail;
  if (c.zero_errors == HclCriterion::fail || c.patterns == HclCriterion::fail ||
      c.bit_fade == HclCriterion::fail) {
    return HclVerdict::fail;
  }
  const bool efficiency_short = c.jedec_efficiency == HclCriterion::marginal ||
                                c.jedec_efficiency == HclCriterion::fail;
  const bool jitter_fail = c.latency_jitter == HclCriterion::fail;
  if (efficiency_short || jitter_fail) {
    // A loaded system cannot vouch for its bandwidth figures either way.
    if (facts.contended || facts.busy || c.throttled) return HclVerdict::inconclusive;
    if (c.jedec_efficiency == HclCriterion::fail) return HclVerdict::fail;
    // Work that ran beside the chase stretched its tail, not the memory.
    if (jitter_fail) return facts.busy_latency ? HclVerdict::inconclusive : HclVerdict::fail;
  }
  if (c.ce_delta != 0 || c.jedec_efficiency == HclCriterion::marginal ||
      c.variance == HclCriterion::marginal || c.degradation == HclCriterion::marginal) {
    return HclVerdict::marginal;
  }
  if (c.jedec_efficiency == HclCriterion::unknown) return HclVerdict::pass_unqualified;
  return HclVerdict::pass;
}

HclVerdictReport build_hcl_verdict_report(const HclVerdictInputs& in, const RunConfig& cfg) {
  const HclRun& run = in.run;
  HclVerdictReport r;
  r.figures = in;
  r.tier = cfg.hcl_tier;
  r.floors = hcl_floors(cfg.pass_pct, cfg.fail_pct, cfg.pct_given != 0);
  r.criteria = hcl_criteria(in, r.floors, r.tier);
  r.verdict = hcl_decide(r.criteria, {in.stopped, run.contended, run.busy, run.latency_load.busy});
  r.exit = verdict_exit(r.verdict);
  r.qa_eligible = in.setup_uniform != 0;
  r.stability = r.criteria.variance == HclCriterion::marginal ||
                        r.criteria.degradation == HclCriterion::marginal
                    ? HclCriterion::marginal
                    : HclCriterion::pass;
  return r;
}

}  // namespace dravik
