#include "app/records/run_records.h"

#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "app/run/run.h"
#include "core/text.h"
#include "hcl/verdict/verdict.h"
#include "report/json/hcl_json_output.h"
#include "report/json/json_lines.h"
#include "report/records/history/file.h"
#include "report/records/history/line.h"
#include "report/records/metrics/carry.h"
#include "report/records/record_verdict.h"
#include "report/records/metrics/run_metrics.h"

namespace dravik {

namespace {

bool tests_memory(RunMode mode) { return mode == RunMode::PRODUCTION || mode == RunMode::OFFLINE; }

int64_t edac_delta(int64_t before, int64_t after) {
  return (before < 0 || after < 0) ? -1 : after - before;
}

// One JSON line written by write, without its newline.
template <typename Write>
std::string captured_line(Write write) {
  char* buf = nullptr;
  size_t size = 0;
  FILE* mem = open_memstream(&buf, &size);
  if (mem == nullptr) return "";
  write(mem);
  fclose(mem);
  std::string line(buf, size);
  free(buf);
  while (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

std::string host_name() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

void fill_fault_test(const Run& run, RunOutcome& o) {
  const RunState& st = run.st;
  o.fault_test = true;
  o.tested_bytes = st.total_bytes.load(std::memory_order_relaxed);
  o.hard_faults = run.faults.shown_hard.load(std::memory_order_relaxed);
  o.transient_faults = run.faults.shown_transient.load(std::memory_order_relaxed);
  o.addressing_suspect = st.address_fault_seen.load(std::memory_order_relaxed) != 0;
  o.end_reason = st.end_reason.load(std::memory_order_relaxed);
  o.verdict = fault_test_record_verdict(o.hard_faults, o.transient_faults, o.addressing_suspect,
                                        o.end_reason, o.tested_bytes);
  const RunView& view = run;
  o.result_line = captured_line([&view](FILE* f) { json_summary_line(f, view); });
}

void fill_qualification(const HclVerdictReport& r, RunOutcome& o) {
  o.hcl = &r;
  o.verdict = verdict_word(r.verdict);
  const HclVerdictInputs& in = r.figures;
  o.edac_ce_delta = edac_delta(in.run.edac_ce_start, in.edac_ce_end);
  o.edac_ue_delta = edac_delta(in.run.edac_ue_start, in.edac_ue_end);
  o.klog_crit = r.criteria.klog_crit_delta;
  o.result_line = captured_line([&r](FILE* f) { JsonHclOutput(f).verdict(r); });
}

// What the start-of-run record knows of a run: its mode and the depth word of
// the mode, as run_outcome gives them.
RunOutcome labelled_outcome(const RunConfig& cfg) {
  RunOutcome o;
  o.mode = cfg.mode;
  o.selftest = cfg.selftest != 0;
  if (o.selftest) return o;
  if (tests_memory(cfg.mode)) o.tier = tier_word(cfg.tier);
  if (cfg.mode == RunMode::HCL) o.tier = hcl_tier_word(cfg.hcl_tier);
  return o;
}

}  // namespace

double wall_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

RunOutcome run_outcome(Run& run, const RunEnd& end) {
  const RunConfig& cfg = run.cfg;
  RunOutcome o;
  o.mode = cfg.mode;
  o.selftest = cfg.selftest != 0;
  o.start_time = end.start_time;
  o.end_time = wall_seconds();
  o.duration_s = run.st.run_start_time > 0.0 ? now_seconds() - run.st.run_start_time
                                             : o.end_time - o.start_time;
  o.exit_status = end.exit_status;
  o.host = host_name();
  o.options = end.options;
  if (o.selftest) {
    o.verdict = end.exit_status == 0 ? "PASS" : "FAIL";
    return o;
  }
  o.readings = true;
  o.edac_ce_delta = edac_delta(run.st.edac_ce_start, run.st.edac_ce_end);
  o.edac_ue_delta = edac_delta(run.st.edac_ue_start, run.st.edac_ue_end);
  o.klog_crit = klog_crit_during(run.klog);
  if (tests_memory(cfg.mode)) {
    o.tier = tier_word(cfg.tier);
    fill_fault_test(run, o);
  } else if (cfg.mode == RunMode::HCL) {
    o.tier = hcl_tier_word(cfg.hcl_tier);
    // A qualification that could not start has no report: INCONCLUSIVE, as
    // its exit status says.
    o.verdict = "INCONCLUSIVE";
    if (end.hcl != nullptr) fill_qualification(*end.hcl, o);
  } else {
    o.result_line = captured_line([](FILE* f) { json_bench_summary_line(f); });
  }
  return o;
}

void note_run_start(const RunConfig& cfg, double start_time, FILE* err) {
  if (cfg.metrics_path.empty()) return;
  RunOutcome o = labelled_outcome(cfg);
  o.in_progress = true;
  o.start_time = start_time;
  o.carried_metrics = carried_metrics(read_previous_metrics(cfg.metrics_path));
  std::string why;
  if (!write_run_metrics(cfg.metrics_path, o, &why)) {
    fprintf(err, "dravik: metrics not written: %s\n", why.c_str());
    fflush(err);
  }
}

int keep_records_of(Run& run, const RunEnd& end) {
  if (run.cfg.history_path.empty() && run.cfg.metrics_path.empty()) return end.exit_status;
  RunOutcome outcome = run_outcome(run, end);
  return keep_run_records(run.cfg, outcome);
}

int keep_run_records(const RunConfig& cfg, RunOutcome& outcome, FILE* err) {
  int status = outcome.exit_status;
  std::string why;
  if (!cfg.history_path.empty() &&
      !append_history(cfg.history_path, history_line(outcome), kHistoryLines, &why)) {
    fprintf(err, "dravik: history not written: %s\n", why.c_str());
    if (status == 0) status = kRecordsNotWritten;
  }
  if (!cfg.metrics_path.empty()) {
    // The metrics tell the status the process ends with, a failed history
    // included.
    outcome.exit_status = status;
    if (!write_run_metrics(cfg.metrics_path, outcome, &why)) {
      fprintf(err, "dravik: metrics not written: %s\n", why.c_str());
      if (status == 0) status = kRecordsNotWritten;
    }
  }
  fflush(err);
  return status;
}

}  // namespace dravik
