#include "report/tui/ui_sink.h"

#include <cstdio>

#include "report/console/bench_table.h"
#include "report/console/summary.h"
#include "report/run_view.h"
#include "report/tui/draw/ansi.h"
#include "report/tui/screen/screen.h"
#include "report/tui/ui_loop.h"

namespace dravik {

namespace {

// The end of a memory test: the last frame, the terminal given back, the
// screen cleared and the summary printed where the dashboard was.
void finish_on_console(RunView& run) {
  if (run.ui.ui_active) draw_frame(run);
  restore_terminal();
  fputs(kClearScreenHome, stdout);
  print_summary(run, stdout);
}

}  // namespace

void ui_emit(RunView& run, EventKind kind, const void* payload) {
  switch (kind) {
    case EventKind::map:
    case EventKind::phase:
    case EventKind::fault:
    case EventKind::pressure:
    case EventKind::log:
    case EventKind::klog:
      if (run.ui.ui_active) draw_frame(run);
      break;
    case EventKind::summary:
      finish_on_console(run);
      break;
    case EventKind::bench_start:
      if (payload != nullptr) {
        print_bench_header(stdout, *static_cast<const BenchStart*>(payload), run.clflush_usable);
      }
      break;
    case EventKind::bench_point:
      if (payload != nullptr) print_bench_row(stdout, *static_cast<const BenchPoint*>(payload));
      break;
    case EventKind::bench_summary:
      print_bench_done(stdout);
      break;
    default:
      break;
  }
}

}  // namespace dravik
