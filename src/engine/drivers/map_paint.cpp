// Painting test progress onto the memory map: cells of the regions under
// test (physical map) or the finished fraction of the pass (logical map).
#include "engine/drivers/map_paint.h"

#include <mutex>

#include "engine/context.h"

namespace dravik {

void mark_cells(EngineContext& run, const void* base, uint64_t size, uint8_t state, int32_t* lo,
                int32_t* hi) {
  MapGeometry& map = run.map;
  uint64_t step = run.phys.page_size;
  while (step > 0 && size / step > 1024) step *= 2;
  const uint64_t start = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(base));
  for (uint64_t offset = 0; offset < size; offset += step) {
    const uint64_t paddr = virt_to_phys(run.phys, start + offset);
    if (paddr == 0) continue;
    const int32_t cell = cell_of_phys(map, paddr);
    if (cell < 0) continue;
    if (cell < map.cells) {
      std::lock_guard<std::mutex> guard(map.lock);
      const uint8_t old = map.get(cell);
      if (old != static_cast<uint8_t>(CellState::fault) &&
          old != static_cast<uint8_t>(CellState::suspect) && old != state) {
        map.put(cell, state);
        map.dirty.store(1, std::memory_order_relaxed);
      }
    }
    if (*lo < 0 || *lo > cell) *lo = cell;
    if (*hi < cell) *hi = cell;
  }
}

void paint_progress(EngineContext& run) {
  MapGeometry& map = run.map;
  if (!map.logical || map.cells <= 0 || run.st.budget == 0) return;
  double fraction = static_cast<double>(run.st.pass_bytes.load(std::memory_order_relaxed)) /
                    static_cast<double>(run.st.budget);
  if (fraction > 1.0) fraction = 1.0;
  int32_t edge = static_cast<int32_t>(map.cells * fraction);
  if (edge > map.cells - 1) edge = map.cells - 1;
  const uint8_t done = static_cast<uint8_t>(
      3 + (run.st.color_counter.load(std::memory_order_relaxed) & 3));
  // Workers mark faults under the map's lock; painting under the same lock
  // keeps a hard mark from being overwritten between read and write.
  std::lock_guard<std::mutex> guard(map.lock);
  bool changed = false;
  for (int32_t i = 0; i < map.cells; ++i) {
    const uint8_t old = map.get(i);
    if (old == static_cast<uint8_t>(CellState::fault)) continue;
    const uint8_t now = i < edge ? done
                        : i == edge ? static_cast<uint8_t>(CellState::active)
                                    : static_cast<uint8_t>(CellState::untested);
    if (now != old) {
      map.put(i, now);
      changed = true;
    }
  }
  if (changed) map.dirty.store(1, std::memory_order_relaxed);
}

}  // namespace dravik
