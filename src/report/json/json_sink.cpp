// The JSON sink: dispatch of each event to its line, the stream and the
// framing, and the lines of the smaller event kinds.
#include "report/json/json_sink.h"

#include <cmath>
#include <cstdint>

#include "core/output_check.h"
#include "report/run_view.h"
#include "engine/progress.h"
#include "core/text.h"
#include "core/run/event_sink.h"
#include "report/run_view.h"
#include "report/json/json_lines.h"

namespace dravik {

namespace {

// Only the main thread emits, so the stream pointer needs no guard.
FILE* redirected_output = nullptr;

constexpr double kMapSeconds = 1.0;

// Seconds since the run started (pauses included).
double run_elapsed(const RunView& run) { return now_seconds() - run.st.run_start_time; }

// A map line, remembered as the latest.
void json_map_event(FILE* out, RunView& run) {
  json_map_line(out, run);
  json_end_line(out);
  run.json.last_map_line = now_seconds();
}

}  // namespace

FILE* json_output() { return redirected_output ? redirected_output : stdout; }
void set_json_output(FILE* out) { redirected_output = out; }

void json_end_line(FILE* out) {
  flush_output(out);
  clearerr(out);
}

void json_emit(RunView& run, EventKind kind, const void* payload) {
  FILE* out = json_output();
  switch (kind) {
    case EventKind::start: json_start_line(out, run); break;
    case EventKind::map: json_map_event(out, run); return;
    case EventKind::phase: json_phase_line(out, run); break;
    case EventKind::progress:
      json_progress_line(out, run);
      json_end_line(out);
      // The map follows progress once a second, counted from any map line.
      // A run without a map (the benchmark) writes none.
      if (run.map.cell != nullptr &&
          (run.json.last_map_line < 0.0 || now_seconds() - run.json.last_map_line >= kMapSeconds)) {
        json_map_event(out, run);
      }
      return;
    case EventKind::cell: json_cell_line(out, run); break;
    case EventKind::fault:
      if (payload == nullptr) return;
      json_fault_line(out, run, *static_cast<const FaultRecord*>(payload));
      break;
    case EventKind::pressure:
      if (payload == nullptr) return;
      json_pressure_line(out, *static_cast<const PressureRecord*>(payload));
      break;
    case EventKind::bench_point:
      if (payload == nullptr) return;
      json_bench_point_line(out, *static_cast<const BenchPoint*>(payload));
      break;
    case EventKind::bench_summary: json_bench_summary_line(out); break;
    case EventKind::summary: json_summary_line(out, run); break;
    case EventKind::log: json_log_line(out, run); break;
    case EventKind::klog:
      if (payload == nullptr) return;
      json_klog_line(out, *static_cast<const KlogEntry*>(payload));
      break;
    default: return;
  }
  json_end_line(out);
}

void json_map_line(FILE* out, const RunView& run) {
  const MapGeometry& map = run.map;
  const int32_t cells = map.cell ? map.cells : 0;
  fprintf(out,
          "{\"event\":\"map\",\"cols\":%d,\"rows\":%d,\"cells\":%d,\"bytes_per_cell\":%llu,"
          "\"logical\":%s,\"base\":%llu,\"span\":%llu,",
          map.cols, map.rows, cells, static_cast<unsigned long long>(map.bytes_per_cell),
          json_bool(map.logical != 0), static_cast<unsigned long long>(map.base),
          static_cast<unsigned long long>(map.span));
  fputs("\"cell_states\":\"", out);
  for (int32_t i = 0; i < cells; ++i) {
    // A byte outside the states counts as untested, as on the screen; it must
    // never become a quote or a backslash inside the string.
    const uint8_t state = map.get(i);
    fputc('0' + (state <= 9 ? state : 1), out);
  }
  fputs("\"}\n", out);
}

void json_phase_line(FILE* out, const RunView& run) {
  char name[24];
  current_test_name(run.st, name);
  fprintf(out, "{\"event\":\"phase\",\"test\":\"%s\",\"pass\":%lld,\"total_passes\":%lld,\"pct\":%d}\n",
          name, static_cast<long long>(run.st.current_pass), static_cast<long long>(run.st.total_passes),
          run.st.algo_pct.load(std::memory_order_relaxed));
}

void json_cell_line(FILE* out, const RunView& run) {
  fprintf(out, "{\"event\":\"cell\",\"active_lo\":%d,\"active_hi\":%d,\"win\":%d}\n",
          run.st.active_lo, run.st.active_hi, run.st.regions_in_pass);
}

void json_pressure_line(FILE* out, const PressureRecord& r) {
  fprintf(out,
          "{\"event\":\"pressure\",\"action\":\"%s\",\"mem_available\":%llu,\"threshold\":%llu,"
          "\"pause_no\":%d,\"max_pauses\":%d,\"wait_s\":%.1f}\n",
          r.action ? r.action : "", static_cast<unsigned long long>(r.mem_available),
          static_cast<unsigned long long>(r.threshold), r.pause_no, r.max_pauses, r.wait_s);
}

void json_bench_point_line(FILE* out, const BenchPoint& p) {
  fprintf(out, "{\"event\":\"bench_point\",\"size\":%llu,\"op\":\"%.11s\",\"value\":%.3f}\n",
          static_cast<unsigned long long>(p.size), p.op, p.value);
}

void json_bench_summary_line(FILE* out) {
  fputs("{\"event\":\"bench_summary\",\"note\":\"see bench_point series for L1/L2/L3/DRAM edges\"}\n",
        out);
}

void json_log_line(FILE* out, const RunView& run) {
  char msg[kEscapedCap];
  json_escape(run.st.status_line, msg, sizeof msg);
  fprintf(out, "{\"event\":\"log\",\"msg\":\"%s\",\"ts\":%.1f}\n", msg, run_elapsed(run));
}

void json_klog_line(FILE* out, const KlogEntry& e) {
  const char* level = e.level == 2 ? "crit" : e.level == 1 ? "warn" : "info";
  char text[kEscapedCap];
  json_escape(e.text, text, sizeof text);
  // A time stamp that is not a number would not be valid JSON.
  const double kts = std::isfinite(e.kts) ? e.kts : -1.0;
  fprintf(out, "{\"event\":\"klog\",\"level\":\"%s\",\"tag\":\"%.15s\",\"text\":\"%s\",\"count\":%d,\"kts\":%.3f}\n",
          level, e.tag, text, e.count, kts);
}

}  // namespace dravik
