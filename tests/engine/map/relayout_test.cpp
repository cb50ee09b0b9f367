// A new terminal size lays the map out again; the fault marks come back where
// their faults lie instead of vanishing until the next sighting.
#include <gtest/gtest.h>

#include <map>

#include "core/run/flags.h"
#include "engine/faults/fault_log.h"
#include "engine/map/memory_map.h"
#include "memory/address/phys_map.h"
#include "engine/map/relayout.h"
#include "support/test_support.h"

namespace dravik {
namespace {

constexpr uint8_t kHard = static_cast<uint8_t>(CellState::fault);
constexpr uint8_t kTransient = static_cast<uint8_t>(CellState::suspect);

// Every cell holding a fault mark, by index.
std::map<int32_t, uint8_t> fault_marks(const MapGeometry& map) {
  std::map<int32_t, uint8_t> marks;
  for (int32_t i = 0; i < map.cells; ++i) {
    if (map.get(i) == kHard || map.get(i) == kTransient) marks[i] = map.get(i);
  }
  return marks;
}

FaultRecord& add_record(Run& run, uint64_t paddr, FaultClass cls) {
  FaultRecord& r = run.faults.records[static_cast<size_t>(run.faults.used++)];
  r.vaddr = 0x7f0000000000ull + 64u * static_cast<uint64_t>(run.faults.used);
  r.paddr = paddr;
  r.cls = cls;
  return r;
}

TEST(MapRelayout, LogicalMarksMoveToTheSameRelativePlace) {
  auto run = testing::make_run();
  run->st.budget = 1ull << 30;
  map_setup(run->map, run->phys.ram_ranges, run->st, 96, 13);  // 1248 cells
  set_cell_state(run->map, 600, kHard);
  set_cell_state(run->map, 1247, kTransient);
  set_cell_state(run->map, 0, kTransient);
  relayout_map(run->map, run->faults, run->phys.ram_ranges, run->st, 136, 24);  // 3264 cells
  ASSERT_EQ(run->map.cells, 3264);
  EXPECT_EQ(fault_marks(run->map),
            (std::map<int32_t, uint8_t>{{0, kTransient}, {600 * 3264 / 1248, kHard}, {1247 * 3264 / 1248, kTransient}}));
  // Shrinking keeps them too.
  relayout_map(run->map, run->faults, run->phys.ram_ranges, run->st, 20, 3);
  EXPECT_EQ(fault_marks(run->map), (std::map<int32_t, uint8_t>{{0, kTransient}, {28, kHard}, {59, kTransient}}));
}

TEST(MapRelayout, PhysicalMarksComeBackFromTheFaultLog) {
  auto run = testing::make_run();
  run->phys.ram_ranges = read_ram_ranges(testing::fixture("iomem/three_ram_ranges.iomem"));
  ASSERT_EQ(run->phys.ram_ranges.count, 3);
  run->st.phys_ok = 1;
  run->st.budget = 1ull << 30;
  map_setup(run->map, run->phys.ram_ranges, run->st, 96, 13);
  ASSERT_EQ(run->map.logical, 0);
  const uint64_t hard_at = 0x123456789ull, transient_at = 0x5000000ull;
  add_record(*run, hard_at, FaultClass::hard);
  add_record(*run, transient_at, FaultClass::transient);
  set_cell_state(run->map, cell_of_phys(run->map, hard_at), kHard);
  set_cell_state(run->map, cell_of_phys(run->map, transient_at), kTransient);
  // A fault without physical address sits where the pass had come to.
  add_record(*run, 0, FaultClass::hard);
  set_cell_state(run->map, 1000, kHard);

  relayout_map(run->map, run->faults, run->phys.ram_ranges, run->st, 136, 24);
  const int32_t hard_cell = cell_of_phys(run->map, hard_at);
  const int32_t transient_cell = cell_of_phys(run->map, transient_at);
  ASSERT_GE(hard_cell, 0);
  ASSERT_GE(transient_cell, 0);
  EXPECT_EQ(fault_marks(run->map),
            (std::map<int32_t, uint8_t>{
                {transient_cell, kTransient}, {hard_cell, kHard}, {1000 * 3264 / 1248, kHard}}));
}

TEST(MapRelayout, TheNewLayoutIsDirtyAndFreshWithoutFaults) {
  auto run = testing::make_run();
  run->st.budget = 1ull << 30;
  map_setup(run->map, run->phys.ram_ranges, run->st, 96, 13);
  run->map.put(5, static_cast<uint8_t>(CellState::ok1));
  run->map.dirty = 0;
  relayout_map(run->map, run->faults, run->phys.ram_ranges, run->st, 50, 5);
  EXPECT_EQ(run->map.cells, 250);
  EXPECT_TRUE(fault_marks(run->map).empty());
  EXPECT_EQ(run->map.get(2), static_cast<uint8_t>(CellState::untested));
  EXPECT_EQ(run->map.dirty.load(), 1);
}

}  // namespace
}  // namespace dravik
