// The full-screen dashboard: title, information line, memory map, progress,
// status, kernel-log and faults panes, optional legend and information rows,
// and the footer with the keys. Only the main thread draws.
#pragma once
#include <cstdint>

namespace dravik {

struct RunView;
struct ScreenFrame;

// The project link shown in the footer once the UI has run for two minutes.
inline constexpr const char* kProjectLink = "https://example.org/dravik";
inline constexpr double kLinkAfterSeconds = 120.0;

// Composes one complete screen and writes it with one write to the UI's
// output (standard output). Does nothing on a worker thread.
void draw_frame(RunView& run);

// Columns and rows of the terminal behind fd (TIOCGWINSZ); false when the
// query fails. Both are 0 then.
bool query_terminal_size(int fd, int32_t* cols, int32_t* rows);

// Size a frame is drawn at (B columns, H rows) for a terminal reporting
// cols x rows: 100 x 30 when either is 0, else at least 24 x 12.
struct ScreenSize {
  int32_t cols;
  int32_t rows;
};
ScreenSize screen_size(int32_t term_cols, int32_t term_rows);

// Rows of the kernel-log and faults panes (each counting its header row)
// for the rows left between the status rows and the footer.
struct PaneSplit {
  int32_t klog_lines;
  int32_t fault_lines;
};
PaneSplit pane_split(int32_t available);

// Composes the frame for a terminal of term_cols x term_rows (0 x 0 when
// unknown) without writing it. Rebuilds the map when the drawn size differs
// from the previous frame's, and refreshes the map snapshot.
void compose_frame(RunView& run, ScreenFrame& frame, int32_t term_cols, int32_t term_rows);

}  // namespace dravik
