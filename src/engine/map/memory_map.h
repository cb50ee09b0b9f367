// The memory map: a grid of cells, each one slice of the tested memory, shared
// by the scheduler (progress), fault recording (fault marks), the JSON stream
// and the screen.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace dravik {

struct RamRanges;
struct RunState;

enum class CellState : uint8_t {
  reserved = 0,
  untested = 1,
  active = 2,
  ok1 = 3,
  ok2 = 4,
  ok3 = 5,
  ok4 = 6,
  fault = 7,
  suspect = 8,
  system = 9,
};

// Cell bytes are relaxed atomics, so the screen and the JSON stream read them
// without a lock. Every change of a cell that depends on its old value (a
// fault mark, progress painting) and the swap of the cell array on a new
// layout happen under `lock`, which guards nothing else.
struct MapGeometry {
  mutable std::mutex lock;
  int32_t cols = 0;
  int32_t rows = 0;
  int32_t cells = 0;
  uint64_t bytes_per_cell = 1;
  uint64_t base = 0;
  uint64_t span = 0;
  int32_t logical = 1;
  std::unique_ptr<std::atomic<uint8_t>[]> cell;
  std::atomic<int32_t> dirty{0};
  // The grid the output asked for (the terminal's map area, or 120 x 18 for
  // JSON); the composition root sets it before the map is laid out.
  int32_t want_cols = 120;
  int32_t want_rows = 18;

  uint8_t get(int32_t i) const { return cell[i].load(std::memory_order_relaxed); }
  void put(int32_t i, uint8_t v) { cell[i].store(v, std::memory_order_relaxed); }
};

// Rebuilds the geometry and the cell array: over the RAM ranges when address
// translation works (st.phys_ok) and they are known, else over the run's
// budget (or its memory total) as a logical map. The swap of the cell array
// happens under the map's lock.
void map_setup(MapGeometry& map, const RamRanges& ranges, const RunState& st, int32_t cols,
               int32_t rows);

// Cell holding a physical address, or -1.
int32_t cell_of_phys(const MapGeometry& map, uint64_t paddr);

// Writes a fault mark under the priority rule: a hard mark is final, a
// transient mark can only be raised to hard. The caller holds map.lock.
void set_cell_state(MapGeometry& map, int32_t cell, uint8_t state);

// Cell for a fault without physical address: the progress fraction of the pass.
int32_t cell_of_progress(const MapGeometry& map, uint64_t pass_bytes, uint64_t budget);

}  // namespace dravik
