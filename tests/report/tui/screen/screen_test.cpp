// The dashboard frame: geometry, rows, panes, map row skipping, and the frame
// buffer helpers. Frames are composed without a terminal and read back
// through a small terminal model.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/run/flags.h"
#include "engine/map/memory_map.h"
#include "core/text.h"
#include "report/tui/screen/screen.h"
#include "report/tui/draw/screen_frame.h"
#include "report/tui/draw/theme.h"
#include "report/tui/vt_screen.h"
#include "support/run_setup.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using testing::VtScreen;

struct Shot {
  std::string text;
  VtScreen vt;
};

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

Shot compose(Run& run, int cols, int rows) {
  static ScreenFrame frame;
  compose_frame(run, frame, cols, rows);
  const ScreenSize size = screen_size(cols, rows);
  Shot shot{std::string(frame.text()), VtScreen(size.cols, size.rows)};
  shot.vt.apply(shot.text);
  return shot;
}

// A run whose map is already laid out for a 100 x H terminal, so the frame
// does not rebuild it.
std::unique_ptr<Run> run_with_map(int map_rows, int height) {
  auto run = testing::make_run();
  run->st.budget = 96ull * map_rows * 1048576;
  map_setup(run->map, run->phys.ram_ranges, run->st, 96, map_rows);
  run->ui.last_width = 100;
  run->ui.last_height = height;
  run->ui.ui_start_time = now_seconds();
  return run;
}

using ScreenTest = testing::FlagsReset;

// --- geometry --------------------------------------------------------------

TEST_F(ScreenTest, TerminalSizeRules) {
  struct Case {
    int cols, rows, want_cols, want_rows;
  } cases[] = {
      {0, 0, 100, 30}, {0, 50, 100, 30}, {80, 0, 100, 30}, {20, 40, 24, 40},
      {80, 5, 80, 12}, {24, 12, 24, 12}, {200, 60, 200, 60},
  };
  for (const Case& c : cases) {
    const ScreenSize s = screen_size(c.cols, c.rows);
    EXPECT_EQ(s.cols, c.want_cols) << c.cols << "x" << c.rows;
    EXPECT_EQ(s.rows, c.want_rows) << c.cols << "x" << c.rows;
  }
}

TEST_F(ScreenTest, EveryRowSpansTheDrawnWidthAndNothingSpillsOver) {
  struct Case {
    int cols, rows, drawn_cols;
    OutputStyle style;
  } cases[] = {
      {0, 0, 100, OutputStyle::ascii_dashboard}, {20, 40, 24, OutputStyle::ascii_dashboard},
      {20, 40, 24, OutputStyle::glyph_dashboard},
      {132, 43, 132, OutputStyle::glyph_dashboard}, {80, 12, 80, OutputStyle::ascii_dashboard},
  };
  for (const Case& c : cases) {
    auto run = testing::make_run();
    run->cfg.output = c.style;
    run->ui.legend_on = 1;
    run->ui.info_on = 1;
    snprintf(run->st.status_line, sizeof run->st.status_line, "%s", std::string(150, 's').c_str());
    const Shot shot = compose(*run, c.cols, c.rows);
    SCOPED_TRACE(std::to_string(c.cols) + "x" + std::to_string(c.rows));
    EXPECT_EQ(shot.vt.overflow(), 0);
    EXPECT_EQ(shot.vt.written(1), c.drawn_cols);
    for (int r : testing::rows_addressed(shot.text)) EXPECT_EQ(shot.vt.written(r), c.drawn_cols) << r;
    EXPECT_EQ(run->map.cols, c.drawn_cols - 4);  // the first frame lays the map out for its width
  }
}

TEST_F(ScreenTest, FrameIsOneSynchronizedUpdate) {
  auto run = testing::make_run();
  const Shot shot = compose(*run, 100, 30);
  EXPECT_EQ(shot.text.rfind("\033[?2026h\033[?25l\033[H", 0), 0u);
  const std::string tail = "\033[J\033[?2026l";
  ASSERT_GE(shot.text.size(), tail.size());
  EXPECT_EQ(shot.text.substr(shot.text.size() - tail.size()), tail);
}

TEST_F(ScreenTest, PaneSplit) {
  struct Case {
    int available, klog, faults;
  } cases[] = {{-4, 0, 0}, {0, 0, 0}, {1, 0, 1}, {3, 1, 2}, {4, 2, 2}, {13, 6, 7}, {14, 6, 8}, {40, 6, 8}};
  for (const Case& c : cases) {
    const PaneSplit s = pane_split(c.available);
    EXPECT_EQ(s.klog_lines, c.klog) << c.available;
    EXPECT_EQ(s.fault_lines, c.faults) << c.available;
  }
}

TEST_F(ScreenTest, LegendAtThreeFreeRowsLeavesOneKernelLogRowAndTwoFaultRows) {
  // 3 map rows: PROGRESS at 8, STATUS at 11, panes from row 13. With the
  // legend on, a height of 18 leaves 3 rows for the panes.
  auto run = run_with_map(3, 18);
  run->ui.legend_on = 1;
  const Shot shot = compose(*run, 100, 18);
  EXPECT_NE(shot.vt.row(13).find("KERNEL LOG"), std::string::npos);
  EXPECT_NE(shot.vt.row(14).find("FAULTS"), std::string::npos);
  EXPECT_NE(shot.vt.row(15).find("no faults detected so far"), std::string::npos);
  EXPECT_NE(shot.vt.row(16).find("reserved"), std::string::npos);
  EXPECT_NE(shot.vt.row(16).find("FAULT"), std::string::npos);
  EXPECT_NE(shot.vt.row(17).find("q:Quit"), std::string::npos);
  EXPECT_EQ(shot.vt.row(18), "");

  run->ui.legend_on = 0;  // one more row: two each
  const Shot wider = compose(*run, 100, 18);
  EXPECT_NE(wider.vt.row(14).find("no memory-related kernel events seen"), std::string::npos);
  EXPECT_NE(wider.vt.row(15).find("FAULTS"), std::string::npos);
  EXPECT_NE(wider.vt.row(17).find("q:Quit"), std::string::npos);
}

// --- rows ------------------------------------------------------------------

TEST_F(ScreenTest, TitleCarriesVersionAndModeBadge) {
  const struct {
    RunMode mode;
    OutputStyle style;
    const char* badge;
  } cases[] = {{RunMode::PRODUCTION, OutputStyle::ascii_dashboard, " PRODUCTION "},
               {RunMode::OFFLINE, OutputStyle::glyph_dashboard, " OFFLINE "}};
  for (const auto& c : cases) {
    auto run = testing::make_run();
    run->cfg.mode = c.mode;
    run->cfg.output = c.style;
    const Shot shot = compose(*run, 100, 30);
    const std::string title = shot.vt.row(2);
    EXPECT_NE(title.find(" DRAVIK v0.6.0 "), std::string::npos);
    EXPECT_NE(title.find(c.badge), std::string::npos) << title;
    EXPECT_EQ(shot.vt.written(2), 100);
  }
}

TEST_F(ScreenTest, InformationLine) {
  auto run = testing::make_run();
  run->st.mem_total = 8ull << 30;
  run->st.budget = 6ull << 30;
  run->st.untested = 2ull << 30;
  run->st.is_root = 1;
  const std::string row = compose(*run, 100, 30).vt.row(3);
  EXPECT_NE(row.find("MemTotal 8.00GiB   Tested 6.00GiB   Reserved 2.00GiB   phys no   root yes"),
            std::string::npos)
      << row;
}

TEST_F(ScreenTest, CellBytesOfTenOrMoreDrawAsUntested) {
  for (OutputStyle style : {OutputStyle::ascii_dashboard, OutputStyle::glyph_dashboard}) {
    auto run = run_with_map(3, 30);
    run->cfg.output = style;
    const UiTheme& theme = ui_theme(style);
    run->map.put(0, 12);
    run->map.put(1, 7);
    run->map.put(2, 10);
    run->map.put(3, 9);
    const Shot shot = compose(*run, 100, 30);
    // Column 1 is the border, column 2 the leading blank.
    EXPECT_EQ(shot.vt.cell(5, 3).sgr, theme.cell_colour[1]);
    EXPECT_EQ(shot.vt.cell(5, 3).ch, theme.cell_glyph[1]);
    EXPECT_EQ(shot.vt.cell(5, 4).sgr, theme.cell_colour[7]);
    EXPECT_EQ(shot.vt.cell(5, 5).sgr, theme.cell_colour[1]);
    EXPECT_EQ(shot.vt.cell(5, 6).sgr, theme.cell_colour[9]);
    EXPECT_EQ(shot.vt.cell(5, 6).ch, theme.cell_glyph[9]);
  }
}

TEST_F(ScreenTest, ColourIsSentOnlyWhereTheStateChanges) {
  auto run = run_with_map(3, 30);
  const Shot shot = compose(*run, 100, 30);
  // 96 untested cells a row: one colour string per row.
  size_t count = 0;
  const std::string colour = kAsciiTheme.cell_colour[1];
  for (size_t at = shot.text.find(colour); at != std::string::npos; at = shot.text.find(colour, at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 3u);
}

TEST_F(ScreenTest, PassLabelAndProgress) {
  struct Case {
    int64_t passes, current, total;
    uint64_t covered;
    const char* label;
    const char* pct;
  } cases[] = {
      {0, 3, INT64_MAX, 0, "Pass 3/∞", "  0%"},
      {-1, 1, INT64_MAX, 25, "Pass 1/∞", " 25%"},
      {5, 2, 5, 100, "Pass 2/5", "100%"},
      {5, 2, 5, 150, "Pass 2/5", "150%"},  // a bar never draws past full
  };
  for (const Case& c : cases) {
    auto run = run_with_map(3, 30);
    run->cfg.passes = c.passes;
    run->st.current_pass = c.current;
    run->st.total_passes = c.total;
    run->st.budget = 100;
    run->st.pass_bytes = c.covered;
    const Shot shot = compose(*run, 100, 30);
    const std::string bar = shot.vt.row(9);
    EXPECT_NE(bar.find(std::string("│ ") + c.label + " "), std::string::npos) << bar;
    EXPECT_NE(bar.find(c.pct), std::string::npos) << bar;
    EXPECT_EQ(shot.vt.written(9), 100);
  }
}

TEST_F(ScreenTest, RunTimeLeavesOutPausedTime) {
  struct Case {
    double since_start, paused_total, frozen_for;
    const char* shown;
  } cases[] = {
      {100, 0, -1, "Time 00:01:40"},
      {100, 40, -1, "Time 00:01:00"},
      {100, 40, 30, "Time 00:00:30"},
      {10, 20, -1, "Time 00:00:00"},
  };
  for (const Case& c : cases) {
    auto run = run_with_map(3, 30);
    const double now = now_seconds();
    run->st.run_start_time = now - c.since_start;
    run->ui.paused_total = c.paused_total;
    if (c.frozen_for >= 0) {
      run->ui.clock_frozen = 1;
      run->ui.pause_start = now - c.frozen_for;
    }
    const std::string row = compose(*run, 100, 30).vt.row(10);
    EXPECT_NE(row.find(c.shown), std::string::npos) << row;
  }
}

TEST_F(ScreenTest, StatusRowFollowsThePause) {
  auto run = run_with_map(3, 30);
  Shot shot = compose(*run, 100, 30);
  EXPECT_NE(shot.vt.row(12).find("[   0%: init        ]"), std::string::npos) << shot.vt.row(12);
  EXPECT_NE(shot.vt.row(12).find("Running"), std::string::npos);
  EXPECT_NE(shot.vt.row(12).find("NOLOCK"), std::string::npos);
  EXPECT_EQ(shot.vt.find("PAUSED by user"), 0);
  EXPECT_NE(shot.vt.find("p:Pause"), 0);

  pause_requested = 1;
  run->ui.clock_frozen = 1;
  run->ui.pause_start = now_seconds();
  run->st.algo_name = "movinv-rand";
  run->st.algo_pct = 42;
  run->st.last_locked = 1;
  shot = compose(*run, 100, 30);
  EXPECT_NE(shot.vt.row(12).find("[  42%: movinv-rand ]"), std::string::npos) << shot.vt.row(12);
  EXPECT_NE(shot.vt.row(12).find("mlock"), std::string::npos);
  EXPECT_NE(shot.vt.row(12).find("PAUSED ="), std::string::npos) << shot.vt.row(12);
  EXPECT_EQ(shot.vt.find("PAUSED by user - clock frozen - press  p  to resume or  q  to quit"), 13);
  EXPECT_NE(shot.vt.find("p:Resume"), 0);
}

TEST_F(ScreenTest, StatusMessageIsShownBelowStatusWithoutItsControlBytes) {
  auto run = run_with_map(3, 30);
  snprintf(run->st.status_line, sizeof run->st.status_line, "bench alloc\033[2J failed\n");
  const Shot shot = compose(*run, 100, 30);
  EXPECT_EQ(shot.text.find("\033[2J"), std::string::npos);
  EXPECT_NE(shot.vt.row(13).find("bench alloc [2J failed"), std::string::npos) << shot.vt.row(13);
}

TEST_F(ScreenTest, ProjectLinkOnlyAfterTwoMinutes) {
  for (double age : {0.0, 119.0, 121.0}) {
    auto run = run_with_map(3, 30);
    run->ui.ui_start_time = now_seconds() - age;
    const Shot shot = compose(*run, 100, 30);
    const int footer = shot.vt.find("q:Quit");
    ASSERT_GT(footer, 0);
    EXPECT_EQ(shot.vt.row(footer).find(kProjectLink) != std::string::npos, age > 120.0) << age;
    EXPECT_EQ(shot.vt.written(footer), 100);
  }
}

TEST_F(ScreenTest, InformationRowWhenToggled) {
  auto run = run_with_map(3, 30);
  run->ui.info_on = 1;
  run->cfg.seed = 0xabc;
  run->cfg.hard_threshold = 3;
  run->st.cache_sizes[0] = 32768;
  run->clflush_usable = 1;
  Shot shot = compose(*run, 100, 30);
  const int row = shot.vt.find("seed 0x0000000000000abc  flush on  cache L1=32.00KiB L2=0B L3=0B  hard-thr=3");
  EXPECT_GT(row, 0);
  EXPECT_EQ(shot.vt.find("ADDRESSING SUSPECT"), 0);
  EXPECT_EQ(shot.vt.find("q:Quit"), row + 1);

  run->st.address_fault_seen = 1;
  shot = compose(*run, 120, 30);
  EXPECT_GT(shot.vt.find("hard-thr=3  [ADDRESSING SUSPECT]"), 0);
}

// --- panes -----------------------------------------------------------------

void add_klog(Run& run, int level, const char* tag, const char* text, int count) {
  KlogEntry& e = run.klog.ring[run.klog.next];
  e.level = level;
  snprintf(e.tag, sizeof e.tag, "%s", tag);
  snprintf(e.text, sizeof e.text, "%s", text);
  e.count = count;
  run.klog.next = (run.klog.next + 1) % KlogMonitor::kRing;
  if (run.klog.entries < KlogMonitor::kRing) ++run.klog.entries;
  (level == 2 ? run.klog.crit : level == 1 ? run.klog.warn : run.klog.info) += 1;
}

TEST_F(ScreenTest, KernelLogPaneShowsNewestFirst) {
  auto run = run_with_map(3, 40);
  snprintf(run->klog.source, sizeof run->klog.source, "kmsg");
  run->klog.available = 1;
  for (int i = 0; i < 70; ++i) {  // wraps the ring
    char text[32];
    snprintf(text, sizeof text, "event %d", i);
    add_klog(*run, 0, "edac", text, 1);
  }
  add_klog(*run, 1, "segfault", "app[12]: segfault at 0", 3);
  add_klog(*run, 2, "mce", "Hardware Error: bank 4", 1);
  const Shot shot = compose(*run, 100, 40);
  // Panes start at row 13: 6 rows for the kernel log (header and 5 lines).
  const std::string header = shot.vt.row(13);
  EXPECT_NE(header.find("KERNEL LOG (kmsg)  X 1 crit ! 1 warn 70 info"), std::string::npos) << header;
  EXPECT_TRUE(ends_with(shot.vt.cell(13, 4).sgr, "\033[1;91m"));  // crit colours the header
  EXPECT_EQ(shot.vt.row(14).find("│ X mce       Hardware Error: bank 4"), 0u) << shot.vt.row(14);
  EXPECT_NE(shot.vt.row(15).find("! segfault  app[12]: segfault at 0 (x3)"), std::string::npos)
      << shot.vt.row(15);
  EXPECT_NE(shot.vt.row(16).find("event 69"), std::string::npos);
  EXPECT_NE(shot.vt.row(18).find("event 67"), std::string::npos);
  EXPECT_NE(shot.vt.row(19).find("FAULTS"), std::string::npos);
}

TEST_F(ScreenTest, KernelLogEntriesFromBeforeTheStartAreMarked) {
  auto run = run_with_map(3, 40);
  snprintf(run->klog.source, sizeof run->klog.source, "dmesg");
  run->klog.available = 1;
  add_klog(*run, 2, "oom", "Out of memory: Killed process 77 (old)", 1);
  add_klog(*run, 1, "segfault", "app[3]: segfault at 0", 1);
  run->klog.base_crit = 1;  // the baseline after the initial read
  run->klog.base_warn = 1;
  run->klog.baseline_taken = 1;
  run->klog.entries_before_start = 2;
  add_klog(*run, 0, "edac", "EDAC MC0: 1 CE during the run", 1);
  const Shot shot = compose(*run, 100, 40);
  EXPECT_NE(shot.vt.row(13).find("KERNEL LOG (dmesg)  X 0 crit ! 0 warn 1 info"), std::string::npos)
      << shot.vt.row(13);
  EXPECT_NE(shot.vt.row(14).find("EDAC MC0: 1 CE during the run"), std::string::npos) << shot.vt.row(14);
  EXPECT_EQ(shot.vt.row(14).find("before start"), std::string::npos) << shot.vt.row(14);
  EXPECT_NE(shot.vt.row(15).find("! segfault  before start: app[3]: segfault at 0"), std::string::npos)
      << shot.vt.row(15);
  EXPECT_NE(shot.vt.row(16).find("X oom       before start: Out of memory: Killed process 77"),
            std::string::npos)
      << shot.vt.row(16);
  EXPECT_TRUE(ends_with(shot.vt.cell(16, 3).sgr, "\033[90m")) << "dimmed";
}

TEST_F(ScreenTest, KernelLogPaneWhenNotWatched) {
  auto run = run_with_map(3, 40);
  const Shot shot = compose(*run, 100, 40);
  EXPECT_NE(shot.vt.row(13).find("KERNEL LOG (unavailable — run as root for for /dev/kmsg)"),
            std::string::npos)
      << shot.vt.row(13);
  const std::string line = "   no memory-related kernel events seen";
  EXPECT_EQ(shot.vt.row(14), "│" + line + std::string(98 - line.size(), ' ') + "│");
}

TEST_F(ScreenTest, KernelLogLinesAreCutToTheWidth) {
  auto run = run_with_map(3, 40);
  run->klog.available = 1;
  add_klog(*run, 1, "oom", std::string(170, 'm').c_str(), 1);
  const Shot shot = compose(*run, 60, 40);
  const std::string line = shot.vt.row(14);
  // W - 14 = 44 characters of the message.
  EXPECT_NE(line.find(std::string(44, 'm') + " "), std::string::npos) << line;
  EXPECT_EQ(line.find(std::string(45, 'm')), std::string::npos) << line;
}

void add_fault(Run& run, FaultClass cls, const char* test, uint64_t vaddr, const char* dimm) {
  FaultRecord& r = run.faults.records[static_cast<size_t>(run.faults.used++)];
  snprintf(r.test, sizeof r.test, "%s", test);
  snprintf(r.dimm, sizeof r.dimm, "%s", dimm);
  r.vaddr = vaddr;
  r.paddr = vaddr ^ 0x100000000ull;
  r.xor_value = 0x10;
  r.bits = 1;
  r.count = cls == FaultClass::hard ? 2 : 1;
  r.cls = cls;
  (cls == FaultClass::hard ? run.faults.shown_hard : run.faults.shown_transient) += 1;
}

TEST_F(ScreenTest, FaultsPaneListsRecordsOldestFirst) {
  auto run = run_with_map(3, 40);
  for (int i = 0; i < 10; ++i) {
    add_fault(*run, i == 1 ? FaultClass::hard : FaultClass::transient, "solid0", 0x7f0000001000ull + 8u * i,
              i == 0 ? "CPU0_DIMM_A1\033[2J\n" : "");
  }
  const Shot shot = compose(*run, 120, 40);
  EXPECT_EQ(shot.text.find("\033[2J"), std::string::npos);  // the label cannot clear the screen
  const int header = shot.vt.find("FAULTS 1 hard - 9 suspected (transient)");
  ASSERT_GT(header, 0);
  EXPECT_TRUE(ends_with(shot.vt.cell(header, 4).sgr, "\033[1;91m"));
  EXPECT_NE(shot.vt.row(header + 1).find(" ! suspect   solid0    v=0x7f0000001000 p=0x7f0100001000 "
                                         "xor=0x0000000000000010 bits 1 x1 CPU0_DIMM_A1"),
            std::string::npos)
      << shot.vt.row(header + 1);
  EXPECT_NE(shot.vt.row(header + 2).find(" X HARD      solid0    v=0x7f0000001008"), std::string::npos)
      << shot.vt.row(header + 2);
  // 8 rows: the header and 7 records; the footer follows.
  EXPECT_NE(shot.vt.row(header + 7).find("v=0x7f0000001030"), std::string::npos);
  EXPECT_NE(shot.vt.row(header + 8).find("q:Quit"), std::string::npos);
}

// --- map row skipping ------------------------------------------------------

std::set<int> map_rows_sent(const std::string& frame, int first, int last) {
  std::set<int> rows;
  for (int r : testing::rows_addressed(frame)) {
    if (r >= first && r <= last) rows.insert(r);
  }
  return rows;
}

TEST_F(ScreenTest, UnchangedMapRowsAreNotSentAgain) {
  auto run = run_with_map(4, 30);  // map rows 5..8
  static ScreenFrame frame;
  VtScreen vt(100, 30);
  auto next = [&] {
    compose_frame(*run, frame, 100, 30);
    std::string text(frame.text());
    vt.apply(text);
    return map_rows_sent(text, 5, 8);
  };
  EXPECT_EQ(next(), (std::set<int>{5, 6, 7, 8}));  // a fresh map is dirty
  EXPECT_EQ(next(), (std::set<int>{}));

  run->map.put(96 * 2 + 5, 3);  // painted without marking the map dirty
  EXPECT_EQ(next(), (std::set<int>{7}));
  EXPECT_EQ(next(), (std::set<int>{}));
  // The terminal kept the rows that were not sent.
  EXPECT_EQ(vt.cell(7, 2 + 6).sgr, kAsciiTheme.cell_colour[3]);
  EXPECT_EQ(vt.cell(8, 3).sgr, kAsciiTheme.cell_colour[1]);
  EXPECT_EQ(vt.cell(5, 3).ch, "█");

  set_cell_state(run->map, 96 * 3 + 1, 7);  // a fault mark dirties the whole map
  EXPECT_EQ(next(), (std::set<int>{5, 6, 7, 8}));
  EXPECT_EQ(vt.cell(8, 2 + 2).sgr, kAsciiTheme.cell_colour[7]);
  EXPECT_EQ(next(), (std::set<int>{}));

  map_setup(run->map, run->phys.ram_ranges, run->st, 96, 4);  // rebuilt: everything again
  EXPECT_EQ(next(), (std::set<int>{5, 6, 7, 8}));
}

TEST_F(ScreenTest, ANewTerminalSizeRebuildsTheMap) {
  auto run = run_with_map(4, 30);
  compose(*run, 100, 30);
  EXPECT_EQ(run->map.cols, 96);
  compose(*run, 140, 30);
  EXPECT_EQ(run->map.cols, 136);
  EXPECT_EQ(run->map.rows, 4);  // the row count stays until a resize sets it
}

}  // namespace
}  // namespace dravik
