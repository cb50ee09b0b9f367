#include "report/map_relayout.h"

#include <mutex>
#include <vector>

#include "core/run.h"
#include "engine/fault_log.h"
#include "engine/memory_map.h"

namespace dravik {

namespace {

constexpr uint8_t kHardMark = static_cast<uint8_t>(CellState::fault);
constexpr uint8_t kTransientMark = static_cast<uint8_t>(CellState::suspect);

struct OldMark {
  int32_t cell;
  uint8_t state;
};

// Only the dimensions that cell_of_phys reads.
void copy_extent(const MapGeometry& from, MapGeometry& to) {
  to.cells = from.cells;
  to.base = from.base;
  to.span = from.span;
  to.logical = from.logical;
}

bool physical_mark_of(const FaultLog& log, const MapGeometry& map, int32_t cell) {
  for (int32_t i = 0; i < log.used; ++i) {
    const uint64_t paddr = log.records[i].paddr;
    if (paddr != 0 && cell_of_phys(map, paddr) == cell) return true;
  }
  return false;
}

}  // namespace

void relayout_map(Run& run, int32_t cols, int32_t rows) {
  MapGeometry old;
  std::vector<OldMark> marks;
  {
    // Workers mark cells under this lock. A mark a worker makes between this
    // copy and the new layout is lost only when it has no physical address
    // (the others come back from the log below).
    std::lock_guard<std::mutex> hold(run.faults.stats_lock);
    copy_extent(run.map, old);
    for (int32_t i = 0; i < run.map.cells && run.map.cell; ++i) {
      const uint8_t state = run.map.get(i);
      if (state == kHardMark || state == kTransientMark) marks.push_back({i, state});
    }
  }
  map_setup(run, cols, rows);

  MapGeometry& map = run.map;
  const FaultLog& log = run.faults;
  std::lock_guard<std::mutex> hold(run.faults.stats_lock);
  if (map.cells <= 0 || !map.cell) return;
  if (!map.logical) {
    for (int32_t i = 0; i < log.used; ++i) {
      const FaultRecord& r = log.records[i];
      if (r.paddr == 0) continue;
      set_cell_state(map, cell_of_phys(map, r.paddr),
                     r.cls == FaultClass::hard ? kHardMark : kTransientMark);
    }
  }
  for (const OldMark& m : marks) {
    // Already placed exactly from its record.
    if (!map.logical && !old.logical && physical_mark_of(log, old, m.cell)) continue;
    const uint64_t cell = static_cast<uint64_t>(m.cell) * static_cast<uint64_t>(map.cells) /
                          static_cast<uint64_t>(old.cells);
    set_cell_state(map, static_cast<int32_t>(cell), m.state);
  }
}

}  // namespace dravik
