// What the dashboard costs: bytes of a full frame and of a frame whose map
// did not change, time to compose one, and the CPU share of redrawing ten
// times a second, at 100x30 and 200x60, for a calm map (long runs of one
// state) and a busy one (the state changes at every cell).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "app/run/run.h"
#include "engine/map/memory_map.h"
#include "core/text.h"
#include "report/tui/screen/screen.h"
#include "report/tui/draw/screen_frame.h"
#include "report/tui/ui_loop.h"

using namespace dravik;

namespace {

std::unique_ptr<Run> make_bench_run(OutputStyle style, int cols, int rows, bool busy) {
  auto run = std::make_unique<Run>();
  run->cfg.output = style;
  run->cfg.passes = 0;
  run->st.run_start_time = now_seconds() - 3600;
  run->st.mem_total = 32ull << 30;
  run->st.budget = 24ull << 30;
  run->st.untested = 8ull << 30;
  run->st.pass_bytes = 10ull << 30;
  run->st.current_pass = 2;
  run->st.algo_name = "movinv-rand";
  run->ui.ui_start_time = now_seconds() - 600;
  const MapDims dims = map_dims_for_terminal(cols, rows);
  map_setup(run->map, run->phys.ram_ranges, run->st, dims.cols, dims.rows);
  const ScreenSize size = screen_size(cols, rows);
  run->ui.last_width = size.cols;
  run->ui.last_height = size.rows;
  for (int32_t i = 0; i < run->map.cells; ++i) {
    const uint8_t s = busy ? static_cast<uint8_t>(i % 9) : static_cast<uint8_t>(i < run->map.cells / 2 ? 3 : 1);
    run->map.put(i, s);
  }
  run->klog.available = 1;
  for (int i = 0; i < 6; ++i) {
    KlogEntry& e = run->klog.ring[i];
    e.level = i % 3;
    snprintf(e.tag, sizeof e.tag, "edac");
    snprintf(e.text, sizeof e.text, "EDAC MC0: 1 CE memory read error on CPU_SrcID#0_Ha#0_Chan#%d_DIMM#0", i);
    e.count = 1 + i;
  }
  run->klog.next = 6;
  run->klog.entries = 6;
  for (int i = 0; i < 8; ++i) {
    FaultRecord& r = run->faults.records[static_cast<size_t>(i)];
    snprintf(r.test, sizeof r.test, "movinv-rand");
    r.vaddr = 0x7f1234560000ull + 8u * i;
    r.paddr = 0x12345000ull + 8u * i;
    r.xor_value = 1ull << i;
    r.bits = 1;
    r.count = 2;
    r.cls = FaultClass::hard;
  }
  run->faults.used = 8;
  run->faults.shown_hard = 8;
  return run;
}

struct Figures {
  size_t full_bytes = 0;
  size_t quiet_bytes = 0;
  double full_us = 0;
  double quiet_us = 0;
  double cpu_pct = 0;
};

Figures measure(OutputStyle style, int cols, int rows, bool busy, int devnull) {
  Figures fig;
  auto run = make_bench_run(style, cols, rows, busy);
  ScreenFrame frame;
  compose_frame(*run, frame, cols, rows);
  fig.full_bytes = frame.len;
  compose_frame(*run, frame, cols, rows);
  fig.quiet_bytes = frame.len;

  constexpr int kRounds = 2000;
  double t0 = now_seconds();
  for (int i = 0; i < kRounds; ++i) {
    run->map.dirty = 1;
    compose_frame(*run, frame, cols, rows);
  }
  fig.full_us = (now_seconds() - t0) / kRounds * 1e6;
  t0 = now_seconds();
  for (int i = 0; i < kRounds; ++i) compose_frame(*run, frame, cols, rows);
  fig.quiet_us = (now_seconds() - t0) / kRounds * 1e6;

  // Ten frames a second for three seconds, as the tick draws them, with one
  // map change per second (a window finishing) and written to /dev/null.
  const double wall0 = now_seconds();
  const double cpu0 = thread_cpu_seconds();
  for (int i = 0; i < 30; ++i) {
    if (i % 10 == 0) run->map.dirty = 1;
    compose_frame(*run, frame, cols, rows);
    frame_write(frame, devnull);
    usleep(100000);
  }
  fig.cpu_pct = (thread_cpu_seconds() - cpu0) / (now_seconds() - wall0) * 100.0;
  return fig;
}

}  // namespace

int main() {
  const int devnull = open("/dev/null", O_WRONLY);
  printf("%-6s %-8s %-5s %11s %12s %11s %12s %10s\n", "style", "size", "map", "full bytes", "quiet bytes",
         "full us", "quiet us", "cpu @10Hz");
  for (OutputStyle style : {OutputStyle::ascii_dashboard, OutputStyle::glyph_dashboard}) {
    for (const auto& [cols, rows] : {std::pair{100, 30}, std::pair{200, 60}}) {
      for (bool busy : {false, true}) {
        const Figures f = measure(style, cols, rows, busy, devnull);
        char size[16];
        snprintf(size, sizeof size, "%dx%d", cols, rows);
        printf("%-6s %-8s %-5s %11zu %12zu %11.1f %12.1f %9.3f%%\n", style == OutputStyle::glyph_dashboard ? "ui2" : "ui",
               size, busy ? "busy" : "calm", f.full_bytes, f.quiet_bytes, f.full_us, f.quiet_us, f.cpu_pct);
      }
    }
  }
  printf("quiet: a frame whose map cells did not change (no map rows sent)\n");
  printf("cpu @10Hz: main-thread CPU time over wall time, one map change per second\n");
  close(devnull);
  return 0;
}
