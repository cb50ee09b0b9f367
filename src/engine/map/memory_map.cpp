#include "engine/map/memory_map.h"

#include <algorithm>
#include <mutex>
#include <new>

#include "core/run/state.h"
#include "cpu/wide_int.h"
#include "memory/address/phys_map.h"

namespace dravik {

namespace {

constexpr uint8_t kFault = static_cast<uint8_t>(CellState::fault);
constexpr uint8_t kSuspect = static_cast<uint8_t>(CellState::suspect);

// The new geometry is built apart and swapped in whole, so a worker marking a
// fault under the lock never sees a cell count that does not match its array.
struct Layout {
  int32_t cols = 0, rows = 0, cells = 0;
  uint64_t bytes_per_cell = 1, base = 0, span = 1;
  int32_t logical = 1;
  std::unique_ptr<std::atomic<uint8_t>[]> cell;
};

int32_t cell_index(uint64_t offset, int32_t cells, uint64_t span) {
  const cpu::U128 product = cpu::mul_wide(offset, static_cast<uint64_t>(cells));
  const uint64_t last = static_cast<uint64_t>(cells - 1);
  // A quotient that would not fit in a word is past the last cell anyway.
  if (product.hi >= span) return static_cast<int32_t>(last);
  uint64_t rem = 0;
  return static_cast<int32_t>(std::min(cpu::div_wide(product, span, &rem), last));
}

// A cell shows RAM when some range overlaps it. Cells are painted through the
// same address-to-cell rule that fault marks and progress use, so a range is
// never drawn one cell away from where its faults land.
void paint_ram(Layout& l, const RamRanges& ranges) {
  for (int32_t i = 0; i < ranges.count; ++i) {
    const RamRange& r = ranges.entries[i];
    if (r.last < l.base) continue;
    const uint64_t first = std::max(r.first, l.base);
    if (first - l.base >= l.span) continue;
    const int32_t lo = cell_index(first - l.base, l.cells, l.span);
    const int32_t hi =
        r.last - l.base >= l.span ? l.cells - 1 : cell_index(r.last - l.base, l.cells, l.span);
    for (int32_t c = lo; c <= hi; ++c) {
      l.cell[c].store(static_cast<uint8_t>(CellState::untested), std::memory_order_relaxed);
    }
  }
}

Layout build_layout(const RamRanges& ranges, const RunState& st, int32_t cols, int32_t rows) {
  Layout l;
  l.cols = std::max(cols, 10);
  l.rows = std::max(rows, 0);
  const int64_t want = static_cast<int64_t>(l.cols) * l.rows;
  if (want > 0 && want <= INT32_MAX) {
    l.cell.reset(new (std::nothrow) std::atomic<uint8_t>[static_cast<size_t>(want)]);
    if (l.cell) l.cells = static_cast<int32_t>(want);
  }

  if (st.phys_ok && ranges.count > 0) {
    l.logical = 0;
    l.base = ranges.lowest;
    l.span = ranges.highest - ranges.lowest + 1;
    if (l.span == 0) l.span = 1;  // the ranges cover all 64 bits of address
  } else {
    l.logical = 1;
    l.base = 0;
    l.span = st.budget != 0 ? st.budget : st.mem_total != 0 ? st.mem_total : 1;
  }
  if (l.cells > 0)
    l.bytes_per_cell = std::max<uint64_t>(l.span / static_cast<uint64_t>(l.cells), 1);

  const auto fill = static_cast<uint8_t>(l.logical ? CellState::untested : CellState::reserved);
  for (int32_t i = 0; i < l.cells; ++i) l.cell[i].store(fill, std::memory_order_relaxed);
  if (!l.logical && l.cells > 0) paint_ram(l, ranges);
  return l;
}

}  // namespace

void map_setup(MapGeometry& m, const RamRanges& ranges, const RunState& st, int32_t cols,
               int32_t rows) {
  Layout l = build_layout(ranges, st, cols, rows);
  {
    std::lock_guard<std::mutex> hold(m.lock);
    m.cols = l.cols;
    m.rows = l.rows;
    m.cells = l.cells;
    m.bytes_per_cell = l.bytes_per_cell;
    m.base = l.base;
    m.span = l.span;
    m.logical = l.logical;
    m.cell.swap(l.cell);
    m.dirty.store(1, std::memory_order_relaxed);
  }
  // The old array dies with l, outside the lock.
}

int32_t cell_of_phys(const MapGeometry& map, uint64_t paddr) {
  if (map.cells <= 0 || map.span == 0 || paddr < map.base) return -1;
  const uint64_t offset = paddr - map.base;
  if (offset >= map.span) return -1;
  return cell_index(offset, map.cells, map.span);
}

void set_cell_state(MapGeometry& map, int32_t cell, uint8_t state) {
  if (cell < 0 || cell >= map.cells || !map.cell) return;
  const uint8_t old = map.get(cell);
  if (state == old || old == kFault) return;
  if (old == kSuspect && state != kFault && state != kSuspect) return;
  map.put(cell, state);
  map.dirty.store(1, std::memory_order_relaxed);
}

int32_t cell_of_progress(const MapGeometry& map, uint64_t pass_bytes, uint64_t budget) {
  if (map.cells <= 0) return -1;
  if (budget == 0) return 0;
  if (pass_bytes >= budget) return map.cells - 1;
  return cell_index(pass_bytes, map.cells, budget);
}

}  // namespace dravik
