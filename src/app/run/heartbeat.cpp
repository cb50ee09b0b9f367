#include "app/run/heartbeat.h"

#include <unistd.h>

#include "app/run/run.h"
#include "core/run/event_sink.h"
#include "core/run/flags.h"
#include "core/text.h"
#include "engine/map/relayout.h"
#include "klog/klog.h"
#include "report/tui/screen/screen.h"
#include "report/tui/ui_loop.h"

namespace dravik {

namespace {

constexpr double kRefreshSeconds = 0.1;
constexpr useconds_t kHoldSleepMicros = 80000;

void handle_resize(Run& run) {
  int32_t cols = 0, rows = 0;
  query_terminal_size(run.ui.out_fd, &cols, &rows);
  const MapDims dims = map_dims_for_terminal(cols, rows);
  run.map.want_cols = dims.cols;
  run.map.want_rows = dims.rows;
  relayout_map(run.map, run.faults, run.phys.ram_ranges, run.st, dims.cols, dims.rows);
  emit_event(run.sink, EventKind::map);
}

// The user pause: the main thread stays here (and workers in their progress
// checkpoints) until p is pressed again or the run is stopped. The screen
// keeps answering keys and resizes; no progress is emitted.
void hold_for_user(Run& run) {
  UiState& ui = run.ui;
  if (!ui.clock_frozen) {
    ui.clock_frozen = 1;
    ui.pause_start = now_seconds();
  }
  while (pausing() && !stopping()) {
    ui.hold_shown = 1;
    if (ui.ui_active) {
      if (ui.keys_enabled) ui_poll_keys(run);
      if (resize_pending.exchange(0, std::memory_order_relaxed)) handle_resize(run);
      draw_frame(run);
    } else {
      resize_pending.store(0, std::memory_order_relaxed);
    }
    if (pausing() && !stopping()) usleep(kHoldSleepMicros);
  }
  ui.hold_shown = 0;
  ui.clock_frozen = 0;
  const double held = now_seconds() - ui.pause_start;
  if (held > 0.0) ui.paused_total += held;
}

}  // namespace

void heartbeat(Run& run) {
  if (in_worker) return;
  UiState& ui = run.ui;
  if (ui.ui_active && ui.keys_enabled) ui_poll_keys(run);
  if (pausing() && !stopping()) hold_for_user(run);
  if (resize_pending.exchange(0, std::memory_order_relaxed) && ui.ui_active) handle_resize(run);

  const double now = now_seconds();
  if (ui.last_refresh >= 0.0 && now - ui.last_refresh < kRefreshSeconds) return;
  ui.last_refresh = now;
  if (run.klog.fd >= 0) klog_drain(run);
  if (ui.ui_active) draw_frame(run);
  emit_event(run.sink, EventKind::progress);
}

}  // namespace dravik
