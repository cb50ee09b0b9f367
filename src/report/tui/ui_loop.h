// The dashboard's terminal: its mode, the keys and the map area it offers.
//
// Thread contract: only the main thread calls these (a worker thread's
// test_progress only waits out a pause). The flags stop_requested,
// pause_requested and resize_pending are the only state shared with other
// threads and the signal handler.
#pragma once
#include <cstdint>

namespace dravik {

struct RunView;

// Starts the terminal UI (ui and ui2 styles in PRODUCTION and OFFLINE; any
// other run leaves the terminal alone): raw, non-blocking keys when standard
// input is a terminal, hidden cursor, restore_terminal registered at exit,
// cleared screen.
void ui_start(RunView& run);

// Reads pending keys: q quits, p pauses, l and i toggle rows. Escape
// sequences (function and cursor keys) are read whole and ignored, also when
// they arrive split over two calls.
void ui_poll_keys(RunView& run);

// Restores the terminal mode saved by ui_start (when keys were enabled),
// shows the cursor and resets attributes. Registered with atexit; safe to
// call more than once and after the run is gone.
void restore_terminal();

// Map geometry for a terminal of cols x rows: cols - 4 columns and rows - 17
// rows clamped to 3..24; 96 x 13 when the size is unknown (0).
struct MapDims {
  int32_t cols;
  int32_t rows;
};
MapDims map_dims_for_terminal(int32_t term_cols, int32_t term_rows);

}  // namespace dravik
