#include "report/tui/screen/screen.h"

#include <sys/ioctl.h>

#include <cstdio>

#include "core/run/flags.h"
#include "report/run_view.h"
#include "engine/map/memory_map.h"
#include "core/text.h"
#include "engine/map/relayout.h"
#include "report/tui/draw/ansi.h"
#include "report/tui/screen/parts.h"

namespace dravik {

namespace {

constexpr int32_t kMapFirstRow = 5;
constexpr int32_t kDefaultMapRows = 16;

int32_t width_of(const char* text) { return static_cast<int32_t>(visible_width(text)); }

void draw_top_border(FrameView& v) {
  const UiTheme& t = *v.f.theme;
  frame_puts(v.f, t.frame_colour);
  frame_puts(v.f, t.top_left);
  frame_repeat(v.f, t.horizontal, v.width);
  frame_puts(v.f, t.top_right);
  frame_puts(v.f, kReset);
}

void draw_title_bar(FrameView& v) {
  char title[32], badge[24];
  snprintf(title, sizeof title, " DRAVIK v%s ", kVersion);
  snprintf(badge, sizeof badge, " %s ", mode_word(v.run.cfg.mode));
  const int32_t fill = v.width - width_of(title) - width_of(badge);
  // The bar is composed as one text so that frame_row can cut it on a
  // terminal narrower than title and badge together.
  LineText<4096> bar;
  if (v.f.theme->glyph) {
    bar.addf(SGR_BG256(32) SGR_FG256(255) SGR_BOLD "%s" SGR_RESET, title);
    bar.add(SGR_FG256(32) SGR_BG256(235) "▌" SGR_RESET);
    bar.add(SGR_BG256(235) SGR_FG256(238));
    for (int32_t i = 0; i < fill - 2; ++i) bar.add(v.f.theme->horizontal);
    bar.add(SGR_FG256(208) SGR_BG256(235) "▌" SGR_RESET);
    bar.addf(SGR_BG256(208) SGR_FG256(232) SGR_BOLD "%s" SGR_RESET, badge);
  } else {
    bar.addf(SGR_BG_BLUE SGR_FG_BRIGHT_WHITE SGR_BOLD "%s" SGR_RESET, title);
    bar.add(SGR_FG_BRIGHT_BLACK);
    for (int32_t i = 0; i < fill; ++i) bar.add("-");
    bar.addf(SGR_BG_YELLOW SGR_FG_BLACK SGR_BOLD "%s" SGR_RESET, badge);
  }
  frame_row(v.f, 2, bar.text);
}

int yes_no_colour(int32_t flag) { return flag ? kSgrGreen : kSgrYellow; }
const char* yes_no(int32_t flag) { return flag ? "yes" : "no"; }

void draw_info_line(FrameView& v) {
  const RunState& st = v.run.st;
  char total[32], tested[32], reserved[32];
  format_size(st.mem_total, total, sizeof total);
  format_size(st.budget, tested, sizeof tested);
  format_size(st.untested, reserved, sizeof reserved);
  frame_row_printf(v.f, 3,
                   " " SGR_FG_WHITE "MemTotal" SGR_RESET " " SGR_BOLD_CYAN "%s" SGR_RESET "   "
                   SGR_FG_WHITE "Tested" SGR_RESET " " SGR_BOLD_CYAN "%s" SGR_RESET "   "
                   SGR_FG_WHITE "Reserved" SGR_RESET " " SGR_BOLD_CYAN "%s" SGR_RESET "   "
                   SGR_FG_WHITE "phys" SGR_RESET " " SGR_BOLD_FG_FMT "%s" SGR_RESET "   "
                   SGR_FG_WHITE "root" SGR_RESET " " SGR_BOLD_FG_FMT "%s" SGR_RESET,
                   total, tested, reserved, yes_no_colour(st.phys_ok), yes_no(st.phys_ok),
                   yes_no_colour(st.is_root), yes_no(st.is_root));
}

void draw_map_header(FrameView& v) {
  const MapGeometry& map = v.run.map;
  char size[32], title[160];
  format_size(map.bytes_per_cell, size, sizeof size);
  snprintf(title, sizeof title, "MEMORY MAP " SGR_FG_WHITE "%d cells %s %s/cell %s", map.cells, v.dot,
           size, map.logical ? "(logical)" : "(physical)");
  frame_section(v.f, 4, kBoldWhite, title);
}

void draw_progress_bar(FrameView& v, int32_t row) {
  const RunState& st = v.run.st;
  const uint64_t covered = st.pass_bytes.load(std::memory_order_relaxed);
  const double pct =
      st.budget == 0 ? 0.0 : static_cast<double>(covered) * 100.0 / static_cast<double>(st.budget);
  char label[64];
  if (v.run.cfg.passes < 1) {
    snprintf(label, sizeof label, "Pass %lld/∞", static_cast<long long>(st.current_pass));
  } else {
    snprintf(label, sizeof label, "Pass %lld/%lld", static_cast<long long>(st.current_pass),
             static_cast<long long>(st.total_passes));
  }
  int32_t n = v.width - width_of(label) - 10;
  n = n < 8 ? 8 : (n > 240 ? 240 : n);
  // Bytes finished can pass the budget by a region's rounding; the bar
  // never draws more than full.
  const double part = pct / 100.0 * n;
  const int32_t filled = part <= 0.0 ? 0 : (part >= n ? n : static_cast<int32_t>(part));
  const UiTheme& t = *v.f.theme;
  LineText<2048> bar;
  bar.addf(" " SGR_BOLD_WHITE "%s" SGR_RESET " ", label);
  bar.add(t.bar_filled);
  for (int32_t i = 0; i < n; ++i) {
    if (i == filled) bar.add(t.bar_empty);
    bar.add(" ");
  }
  bar.addf(SGR_RESET " " SGR_BOLD_YELLOW "%3.0f%%" SGR_RESET, pct);
  frame_row(v.f, row, bar.text);
}

double run_time(const RunView& run, double now) {
  double t = now - run.st.run_start_time - run.ui.paused_total;
  if (run.ui.clock_frozen) t -= now - run.ui.pause_start;
  return t < 0.0 ? 0.0 : t;
}

void draw_counters(FrameView& v, int32_t row) {
  const RunView& run = v.run;
  char covered[32], budget[32], hms[32];
  format_size(run.st.pass_bytes.load(std::memory_order_relaxed), covered, sizeof covered);
  format_size(run.st.budget, budget, sizeof budget);
  format_hms(hms, sizeof hms, run_time(run, v.now));
  const long long hard = static_cast<long long>(run.faults.shown_hard.load(std::memory_order_relaxed));
  const long long trans = static_cast<long long>(run.faults.shown_transient.load(std::memory_order_relaxed));
  frame_row_printf(v.f, row,
                   " " SGR_FG_WHITE "Covered" SGR_RESET " " SGR_BOLD_CYAN "%s" SGR_FG_WHITE "/"
                   SGR_FG_CYAN "%s" SGR_RESET "   " SGR_FG_WHITE "Win" SGR_RESET " " SGR_BOLD_WHITE "%d"
                   SGR_RESET "   " SGR_FG_WHITE "Hard" SGR_RESET " " SGR_BOLD_FG_FMT "%lld" SGR_RESET "   "
                   SGR_FG_WHITE "Trans" SGR_RESET " " SGR_BOLD_FG_FMT "%lld" SGR_RESET "   "
                   SGR_FG_WHITE "Time" SGR_RESET " " SGR_BOLD_WHITE "%s" SGR_RESET,
                   covered, budget, run.st.regions_in_pass, hard == 0 ? kSgrGreen : kSgrBrightRed, hard,
                   trans == 0 ? kSgrGreen : kSgrBrightYellow, trans, hms);
}

void draw_status(FrameView& v, int32_t row) {
  const RunView& run = v.run;
  char name[24];
  copy_printable(name, sizeof name, run.st.algo_name.load(std::memory_order_relaxed), 23);
  const char* state = v.user_paused ? SGR_BOLD_YELLOW "PAUSED" : SGR_BOLD_GREEN "Running";
  const char* icon = v.user_paused ? (v.f.theme->glyph ? "⏸" : "=") : spinner_frame(v.now);
  frame_row_printf(v.f, row,
                   " " SGR_BOLD_MAGENTA "[%4d%%: %-12s]" SGR_RESET "   " SGR_FG_WHITE "Window" SGR_RESET
                   " " SGR_BOLD_WHITE "%d" SGR_RESET "   %s   " SGR_FG_CYAN "IDLE+%d" SGR_RESET "   %s %s"
                   SGR_RESET,
                   run.st.algo_pct.load(std::memory_order_relaxed), name[0] ? name : "init",
                   run.st.regions_in_pass,
                   run.st.last_locked.load(std::memory_order_relaxed) ? SGR_BOLD_GREEN "mlock" SGR_RESET
                                                                      : SGR_BOLD_RED "NOLOCK" SGR_RESET,
                   run.st.nice, state, icon);
}

// The row under STATUS while the run is held; returns the next free row.
int32_t draw_hold_row(FrameView& v, int32_t row) {
  const UiState& ui = v.run.ui;
  if (ui.clock_frozen) {
    frame_row_printf(v.f, row,
                     " " SGR_BOLD_YELLOW "PAUSED by user %s clock frozen %s press " SGR_REVERSE " p "
                     SGR_RESET SGR_BOLD_YELLOW " to resume or " SGR_REVERSE " q " SGR_RESET SGR_BOLD_YELLOW
                     " to quit" SGR_RESET,
                     v.dot, v.dot);
    return row + 1;
  }
  if (ui.hold_shown && ui.pressure_wait_s > 0.0) {
    frame_row_printf(v.f, row,
                     " " SGR_FG_YELLOW "memory pressure %s auto-resume when RAM frees, else abort in "
                     "%.0fs (pause %d/%d)" SGR_RESET,
                     v.dot, ui.pressure_wait_s, ui.pressure_pause_no, ui.pressure_max_pauses);
    return row + 1;
  }
  return row;
}

int32_t draw_status_line(FrameView& v, int32_t row) {
  if (v.run.st.status_line[0] == '\0') return row;
  char text[sizeof v.run.st.status_line];
  copy_printable(text, sizeof text, v.run.st.status_line, 191);
  frame_row_printf(v.f, row, " " SGR_FG_WHITE "%s" SGR_RESET, text);
  return row + 1;
}

}  // namespace

ScreenSize screen_size(int32_t term_cols, int32_t term_rows) {
  if (term_cols <= 0 || term_rows <= 0) return {100, 30};
  return {term_cols < 24 ? 24 : term_cols, term_rows < 12 ? 12 : term_rows};
}

bool query_terminal_size(int fd, int32_t* cols, int32_t* rows) {
  winsize ws{};
  if (ioctl(fd, TIOCGWINSZ, &ws) != 0) {
    *cols = 0;
    *rows = 0;
    return false;
  }
  *cols = ws.ws_col;
  *rows = ws.ws_row;
  return true;
}

PaneSplit pane_split(int32_t available) {
  if (available > 13) return {6, 8};
  const int32_t a = available < 0 ? 0 : available;
  return {a / 2, a - a / 2};
}

void compose_frame(RunView& run, ScreenFrame& frame, int32_t term_cols, int32_t term_rows) {
  const ScreenSize size = screen_size(term_cols, term_rows);
  const OutputStyle style = run.cfg.output;
  frame_reset(frame, size.cols - 2, size.rows, ui_theme(style));
  FrameView v{run, frame, size.cols - 2, size.rows, now_seconds(), dot_separator(style),
              pausing() && !stopping()};

  frame_puts(frame, kSyncBegin);
  frame_puts(frame, kCursorHide);
  frame_puts(frame, kCursorHome);
  draw_top_border(v);
  draw_title_bar(v);
  draw_info_line(v);

  UiState& ui = run.ui;
  if (size.cols != ui.last_width || size.rows != ui.last_height) {
    relayout_map(run.map, run.faults, run.engine.phys.ram_ranges, run.st, size.cols - 4,
                 run.map.rows > 0 ? run.map.rows : kDefaultMapRows);
    ui.last_width = size.cols;
    ui.last_height = size.rows;
  }
  draw_map_header(v);
  const int32_t map_rows = draw_map_rows(v, kMapFirstRow);

  const int32_t p = kMapFirstRow + map_rows;
  frame_section(frame, p, kBoldWhite, "PROGRESS");
  draw_progress_bar(v, p + 1);
  draw_counters(v, p + 2);
  frame_section(frame, p + 3, kBoldWhite, "STATUS");
  draw_status(v, p + 4);
  int32_t q = draw_hold_row(v, p + 5);
  q = draw_status_line(v, q);

  const int32_t available = v.height - q - (1 + (ui.info_on ? 1 : 0) + (ui.legend_on ? 1 : 0));
  const PaneSplit split = pane_split(available);
  q = draw_klog_pane(v, q, split.klog_lines);
  q = draw_faults_pane(v, q, split.fault_lines);
  if (ui.legend_on) q = draw_legend_row(v, q);
  if (ui.info_on) q = draw_info_row(v, q);
  draw_footer(v, q);

  frame_puts(frame, kClearBelow);
  frame_puts(frame, kSyncEnd);
}

void draw_frame(RunView& run) {
  if (in_worker) return;
  // A frame is never composed inside another (a sink event raised while
  // composing would otherwise draw into the half-built buffer).
  static bool drawing = false;
  if (drawing) return;
  drawing = true;
  static ScreenFrame frame;
  int32_t cols = 0, rows = 0;
  query_terminal_size(run.ui.out_fd, &cols, &rows);
  compose_frame(run, frame, cols, rows);
  fflush(stdout);  // whatever stdio holds goes out before the frame
  frame_write(frame, run.ui.out_fd);
  drawing = false;
}

}  // namespace dravik
