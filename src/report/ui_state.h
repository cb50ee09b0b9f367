// State of the terminal UI: what the screen shows besides the run's data, the
// pause clock and the saved terminal mode.
#pragma once
#include <termios.h>

#include <cstdint>
#include <vector>

namespace dravik {

struct UiState {
  int32_t ui_active = 0;
  int32_t keys_enabled = 0;
  int32_t hold_shown = 0;
  int32_t clock_frozen = 0;
  double pause_start = 0.0;
  double paused_total = 0.0;
  int32_t legend_on = 0;
  int32_t info_on = 0;
  double last_refresh = -1.0;
  double last_json_map = -1.0;
  double ui_start_time = 0.0;
  termios saved_termios{};
  // Map as last drawn, for skipping unchanged rows.
  std::vector<uint8_t> map_snapshot;
  int32_t snapshot_cols = 0;
  int32_t snapshot_cells = 0;
  int32_t last_width = 0;   // B of the previous frame
  int32_t last_height = 0;  // H of the previous frame
};

}  // namespace dravik
