// The areas of one dashboard frame, shared by the files that draw them.
// Each drawing function takes the first row it may use and returns the next
// free row.
#pragma once
#include <cstdint>

#include "report/tui/draw/screen_frame.h"

namespace dravik {

struct RunView;

// What every area of one frame reads besides the run.
struct FrameView {
  RunView& run;
  ScreenFrame& f;
  int32_t width;   // W
  int32_t height;  // H
  double now;      // monotonic seconds of this frame
  const char* dot;
  bool user_paused;  // p was pressed and no stop is under way
};

// Map rows from first_row on, skipping rows the terminal already shows.
// Returns the number of map rows M.
int32_t draw_map_rows(FrameView& v, int32_t first_row);

// Kernel-log pane of the given rows (header included); 0 rows draws nothing.
int32_t draw_klog_pane(FrameView& v, int32_t row, int32_t lines);
// Faults pane, same contract.
int32_t draw_faults_pane(FrameView& v, int32_t row, int32_t lines);
int32_t draw_legend_row(FrameView& v, int32_t row);
int32_t draw_info_row(FrameView& v, int32_t row);
// The bottom border with the keys, at min(row, H).
void draw_footer(FrameView& v, int32_t row);

}  // namespace dravik
