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
          static_cast<unsigned long long>(in.arena_total), static_cast<unsigned long long>(in.mem_total),
          in.total_from_cgroup ? "cgroup" : "meminfo",
          json_bool(in.busy), json_bool(c.throttled), finite(in.load1), finite(in.psi_mem10),
          json_bool(in.latency_load.busy), finite(in.latency_load.others_pct),
          finite(in.latency_load.psi_mem10),
          criterion_word(c.setup), criterion_word(c.jedec_efficiency), finite(in.peak_read),
          finite(in.theoretical_gbs), finite(c.efficiency_pct), finite(r.floors.pass_floor),
          finite(r.floors.fail_floor), r.floors.from_table ? "table" : "default", channels);
  fprintf(f,
          "{\"name\":\"latency_jitter\",\"status\":\"%s\",\"avg_ns\":%.2f,\"p99_ns\":%.2f,"
          "\"ratio\":%.2f,\"limit\":2.5,\"loaded_avg_ns\":%.2f,\"loaded_p99_ns\":%.2f},"
          "{\"name\":\"patterns\",\"status\":\"%s\",\"addr_errors\":%lld,\"pattern_errors\":%lld,"
          "\"churn_errors\":%lld,\"realism_errors\":%lld},"
          "{\"name\":\"bit_fade\",\"status\":\"%s\",\"fade_secs\":%d,\"fade_errors\":%lld,"
          "\"cooldown_errors\":%lld},",
          criterion_word(c.latency_jitter), finite(in.lat_idle_avg), finite(in.lat_idle_p99),
          finite(c.jitter_ratio), finite(in.lat_loaded_avg), finite(in.lat_loaded_p99),
          criterion_word(c.patterns), static_cast<long long>(in.addr_errors),
          static_cast<long long>(in.pattern_errors), static_cast<long long>(in.churn_errors),
          static_cast<long long>(in.realism_errors), criterion_word(c.bit_fade),
          in.fade_errors >= 0 ? in.fade_secs : 0, static_cast<long long>(std::max<int64_t>(in.fade_errors, 0)),
          static_cast<long long>(std::max<int64_t>(in.cooldown_errors, 0)));
  fprintf(f,
          "{\"name\":\"variance\",\"status\":\"%s\",\"stddev_pct\":%.2f,\"limit_pct\":5},"
          "{\"name\":\"degradation\",\"status\":\"%s\",\"last_first_ratio\":%.3f,\"floor\":0.97},"
          "{\"name\":\"ce_policy\",\"status\":\"%s\",\"edac_ce\":%lld},"
          "{\"name\":\"zero_errors\",\"status\":\"%s\",\"bit_errors\":%lld,\"edac_ce\":%lld,"
          "\"edac_ue\":%lld,\"edac_ce_saturation\":%lld,\"klog_crit\":%lld,\"oltp_ledger\":\"%s\"}],",
          criterion_word(c.variance), in.stddev_pct > 0 ? finite(in.stddev_pct) : 0.0,
          criterion_word(c.degradation),
          in.last_first_ratio > 0 ? finite(in.last_first_ratio) : 0.0, criterion_word(c.ce_policy),
          static_cast<long long>(c.ce_delta), criterion_word(c.zero_errors),
          static_cast<long long>(in.error_total), static_cast<long long>(c.ce_delta),
          static_cast<long long>(c.ue_delta), static_cast<long long>(in.edac_ce_saturate),
          static_cast<long long>(c.klog_crit_delta), ledger_json(in.ledger));
  fprintf(f,
          "\"peak\":{\"read_gbs\":%.2f,\"write_gbs\":%.2f,\"saturation_threads\":%d,"
          "\"oltp_mops\":%.2f,\"scaling\":[",
          finite(in.peak_read), finite(in.peak_write), in.saturation_threads,
          finite(in.oltp_mops));
  sep = "";
  for (const HclSweepPoint& p : in.sweep) {
    fprintf(f, "%s{\"threads\":%d,\"read_gbs\":%.2f,\"write_gbs\":%.2f}", sep, p.threads,
            finite(p.read_gbs), finite(p.write_gbs));
    sep = ",";
  }
  fprintf(f, "],\"saturate\":{\"rounds\":%lld,\"errors\":%lld,\"seconds\":%d}},\"contended\":%s",
          static_cast<long long>(in.rounds), static_cast<long long>(in.saturate_errors), in.duration,
          json_bool(in.contended));
  if (in.contended) {
    fputs(",\"contended_note\":\"less than 40% of RAM was free at start — services share the "
          "memory bus; a bandwidth shortfall here indicts the system state, not necessarily the "
          "DIMMs. Re-run quiesced (or after Vorlay frees the ARC) before condemning hardware.\"",
          f);
  }
  fputs("}\n", f);
  flush_output(f);
}

}  // namespace dravik
