#include "app/app.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <memory>

#include "app/cmdline/cmdline.h"
#include "app/records/report_capture.h"
#include "app/run/run.h"
#include "app/records/run_records.h"
#include "app/run/startup.h"
#include "app/records/verdict_tap.h"
#include "bench/bench.h"
#include "core/run/event_sink.h"
#include "core/run/flags.h"
#include "core/output_check.h"
#include "core/text.h"
#include "engine/drivers/offline.h"
#include "engine/drivers/production.h"
#include "engine/drivers/selftest.h"
#include "hcl/context.h"
#include "hcl/phases/script.h"
#include "klog/klog.h"
#include "memory/probes/probes.h"
#include "report/console/hcl_console_output.h"
#include "report/console/summary.h"
#include "report/json/hcl_json_output.h"
#include "report/tui/screen/screen.h"
#include "report/tui/ui_loop.h"

namespace dravik {

namespace {

bool tests_memory(RunMode mode) { return mode == RunMode::PRODUCTION || mode == RunMode::OFFLINE; }

// Lowest scheduling class and priority, first victim of the OOM killer: the
// box's own services always come first. Refusals are silent.
void become_polite_neighbour(Run& run) {
  if (tests_memory(run.cfg.mode)) {
    sched_param param{};
    param.sched_priority = 0;
    if (sched_setscheduler(0, SCHED_IDLE, &param) == 0) run.st.idle_sched = 1;
    if (setpriority(PRIO_PROCESS, 0, 19) == 0) run.st.nice = 19;
  }
  write_oom_score_adj(run.paths.oom_score_adj);
}

// The one place the output style is decided: the sink, and the grid the
// memory map is laid out on (the terminal's map area, or 120 x 18 for JSON).
void choose_output(Run& run) {
  if (run.cfg.output == OutputStyle::json) {
    run.sink = json_sink(run);
    run.map.want_cols = 120;
    run.map.want_rows = 18;
    return;
  }
  run.sink = ui_sink(run);
  // An unknown size (0 x 0) gives the map of a 100 x 30 terminal.
  int32_t term_cols = 0, term_rows = 0;
  query_terminal_size(STDOUT_FILENO, &term_cols, &term_rows);
  const MapDims dims = map_dims_for_terminal(term_cols, term_rows);
  run.map.want_cols = dims.cols;
  run.map.want_rows = dims.rows;
}

// The qualification's output, chosen by the same style: JSON lines, or the
// console report.
std::unique_ptr<HclOutput> hcl_output(const RunConfig& cfg) {
  if (cfg.output == OutputStyle::json) return std::make_unique<JsonHclOutput>(stdout);
  return std::make_unique<ConsoleHclOutput>(stdout);
}

// The qualification sees the run only through its context: settings, the
// files start-up reads, its output and the kernel-log hooks. Its verdict
// report, once it has one, is kept in *verdict for the run's records.
int run_hcl(Run& run, ReportCapture& report, std::optional<HclVerdictReport>* verdict) {
  const std::unique_ptr<HclOutput> out = report.wrap(hcl_output(run.cfg));
  VerdictTap tap(*out);
  HclContext ctx(run.cfg, tap);
  ctx.paths.meminfo = run.paths.meminfo;
  ctx.paths.psi_memory = run.paths.psi_memory;
  ctx.paths.edac_mc = run.paths.edac_mc;
  ctx.mem_total = run.st.mem_total;
  ctx.page_size = run.phys.page_size;
  ctx.flush_usable = run.clflush_usable;
  if (run.klog.fd >= 0) ctx.klog_drain = [&run] { klog_drain(run); };
  ctx.klog_crit = [&run] { return run.klog.crit; };
  const int code = run_qualification(ctx);
  *verdict = tap.report();
  return code;
}

void finish(Run& run) {
  const EdacCounts edac = edac_counts(run.paths.edac_mc);
  run.st.edac_ce_end = edac.ce;
  run.st.edac_ue_end = edac.ue;
  if (run.klog.fd >= 0) klog_drain(run);
  if (tests_memory(run.cfg.mode)) {
    // The final map, then the summary (on the console: the last frame, the
    // terminal restored and the printed summary).
    emit_event(run.sink, EventKind::map);
    emit_event(run.sink, EventKind::summary);
  }
  klog_close(run);
  phys_close(run.phys);
}

// A lost output is the same failure as a lost record: what should have told
// the result did not.
static_assert(kOutputNotWritten == kRecordsNotWritten);

// The run's status once its standard output is checked (before the records,
// which keep the status the process ends with). After a hangup the terminal
// the output went to is gone by definition: a failed write is still told,
// but the run's own status stands.
int output_checked(const Run& run, int status) {
  const int checked = standard_output_check().final_status(status);
  return end_reason_of(run.st) == EndReason::HANGUP ? status : checked;
}

// An exception that reached the top of the program: the terminal is given
// back first so that the message is readable.
int internal_error(const char* what) {
  restore_terminal();
  fprintf(stderr, "dravik: internal error: %s\n", what);
  fflush(stderr);
  return kInternalError;
}

// The body of run_program, which may throw.
int run_stages(Run& run, int argc, const char* const* argv) {
  if (auto code = parse_command_line(argc, argv, run.cfg)) return output_checked(run, *code);
  if (!run.cfg.report_from_path.empty()) {
    return output_checked(run, report_from_stream(run.cfg));
  }
  RunEnd end;
  end.start_time = wall_seconds();
  end.options.assign(argv + 1, argv + argc);
  // A run killed outright leaves this record: a run that never finished.
  note_run_start(run.cfg, end.start_time);
  ReportCapture report(run);
  if (run.cfg.selftest) {
    end.exit_status = output_checked(run, run_selftest(run.paths));
    end.exit_status = report.finish(end);
    return keep_records_of(run, end);
  }
  probe_machine(run);
  run.klog.enabled = run.cfg.klog_enabled;
  if (run.cfg.klog_enabled) klog_setup(run);
  run.st.run_start_time = now_seconds();
  choose_output(run);
  report.attach();
  install_signal_handlers(&run.st.end_reason);
  become_polite_neighbour(run);
  if (tests_memory(run.cfg.mode)) ui_start(run);
  // The start event reports the memory left untested, so the budget is
  // taken before it rather than when the first pass begins.
  if (tests_memory(run.cfg.mode)) take_budget(run);
  emit_event(run.sink, EventKind::start);
  if (run.cfg.klog_enabled && run.klog.available) klog_initial_read(run);

  int hcl_exit_code = 3;
  std::optional<HclVerdictReport> hcl_verdict;
  switch (run.cfg.mode) {
    case RunMode::HCL: hcl_exit_code = run_hcl(run, report, &hcl_verdict); break;
    case RunMode::BENCH: run_bench(run); break;
    case RunMode::OFFLINE: run_offline(run); break;
    default: run_production(run); break;
  }
  finish(run);
  end.exit_status =
      output_checked(run, run.cfg.mode == RunMode::HCL ? hcl_exit_code : run_exit_code(run));
  end.hcl = hcl_verdict ? &*hcl_verdict : nullptr;
  end.exit_status = report.finish(end);
  return keep_records_of(run, end);
}

}  // namespace

int run_main(int argc, char** argv) {
  try {
    auto run = std::make_unique<Run>();
    return run_program(*run, argc, argv);
  } catch (const std::exception& e) {
    return internal_error(e.what());
  } catch (...) {
    return internal_error("unknown exception");
  }
}

int run_program(Run& run, int argc, const char* const* argv) {
  try {
    return run_stages(run, argc, argv);
  } catch (const std::exception& e) {
    return internal_error(e.what());
  } catch (...) {
    return internal_error("unknown exception");
  }
}

}  // namespace dravik
