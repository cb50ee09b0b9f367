#include "app/app.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "bench/bench.h"
#include "app/cmdline.h"
#include "core/flags.h"
#include "app/run.h"
#include "app/startup.h"
#include "engine/production.h"
#include "engine/selftest.h"
#include "core/text.h"
#include "klog/klog.h"
#include "memory/probes.h"
#include "core/event_sink.h"
#include "report/tui/screen.h"
#include "report/console/summary.h"
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

void finish(Run& run) {
  const EdacCounts edac = edac_counts(run.paths.edac_mc);
  run.st.edac_ce_end = edac.ce;
  run.st.edac_ue_end = edac.ue;
  if (run.klog.fd >= 0) klog_drain(run);
  if (tests_memory(run.cfg.mode)) {
    if (run.cfg.output == OutputStyle::json) {
      emit_event(run, EventKind::map);
      emit_event(run, EventKind::summary);
    } else {
      emit_event(run, EventKind::summary);
      if (run.ui.ui_active) draw_frame(run);
      restore_terminal();
      fputs("\x1b[2J\x1b[H", stdout);
      print_summary(run, stdout);
    }
  }
  klog_close(run);
  phys_close(run.phys);
}

}  // namespace

int run_main(int argc, char** argv) {
  auto run = std::make_unique<Run>();
  if (auto code = parse_command_line(argc, argv, run->cfg)) return *code;
  if (run->cfg.selftest) return run_selftest(*run);
  if (run->cfg.mode == RunMode::HCL) {
    fprintf(stderr, "dravik: --hcl (hardware qualification) is not built yet\n");
    return 3;
  }


  probe_machine(*run);
  run->klog.enabled = run->cfg.klog_enabled;
  if (run->cfg.klog_enabled) klog_setup(*run);
  run->st.run_start_time = now_seconds();
  run->sink = run->cfg.output == OutputStyle::json ? &json_sink() : &ui_sink();
  install_signal_handlers(&run->st.end_reason);
  become_polite_neighbour(*run);
  if (tests_memory(run->cfg.mode) && run->cfg.output != OutputStyle::json) ui_start(*run);
  // The start event reports the memory left untested, so the budget is
  // taken before it rather than when the first pass begins.
  if (tests_memory(run->cfg.mode)) take_budget(*run);
  emit_event(*run, EventKind::start);
  if (run->cfg.klog_enabled && run->klog.available) klog_initial_read(*run);

  switch (run->cfg.mode) {
    case RunMode::BENCH: run_bench(*run); break;
    case RunMode::OFFLINE: run_offline(*run); break;
    default: run_production(*run); break;
  }
  finish(*run);
  return run_exit_code(*run);
}

}  // namespace dravik
