// The boxed end-of-run report: one line per criterion, then the evidence the
// verdict stands on.
#include "core/output_check.h"
#include "cpu/features.h"
#include "hcl/verdict/verdict.h"
#include "report/console/hcl_console_output.h"

namespace dravik {

namespace {

const char* plural(int64_t n) { return n == 1 ? "" : "s"; }

const char* ledger_word(int ledger) {
  return ledger == 1 ? "ok" : ledger == 0 ? "MISMATCH" : "n/a";
}

void print_setup(FILE* f, const HclVerdictReport& r) {
  const HclVerdictInputs& in = r.figures;
  if (in.setup_uniform == 0) {
    fputs(" setup     : FAIL — mixed/asymmetric memory set:\n", f);
    for (const std::string& reason : in.setup_reasons) fprintf(f, "             - %s\n", reason.c_str());
    fputs("             not recorded, not submittable; rerun with a matched kit\n", f);
  } else if (in.setup_uniform < 0) {
    fputs(" setup     : unknown — DMI silent (VM?); uniformity gate not applied\n", f);
  } else {
    fprintf(f, " setup     : pass — matched kit, %d module%s\n", in.module_count,
            plural(in.module_count));
  }
}

void print_bandwidth(FILE* f, const HclVerdictReport& r) {
  const HclVerdictInputs& in = r.figures;
  const HclRun& run = in.run;
  if (in.theoretical_gbs > 0) {
    fprintf(f,
            " bandwidth : %s — %.2f GB/s sustained read = %.1f%% of %.2f GB/s JEDEC "
            "(pass>=%.0f%%, fail<%.0f%%, floors from %s)\n",
            criterion_word(r.criteria.jedec_efficiency), run.peak_read, r.criteria.efficiency_pct,
            in.theoretical_gbs, r.floors.pass_floor, r.floors.fail_floor,
            r.floors.from_table ? "platform table" : "built-in default");
  } else {
    fprintf(f,
            " bandwidth : UNKNOWN — %.2f GB/s sustained read; no JEDEC reference "
            "(no DMI; use --jedec-gbs)\n",
            run.peak_read);
  }
}

}  // namespace

void ConsoleHclOutput::verdict(const HclVerdictReport& r) {
  FILE* f = out_;
  const HclVerdictInputs& in = r.figures;
  const HclRun& run = in.run;
  const HclCriteria& c = r.criteria;

  fputs("\n============================ HCL verdict ============================\n", f);
  fprintf(f, " VERDICT   : %s%s%s\n", verdict_word(r.verdict),
          c.provisional ? " (provisional — quick tier)" : "",
          in.setup_uniform == 0 ? "  [SETUP NOT ELIGIBLE FOR QA]" : "");
  print_setup(f, r);

  // The count the plural agrees with is the one printed right before it.
  fprintf(f, " patterns  : %s — addr %lld, moving-inversion %lld, churn %lld, realism %lld error%s\n",
          c.patterns == HclCriterion::fail ? "fail" : "pass", static_cast<long long>(run.addr_errors),
          static_cast<long long>(run.pattern_errors), static_cast<long long>(run.churn_errors),
          static_cast<long long>(run.realism_errors), plural(run.realism_errors));
  if (run.fade_errors >= 0) {
    fprintf(f, " bit fade  : %s — %ds idle + cool-down, %lld error%s\n",
            criterion_word(c.bit_fade), run.fade_secs, static_cast<long long>(c.fade_total),
            plural(c.fade_total));
  }
  if (run.stddev_pct >= 0) {
    fprintf(f,
            " stability : %s — %.1f%% round stddev (limit %.0f%%); last/first quartile x%.3f%s\n",
            criterion_word(r.stability), run.stddev_pct, kHclVarianceLimitPct, run.last_first_ratio,
            c.throttled ? " — CPU THROTTLED" : "");
  }
  print_bandwidth(f, r);
  if (run.lat_idle_avg > 0) {
    fprintf(f, " jitter    : %s — p99 %.1f ns = x%.2f of avg %.1f ns (limit x%.2f)\n",
            criterion_word(c.latency_jitter), run.lat_idle_p99, c.jitter_ratio, run.lat_idle_avg,
            kHclJitterLimit);
  }
  fprintf(f,
          " integrity : %s — %lld bit error%s, EDAC CE+%lld UE+%lld, kernel crit +%lld, "
          "oltp ledger %s%s\n",
          c.zero_errors == HclCriterion::fail ? "fail" : "pass", static_cast<long long>(in.error_total),
          plural(in.error_total), static_cast<long long>(c.ce_delta), static_cast<long long>(c.ue_delta),
          static_cast<long long>(c.klog_crit_delta), ledger_word(run.ledger),
          c.ce_delta != 0 ? " — CE>0 caps the verdict at MARGINAL" : "");
  fprintf(f,
          " evidence  : %d threads pinned (%s), %s streams, %lld saturation rounds, "
          "seed 0x%016llx\n",
          run.threads, run.affinity ? "ok" : "AFFINITY FAILED", cpu::kSimdName,
          static_cast<long long>(run.rounds), static_cast<unsigned long long>(run.base_seed));
  if (run.contended) {
    fputs(" caveat    : CONTENDED SYSTEM — <40% of RAM was free; services share the\n"
          "             memory bus. A bandwidth shortfall here indicts the system\n"
          "             state, not necessarily the DIMMs — re-run quiesced.\n",
          f);
  }
  if (run.latency_load.busy) {
    fprintf(f,
            " caveat    : BUSY DURING THE CHASE — other work took %.1f%% of the CPU time,\n"
            "             memory pressure %.2f%%. A jitter shortfall here indicts the load,\n"
            "             not necessarily the DIMMs — re-run quiesced.\n",
            run.latency_load.others_pct, run.latency_load.psi_mem10);
  }
  fputs("=====================================================================\n", f);
  flush_output(f);
}

}  // namespace dravik
