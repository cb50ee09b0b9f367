#include "engine/map/relayout.h"

#include <mutex>
#include <vector>

#include "engine/faults/fault_log.h"
#include "engine/map/memory_map.h"

namespace dravik {

namespace {

constexpr uint8_t kHardMark = static_cast<uint8_t>(CellState::fault);
constexpr uint8_t kTransientMark = static_cast<uint8_t>(CellState::suspect);

struct OldMark {
  int32_t cell;
  uint8_t state;
};

struct PlacedFault {
  uint64_t paddr;
  uint8_t state;
};

// Only the dimensions that cell_of_phys reads.
void copy_extent(const MapGeometry& from, MapGeometry& to) {
  to.cells = from.cells;
  to.base = from.base;
  to.span = from.span;
  to.logical = from.logical;
}

bool physical_mark_of(const std::vector<PlacedFault>& placed, const MapGeometry& map,
                      int32_t cell) {
  for (const PlacedFault& f : placed) {
    if (cell_of_phys(map, f.paddr) == cell) return true;
  }
  return false;
}

}  // namespace

void relayout_map(MapGeometry& map, const FaultLog& faults, const RamRanges& ranges,
                  const RunState& st, int32_t cols, int32_t rows) {
  MapGeometry old;
  std::vector<OldMark> marks;
  {
    // Workers mark cells under the map's lock. A mark a worker makes between
    // this copy and the new layout is lost only when it has no physical
    // address (the others come back from the log below).
    std::lock_guard<std::mutex> hold(map.lock);
    copy_extent(map, old);
    for (int32_t i = 0; i < map.cells && map.cell; ++i) {
      const uint8_t state = map.get(i);
      if (state == kHardMark || state == kTransientMark) marks.push_back({i, state});
    }
  }
  std::vector<PlacedFault> placed;
  {
    std::lock_guard<std::mutex> hold(faults.stats_lock);
    for (int32_t i = 0; i < faults.used; ++i) {
      const FaultRecord& r = faults.records[i];
      if (r.paddr == 0) continue;
      placed.push_back({r.paddr, r.cls == FaultClass::hard ? kHardMark : kTransientMark});
    }
  }
  map_setup(map, ranges, st, cols, rows);

  std::lock_guard<std::mutex> hold(map.lock);
  if (map.cells <= 0 || !map.cell) return;
  if (!map.logical) {
    for (const PlacedFault& f : placed) set_cell_state(map, cell_of_phys(map, f.paddr), f.state);
  }
  for (const OldMark& m : marks) {
    // Already placed exactly from its record.
    if (!map.logical && !old.logical && physical_mark_of(placed, old, m.cell)) continue;
    const uint64_t cell = static_cast<uint64_t>(m.cell) * static_cast<uint64_t>(map.cells) /
                          static_cast<uint64_t>(old.cells);
    set_cell_state(map, static_cast<int32_t>(cell), m.state);
  }
}

}  // namespace dravik
