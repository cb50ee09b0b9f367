// State of the terminal UI: what the screen shows besides the run's data, the
// pause clock and the saved terminal mode. Only the main thread touches it.
#pragma once
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

namespace dravik {

struct UiState {
  UiState() = default;
  UiState(const UiState&) = delete;
  UiState& operator=(const UiState&) = delete;
  // Forgets the process-wide registration of this state (the terminal itself
  // is still restored at exit from the copy kept there).
  ~UiState();

  int32_t ui_active = 0;
  int32_t keys_enabled = 0;
  int32_t hold_shown = 0;
  int32_t clock_frozen = 0;  // a user pause holds the run; pause_start is when it began
  double pause_start = 0.0;
  double paused_total = 0.0;
  int32_t legend_on = 0;
  int32_t info_on = 0;
  // Where the key reader stands inside an escape sequence (function and
  // cursor keys), which may arrive split over two reads; esc_time is when
  // its ESC came, so that a lone Escape key does not swallow the next key.
  int32_t esc_state = 0;
  double esc_time = 0.0;
  double last_refresh = -1.0;
  double ui_start_time = 0.0;
  termios saved_termios{};
  // Where keys are read and frames are written; tests point them at pipes.
  int key_fd = STDIN_FILENO;
  int out_fd = STDOUT_FILENO;
  // A hold for memory pressure (shown on the row under STATUS when
  // hold_shown is set without clock_frozen and the wait is above 0).
  double pressure_wait_s = 0.0;
  int32_t pressure_pause_no = 0;
  int32_t pressure_max_pauses = 0;
  // Map as last drawn, for skipping unchanged rows: one drawn state per
  // cell, or kSnapshotUnknown for a row that never reached the terminal.
  static constexpr uint8_t kSnapshotUnknown = 0xFF;
  std::vector<uint8_t> map_snapshot;
  int32_t snapshot_cols = 0;
  int32_t snapshot_cells = 0;
  int32_t snapshot_valid = 0;
  int32_t last_width = 0;   // B of the previous frame
  int32_t last_height = 0;  // H of the previous frame
};

}  // namespace dravik
