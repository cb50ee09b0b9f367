// The lower half of the dashboard: kernel-log and faults panes, the legend
// and information rows, and the footer with the keys.
#include <algorithm>
#include <cstdio>

#include "core/run/flags.h"
#include "report/run_view.h"
#include "engine/faults/fault_log.h"
#include "core/text.h"
#include "klog/klog.h"
#include "report/tui/draw/ansi.h"
#include "report/tui/screen/screen.h"
#include "report/tui/screen/parts.h"

namespace dravik {

namespace {

constexpr const char* kCritColour = SGR_BOLD_BRIGHT_RED;
constexpr const char* kWarnColour = SGR_BOLD_BRIGHT_YELLOW;
constexpr const char* kInfoColour = SGR_FG_WHITE;
constexpr const char* kBeforeStartColour = SGR_FG_BRIGHT_BLACK;

const char* header_colour(int64_t crit, int64_t warn) {
  return crit > 0 ? kCritColour : (warn > 0 ? kWarnColour : kBoldWhite);
}

void draw_klog_line(FrameView& v, int32_t row, const KlogEntry& e, bool before_start) {
  const UiTheme& t = *v.f.theme;
  const char* colour = e.level == 2 ? kCritColour : (e.level == 1 ? kWarnColour : kInfoColour);
  const char* icon = e.level == 2 ? t.crit_icon : (e.level == 1 ? t.warn_icon : t.info_icon);
  char tag[sizeof e.tag], text[sizeof e.text], repeat[32] = "";
  copy_printable(tag, sizeof tag, e.tag, 15);
  if (e.count >= 2) snprintf(repeat, sizeof repeat, " " SGR_FG_WHITE "(x%d)", e.count);
  if (before_start) {
    // Read from the log at start: dimmed and labelled, so an old OOM kill
    // does not read as news of this run.
    copy_printable(text, sizeof text, e.text, std::clamp(v.width - 14 - 14, 8, 900));
    frame_row_printf(v.f, row, " %s%s %-9.9s before start: %s%s" SGR_RESET, kBeforeStartColour, icon, tag,
                     text, repeat);
    return;
  }
  copy_printable(text, sizeof text, e.text, std::clamp(v.width - 14, 8, 900));
  frame_row_printf(v.f, row, " %s%s " SGR_FG_WHITE "%-9.9s" SGR_RESET " %s%s" SGR_RESET "%s", colour,
                   icon, tag, colour, text, repeat);
}

}  // namespace

int32_t draw_klog_pane(FrameView& v, int32_t row, int32_t lines) {
  if (lines <= 0) return row;
  const KlogMonitor& m = v.run.klog;
  const UiTheme& t = *v.f.theme;
  char header[256];
  const int64_t crit = m.available ? klog_crit_during(m) : 0;
  const int64_t warn = m.available ? klog_warn_during(m) : 0;
  if (m.available) {
    snprintf(header, sizeof header,
             "KERNEL LOG " SGR_FG_WHITE "(%s)  " SGR_BOLD_BRIGHT_RED "%s %lld crit" SGR_RESET " "
             SGR_BOLD_BRIGHT_YELLOW "%s %lld warn" SGR_RESET " " SGR_FG_WHITE "%lld info",
             m.source, t.crit_icon, static_cast<long long>(crit), t.warn_icon, static_cast<long long>(warn),
             static_cast<long long>(m.info));
  } else {
    snprintf(header, sizeof header,
             "KERNEL LOG " SGR_FG_WHITE "(unavailable — run as root for for /dev/kmsg)");
  }
  frame_section(v.f, row++, header_colour(crit, warn), header);

  const int32_t ring = KlogMonitor::kRing;
  const int32_t room = lines - 1;  // the header takes the pane's first row
  // The newest entries are those of the run; older ones came from the initial
  // read (each new entry raises exactly one of the three counters).
  const int64_t during_run = m.baseline_taken ? m.crit + m.warn + m.info - m.entries_before_start
                                              : static_cast<int64_t>(ring);
  int32_t drawn = 0;
  for (int32_t k = 0; k < ring && drawn < room; ++k) {
    const KlogEntry& e = m.ring[((m.next - 1 - k) % ring + ring) % ring];
    if (e.text[0] == '\0') continue;
    draw_klog_line(v, row++, e, k >= during_run);
    ++drawn;
  }
  if (drawn == 0 && room > 0) {
    frame_row_printf(v.f, row++, " " SGR_FG_WHITE "%s no memory-related kernel events seen" SGR_RESET,
                     m.available ? t.ok_icon : " ");
  }
  return row;
}

int32_t draw_faults_pane(FrameView& v, int32_t row, int32_t lines) {
  if (lines <= 0) return row;
  const FaultLog& log = v.run.faults;
  const UiTheme& t = *v.f.theme;
  const long long hard = static_cast<long long>(log.shown_hard.load(std::memory_order_relaxed));
  const long long trans = static_cast<long long>(log.shown_transient.load(std::memory_order_relaxed));
  char header[192];
  snprintf(header, sizeof header, "FAULTS " SGR_FG_WHITE "%lld hard %s %lld suspected (transient)", hard,
           v.dot, trans);
  frame_section(v.f, row++, header_colour(hard, trans), header);

  const int32_t room = lines - 1;
  if (room <= 0) return row;
  // Workers may be recording while the main thread draws: the records are
  // copied under the fault-log lock.
  constexpr int32_t kMaxShown = 16;
  FaultRecord records[kMaxShown];
  const int32_t n = snapshot_faults(log, records, std::min(room, kMaxShown));
  for (int32_t i = 0; i < n; ++i) {
    const FaultRecord& r = records[i];
    const bool is_hard = r.cls == FaultClass::hard;
    char test[sizeof r.test], dimm[sizeof r.dimm];
    copy_printable(test, sizeof test, r.test, 23);
    copy_printable(dimm, sizeof dimm, r.dimm, 39);
    frame_row_printf(v.f, row++,
                     " %s%s %-9s" SGR_RESET " " SGR_FG_WHITE "%-9s" SGR_RESET " v=" SGR_FG_CYAN "0x%010llx"
                     SGR_RESET " p=" SGR_FG_CYAN "0x%010llx" SGR_RESET " xor=" SGR_FG_MAGENTA "0x%0*llx"
                     SGR_RESET " " SGR_FG_WHITE "bits" SGR_RESET " %d " SGR_FG_WHITE "x%d %s",
                     is_hard ? kCritColour : kWarnColour, is_hard ? t.crit_icon : t.warn_icon,
                     is_hard ? "HARD" : "suspect", test, static_cast<unsigned long long>(r.vaddr),
                     static_cast<unsigned long long>(r.paddr), 16, static_cast<unsigned long long>(r.xor_value),
                     r.bits, r.count, dimm);
  }
  if (n == 0) {
    frame_row_printf(v.f, row++, " " SGR_FG_WHITE "%s no faults detected so far" SGR_RESET, t.ok_icon);
  }
  return row;
}

int32_t draw_legend_row(FrameView& v, int32_t row) {
  static const int kOrder[] = {0, 1, 2, 3, 4, 5, 6, 8, 7};
  const UiTheme& t = *v.f.theme;
  LineText<1024> line;
  for (int state : kOrder) {
    line.addf(" %s%s" SGR_RESET " %s ", t.cell_colour[state], t.cell_glyph[state],
              cell_legend_word(state));
  }
  // Pieces are joined by two blanks; the last one ends at its word.
  if (line.len > 0) line.text[--line.len] = '\0';
  frame_row(v.f, row, line.text);
  return row + 1;
}

int32_t draw_info_row(FrameView& v, int32_t row) {
  const RunView& run = v.run;
  char l1[16], l2[16], l3[16];
  format_size(run.st.cache_sizes[0], l1, sizeof l1);
  format_size(run.st.cache_sizes[1], l2, sizeof l2);
  format_size(run.st.cache_sizes[2], l3, sizeof l3);
  frame_row_printf(v.f, row,
                   " " SGR_FG_WHITE "seed 0x%016llx  flush %s  cache L1=%s L2=%s L3=%s  hard-thr=%d%s"
                   SGR_RESET,
                   static_cast<unsigned long long>(run.cfg.seed), run.clflush_usable ? "on" : "off", l1, l2,
                   l3, run.cfg.hard_threshold,
                   run.st.address_fault_seen.load(std::memory_order_relaxed)
                       ? "  " SGR_BOLD_BRIGHT_YELLOW "[ADDRESSING SUSPECT]"
                       : "");
  return row + 1;
}

void draw_footer(FrameView& v, int32_t row) {
  ScreenFrame& f = v.f;
  const UiTheme& t = *f.theme;
  const bool link = v.now - v.run.ui.ui_start_time >= kLinkAfterSeconds;
  char keys[384];
  snprintf(keys, sizeof keys,
           SGR_REVERSE " q:Quit " SGR_RESET " " SGR_REVERSE " %s " SGR_RESET " " SGR_REVERSE " i:Info "
           SGR_RESET " " SGR_REVERSE " l:Legend " SGR_RESET "  " SGR_FG_WHITE "%s",
           v.user_paused ? "p:Resume" : "p:Pause", link ? kProjectLink : "");
  frame_goto_row(f, std::min(row, v.height));
  frame_puts(f, t.frame_colour);
  frame_puts(f, t.bottom_left);
  frame_puts(f, t.horizontal);
  frame_puts(f, " ");
  frame_puts(f, kReset);
  const int32_t key_cols = frame_put_clipped(f, keys, std::max(v.width - 3, 0));
  frame_puts(f, t.frame_colour);
  frame_puts(f, " ");
  for (int32_t col = key_cols + 3; col <= v.width - 1; ++col) frame_puts(f, t.horizontal);
  frame_puts(f, t.bottom_right);
  frame_puts(f, kReset);
}

}  // namespace dravik
