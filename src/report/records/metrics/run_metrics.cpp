#include "report/records/metrics/run_metrics.h"

#include <sys/stat.h>

#include <cstring>

#include "core/run/state.h"
#include "hcl/verdict/verdict.h"
#include "report/records/metrics/prometheus_text.h"
#include "report/records/files/replace_file.h"

namespace dravik {

namespace {

// Every word a mode's verdict can take: each gets a series, 1 on the current
// one, so an alert can match a word and a graph can stack them.
constexpr const char* kFaultTestVerdicts[] = {"PASS", "PASS_WITH_TRANSIENTS", "SUSPECT",
                                              "FAIL", "ABORTED",   "CANCELED"};
constexpr const char* kHclVerdicts[] = {"PASS", "PASS-UNQUALIFIED", "MARGINAL", "FAIL",
                                        "INCONCLUSIVE"};
constexpr const char* kSelftestVerdicts[] = {"PASS", "FAIL"};

// End reasons as label values: the EndReason names in lower case.
constexpr const char* kEndReasons[] = {"unknown",           "completed",          "pressure_abort",
                                       "user_stop",         "strict_mlock_abort", "alloc_abort",
                                       "thread_start_abort", "hangup"};
constexpr int kEndReasonCount = sizeof kEndReasons / sizeof kEndReasons[0];
static_assert(kEndReasonCount == static_cast<int>(EndReason::HANGUP) + 1,
              "every end reason has its label value");

double num(int64_t v) { return static_cast<double>(v); }
double flag(bool v) { return v ? 1.0 : 0.0; }

template <size_t N>
void verdict_family(PrometheusText& m, const char* current, const char* const (&words)[N]) {
  m.family("dravik_last_run_verdict", "gauge",
           "Verdict of the last run: 1 on the series of its verdict word, 0 on the others.");
  for (const char* word : words) m.sample(flag(strcmp(word, current) == 0), "verdict", word);
}

void fault_test_families(PrometheusText& m, const RunOutcome& o) {
  m.gauge("dravik_last_run_tested_bytes", "Bytes the last run tested over all its passes.",
          static_cast<double>(o.tested_bytes));
  m.gauge("dravik_last_run_hard_faults",
          "Hard faults of the last run: mismatches that repeated at one cell.", num(o.hard_faults));
  m.gauge("dravik_last_run_transient_faults",
          "Transient faults of the last run: mismatches that did not repeat.",
          num(o.transient_faults));
  m.gauge("dravik_last_run_addressing_suspect",
          "1 when the stuck-address test of the last run saw a mismatch.",
          flag(o.addressing_suspect));
  m.family("dravik_last_run_end_reason", "gauge",
           "Why the last run ended: 1 on the series of its reason, 0 on the others.");
  const int32_t reason = o.end_reason >= 0 && o.end_reason < kEndReasonCount ? o.end_reason : 0;
  for (int i = 0; i < kEndReasonCount; ++i) m.sample(flag(i == reason), "reason", kEndReasons[i]);
}

void reading_families(PrometheusText& m, const RunOutcome& o) {
  // Without EDAC counters there is no figure at all, rather than a 0 that
  // would read as "none seen".
  if (o.edac_ce_delta >= 0) {
    m.gauge("dravik_last_run_edac_corrected_errors",
            "Corrected memory errors the EDAC counters gained during the last run.",
            num(o.edac_ce_delta));
  }
  if (o.edac_ue_delta >= 0) {
    m.gauge("dravik_last_run_edac_uncorrected_errors",
            "Uncorrected memory errors the EDAC counters gained during the last run.",
            num(o.edac_ue_delta));
  }
  m.gauge("dravik_last_run_kernel_critical_events",
          "Critical memory-related kernel-log events during the last run.", num(o.klog_crit));
}

void hcl_families(PrometheusText& m, const HclVerdictReport& r) {
  const HclVerdictInputs& in = r.figures;
  const HclCriteria& c = r.criteria;
  constexpr double kGB = 1e9;
  m.gauge("dravik_hcl_peak_read_bytes_per_second", "Peak read bandwidth of the last qualification.",
          in.run.peak_read * kGB);
  m.gauge("dravik_hcl_peak_write_bytes_per_second",
          "Peak write bandwidth of the last qualification.", in.run.peak_write * kGB);
  if (in.theoretical_gbs > 0.0) {
    m.gauge("dravik_hcl_jedec_efficiency_ratio",
            "Peak read bandwidth of the last qualification over the kit's JEDEC figure.",
            c.efficiency_pct / 100.0);
  }
  if (in.run.lat_idle_avg > 0.0) {
    m.gauge("dravik_hcl_idle_latency_average_seconds",
            "Average idle memory latency of the last qualification.", in.run.lat_idle_avg / 1e9);
    m.gauge("dravik_hcl_idle_latency_p99_seconds",
            "99th percentile of the idle memory latency of the last qualification.",
            in.run.lat_idle_p99 / 1e9);
  }
  m.gauge("dravik_hcl_bit_errors", "Bit errors the last qualification recorded in all phases.",
          num(in.error_total));
  m.gauge("dravik_hcl_provisional",
          "1 when the last qualification was provisional (quick tier or under 30 s of saturation).",
          flag(c.provisional));
}

}  // namespace

std::string run_metrics_text(const RunOutcome& o) {
  PrometheusText m({{"mode", outcome_mode_word(o)}, {"tier", o.tier}, {"version", kVersion}});
  // A run killed outright writes no end: its start-of-run file stays, with
  // dravik_run_in_progress 1 and an old start time.
  m.gauge("dravik_run_in_progress",
          "1 from the start of a run until it ends; a run that stays at 1 was killed.",
          flag(o.in_progress));
  m.gauge("dravik_run_start_timestamp_seconds",
          "Unix time at which the current or last run started.", o.start_time);
  if (o.in_progress) return m.text() + o.carried_metrics;
  m.gauge("dravik_last_run_timestamp_seconds", "Unix time at which the last run ended.",
          o.end_time);
  m.gauge("dravik_last_run_duration_seconds", "How long the last run took.", o.duration_s);
  m.gauge("dravik_last_run_exit_status", "Exit status of the last run (0: no fault found).",
          o.exit_status);
  if (o.verdict != nullptr) {
    if (o.selftest) {
      verdict_family(m, o.verdict, kSelftestVerdicts);
    } else if (o.mode == RunMode::HCL) {
      verdict_family(m, o.verdict, kHclVerdicts);
    } else {
      verdict_family(m, o.verdict, kFaultTestVerdicts);
    }
  }
  if (o.fault_test) fault_test_families(m, o);
  if (o.readings) reading_families(m, o);
  if (o.hcl != nullptr) hcl_families(m, *o.hcl);
  return m.text();
}

bool write_run_metrics(const std::string& path, const RunOutcome& outcome, std::string* error) {
  // The collector runs as its own user: the file must be readable by others.
  ReplaceOptions how;
  how.mode = 0644;
  return replace_file(path, run_metrics_text(outcome), how, error);
}

}  // namespace dravik
