// The hcl_verdict line: the verdict, the criteria with their figures, and the
// evidence behind them, in one JSON object.
#include <algorithm>
#include <cmath>

#include "core/output_check.h"
#include "core/text.h"
#include "hcl/verdict/verdict.h"
#include "report/json/hcl_json_output.h"

namespace dravik {

namespace {

constexpr size_t kReasonCap = 192;

const char* json_bool(bool b) { return b ? "true" : "false"; }

double finite(double x) { return json_figure(x); }

const char* uniform_json(int uniform) {
  return uniform == 1 ? "true" : uniform == 0 ? "false" : "null";
}

const char* ledger_json(int ledger) {
  return ledger == 1 ? "ok" : ledger == 0 ? "mismatch" : "n/a";
}

}  // namespace

void JsonHclOutput::verdict(const HclVerdictReport& r) {
  FILE* f = out_;
  const HclVerdictInputs& in = r.figures;
  const HclRun& run = in.run;
  const HclCriteria& c = r.criteria;
  char esc[kReasonCap];

  fprintf(f,
          "{\"event\":\"hcl_verdict\",\"verdict\":\"%s\",\"exit\":%d,\"qa_eligible\":%s,"
          "\"provisional\":%s,\"tier\":\"%s\",\"setup\":{\"uniform\":%s,\"reasons\":[",
          verdict_word(r.verdict), r.exit, json_bool(r.qa_eligible), json_bool(c.provisional),
          hcl_tier_word(r.tier), uniform_json(in.setup_uniform));
  const char* sep = "";
  for (const std::string& reason : in.setup_reasons) {
    json_escape(reason.c_str(), esc, sizeof esc);
    fprintf(f, "%s\"%s\"", sep, esc);
    sep = ",";
  }

  // channels_src is one of the inventory's fixed texts; escaping leaves those as they are.
  char channels[kReasonCap];
  json_escape(in.channels_src.c_str(), channels, sizeof channels);
  fprintf(f,
          "]},\"coverage\":{\"arena_bytes\":%llu,\"total_bytes\":%llu,\"total_src\":\"%s\"},"
          "\"env\":{\"busy\":%s,\"throttled\":%s,\"load1\":%.2f,\"psi_mem10\":%.2f,"
          "\"latency_busy\":%s,\"latency_others_pct\":%.1f,\"latency_psi_mem10\":%.2f},"
          "\"criteria\":[{\"name\":\"setup\",\"status\":\"%s\"},"
          "{\"name\":\"jedec_efficiency\",\"status\":\"%s\",\"measured_gbs\":%.2f,"
          "\"theoretical_gbs\":%.2f,\"efficiency_pct\":%.1f,\"pass_pct\":%.0f,\"fail_pct\":%.0f,"
          "\"floor_src\":\"%s\",\"channels_src\":\"%s\"},",
          static_cast<unsigned long long>(run.arena_total), static_cast<unsigned long long>(run.mem_total),
          run.total_from_cgroup ? "cgroup" : "meminfo",
          json_bool(run.busy), json_bool(c.throttled), finite(run.load1), finite(run.psi_mem10),
          json_bool(run.latency_load.busy), finite(run.latency_load.others_pct),
          finite(run.latency_load.psi_mem10),
          criterion_word(c.setup), criterion_word(c.jedec_efficiency), finite(run.peak_read),
          finite(in.theoretical_gbs), finite(c.efficiency_pct), finite(r.floors.pass_floor),
          finite(r.floors.fail_floor), r.floors.from_table ? "table" : "default", channels);
  fprintf(f,
          "{\"name\":\"latency_jitter\",\"status\":\"%s\",\"avg_ns\":%.2f,\"p99_ns\":%.2f,"
          "\"ratio\":%.2f,\"limit\":%.1f,\"loaded_avg_ns\":%.2f,\"loaded_p99_ns\":%.2f},"
          "{\"name\":\"patterns\",\"status\":\"%s\",\"addr_errors\":%lld,\"pattern_errors\":%lld,"
          "\"churn_errors\":%lld,\"realism_errors\":%lld},"
          "{\"name\":\"bit_fade\",\"status\":\"%s\",\"fade_secs\":%d,\"fade_errors\":%lld,"
          "\"cooldown_errors\":%lld},",
          criterion_word(c.latency_jitter), finite(run.lat_idle_avg), finite(run.lat_idle_p99),
          finite(c.jitter_ratio), kHclJitterLimit, finite(run.lat_loaded_avg),
          finite(run.lat_loaded_p99),
          criterion_word(c.patterns), static_cast<long long>(run.addr_errors),
          static_cast<long long>(run.pattern_errors), static_cast<long long>(run.churn_errors),
          static_cast<long long>(run.realism_errors), criterion_word(c.bit_fade),
          run.fade_errors >= 0 ? run.fade_secs : 0,
          static_cast<long long>(std::max<int64_t>(run.fade_errors, 0)),
          static_cast<long long>(std::max<int64_t>(run.cooldown_errors, 0)));
  fprintf(f,
          "{\"name\":\"variance\",\"status\":\"%s\",\"stddev_pct\":%.2f,\"limit_pct\":%.0f},"
          "{\"name\":\"degradation\",\"status\":\"%s\",\"last_first_ratio\":%.3f,\"floor\":%.2f},"
          "{\"name\":\"ce_policy\",\"status\":\"%s\",\"edac_ce\":%lld},"
          "{\"name\":\"zero_errors\",\"status\":\"%s\",\"bit_errors\":%lld,\"edac_ce\":%lld,"
          "\"edac_ue\":%lld,\"edac_ce_saturation\":%lld,\"klog_crit\":%lld,\"oltp_ledger\":\"%s\"}],",
          criterion_word(c.variance), run.stddev_pct > 0 ? finite(run.stddev_pct) : 0.0,
          kHclVarianceLimitPct, criterion_word(c.degradation),
          run.last_first_ratio > 0 ? finite(run.last_first_ratio) : 0.0, kHclDegradationFloor,
          criterion_word(c.ce_policy),
          static_cast<long long>(c.ce_delta), criterion_word(c.zero_errors),
          static_cast<long long>(in.error_total), static_cast<long long>(c.ce_delta),
          static_cast<long long>(c.ue_delta), static_cast<long long>(run.edac_ce_saturate),
          static_cast<long long>(c.klog_crit_delta), ledger_json(run.ledger));
  fprintf(f,
          "\"peak\":{\"read_gbs\":%.2f,\"write_gbs\":%.2f,\"saturation_threads\":%d,"
          "\"oltp_mops\":%.2f,\"scaling\":[",
          finite(run.peak_read), finite(run.peak_write), run.saturation_threads,
          finite(run.oltp_mops));
  sep = "";
  for (const HclSweepPoint& p : run.sweep) {
    fprintf(f, "%s{\"threads\":%d,\"read_gbs\":%.2f,\"write_gbs\":%.2f}", sep, p.threads,
            finite(p.read_gbs), finite(p.write_gbs));
    sep = ",";
  }
  fprintf(f, "],\"saturate\":{\"rounds\":%lld,\"errors\":%lld,\"seconds\":%d}},\"contended\":%s",
          static_cast<long long>(run.rounds), static_cast<long long>(run.saturate_errors), run.duration,
          json_bool(run.contended));
  if (run.contended) {
    fputs(",\"contended_note\":\"less than 40% of RAM was free at start — services share the "
          "memory bus; a bandwidth shortfall here indicts the system state, not necessarily the "
          "DIMMs. Re-run quiesced (or after Vorlay frees the ARC) before condemning hardware.\"",
          f);
  }
  fputs("}\n", f);
  flush_output(f);
}

}  // namespace dravik
