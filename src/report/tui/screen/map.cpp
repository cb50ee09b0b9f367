// The memory map rows. Unchanged rows are not sent at all: the snapshot holds
// what the terminal shows, so a frame with a quiet map costs only the rows
// whose cells moved.
#include <vector>

#include "report/run_view.h"
#include "report/tui/screen/parts.h"

namespace dravik {

namespace {

// A row needs at most this many bytes per column: a reset, the longest
// colour string and a three-byte glyph.
constexpr size_t kColumnRoom = 33;

void compose_map_row(const UiTheme& theme, const uint8_t* states, int32_t cols, LineText<6144>& line) {
  line.add(" ");
  int32_t previous = -1;
  for (int32_t c = 0; c < cols; ++c) {
    // Keep room for the closing reset.
    if (line.room() < kColumnRoom + 4) break;
    const uint8_t s = states[c];
    if (s != previous) {
      line.add(kReset);
      line.add(theme.cell_colour[s]);
      previous = s;
    }
    line.add(theme.cell_glyph[s]);
  }
  line.add(kReset);
}

}  // namespace

int32_t draw_map_rows(FrameView& v, int32_t first_row) {
  MapGeometry& map = v.run.map;
  UiState& ui = v.run.ui;
  const int32_t rows = map.rows < 0 ? 0 : map.rows;
  const int32_t cols = map.cols < 0 ? 0 : map.cols;
  const int32_t cells = map.cell ? map.cells : 0;

  // Taking the flag before reading the cells means a change made while this
  // frame is composed sets it again and is drawn by the next frame.
  const bool dirty = map.dirty.exchange(0, std::memory_order_relaxed) != 0;
  const bool skipping = !dirty && ui.snapshot_valid && ui.snapshot_cols == cols &&
                        ui.snapshot_cells >= cells;
  if (!skipping) {
    ui.map_snapshot.assign(static_cast<size_t>(cells), UiState::kSnapshotUnknown);
    ui.snapshot_cols = cols;
    ui.snapshot_cells = cells;
    ui.snapshot_valid = 1;
  }

  std::vector<uint8_t> states(static_cast<size_t>(cols));
  for (int32_t r = 0; r < rows; ++r) {
    const int64_t first = static_cast<int64_t>(r) * cols;
    bool same = skipping;
    for (int32_t c = 0; c < cols; ++c) {
      const int64_t i = first + c;
      // Positions past the last cell fill the last row as untested.
      states[c] = i < cells ? drawn_state(map.get(static_cast<int32_t>(i))) : 1;
      if (same && i < cells && ui.map_snapshot[i] != states[c]) same = false;
    }
    if (same) continue;
    LineText<6144> line;
    compose_map_row(*v.f.theme, states.data(), cols, line);
    const bool shown = frame_row(v.f, first_row + r, line.text);
    for (int32_t c = 0; c < cols && first + c < cells; ++c) {
      ui.map_snapshot[first + c] = shown ? states[c] : UiState::kSnapshotUnknown;
    }
  }
  return rows;
}

}  // namespace dravik
