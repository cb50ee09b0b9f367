#include "engine/map/memory_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace dravik {
namespace {

constexpr uint64_t MiB = 1ull << 20;
constexpr uint64_t GiB = 1ull << 30;

void set_ranges(Run& run, const std::vector<RamRange>& ranges) {
  RamRanges& r = run.phys.ram_ranges;
  r.count = 0;
  for (const RamRange& e : ranges) {
    if (r.count == 0 || e.first < r.lowest) r.lowest = e.first;
    if (r.count == 0 || e.last > r.highest) r.highest = e.last;
    r.entries[r.count++] = e;
  }
}

std::string states(const MapGeometry& m) {
  std::string s;
  for (int32_t i = 0; i < m.cells; ++i) s += static_cast<char>('0' + m.get(i));
  return s;
}

TEST(MemoryMap, LogicalModeSpansTheBudget) {
  const struct {
    const char* name;
    uint64_t budget, mem_total;
    uint64_t span, bytes_per_cell;
  } cases[] = {
      {"budget", 300 * MiB, 8 * GiB, 300 * MiB, 300 * MiB / 30},
      {"no budget: mem_total", 0, 3 * GiB, 3 * GiB, 3 * GiB / 30},
      {"neither: one byte", 0, 0, 1, 1},
  };
  for (const auto& c : cases) {
    auto run = testing::make_run();
    run->st.budget = c.budget;
    run->st.mem_total = c.mem_total;
    map_setup(run->map, run->phys.ram_ranges, run->st, 10, 3);
    const MapGeometry& m = run->map;
    EXPECT_EQ(m.logical, 1) << c.name;
    EXPECT_EQ(m.base, 0u) << c.name;
    EXPECT_EQ(m.span, c.span) << c.name;
    EXPECT_EQ(m.bytes_per_cell, c.bytes_per_cell) << c.name;
    EXPECT_EQ(states(m), std::string(30, '1')) << c.name;
  }
}

TEST(MemoryMap, GeometryAndResetOnEverySetup) {
  auto run = testing::make_run();
  run->st.budget = GiB;
  map_setup(run->map, run->phys.ram_ranges, run->st, 7, 4);  // too narrow: widened to 10 columns
  EXPECT_EQ(run->map.cols, 10);
  EXPECT_EQ(run->map.rows, 4);
  EXPECT_EQ(run->map.cells, 40);
  EXPECT_EQ(run->map.dirty.load(), 1);

  set_cell_state(run->map, 5, 7);
  run->map.dirty.store(0);
  map_setup(run->map, run->phys.ram_ranges, run->st, 120, 18);  // a resize builds a fresh map
  EXPECT_EQ(run->map.cells, 2160);
  EXPECT_EQ(run->map.get(5), 1);
  EXPECT_EQ(run->map.dirty.load(), 1);

  // No rows: an empty map that every call tolerates.
  map_setup(run->map, run->phys.ram_ranges, run->st, 40, 0);
  EXPECT_EQ(run->map.cells, 0);
  EXPECT_EQ(cell_of_phys(run->map, 0), -1);
  EXPECT_EQ(cell_of_progress(run->map, 10, 100), -1);
  set_cell_state(run->map, 0, 7);
}

TEST(MemoryMap, PhysicalModeShowsHolesAsReserved) {
  auto run = testing::make_run();
  run->st.phys_ok = 1;
  run->st.budget = GiB;
  set_ranges(*run, {{0, GiB - 1}, {2 * GiB, 3 * GiB - 1}});
  map_setup(run->map, run->phys.ram_ranges, run->st, 12, 1);
  const MapGeometry& m = run->map;
  EXPECT_EQ(m.logical, 0);
  EXPECT_EQ(m.base, 0u);
  EXPECT_EQ(m.span, 3 * GiB);
  EXPECT_EQ(m.bytes_per_cell, 256 * MiB);
  EXPECT_EQ(states(m), "111100001111");
}

TEST(MemoryMap, CellTouchedByAnyRangeIsRam) {
  auto run = testing::make_run();
  run->st.phys_ok = 1;
  // Span 0x1000..0x1000+1000: 10 cells of 100 bytes. Ranges reach one byte
  // into cell 3 and cover one byte of cell 8.
  set_ranges(*run,
             {{0x1000, 0x1000 + 300}, {0x1000 + 899, 0x1000 + 899}, {0x1000 + 999, 0x1000 + 999}});
  map_setup(run->map, run->phys.ram_ranges, run->st, 10, 1);
  EXPECT_EQ(run->map.base, 0x1000u);
  EXPECT_EQ(run->map.span, 1000u);
  EXPECT_EQ(states(run->map), "1111000011");
}

TEST(MemoryMap, EveryRangeEndLandsInARamCell) {
  // Spans that are no multiple of the cell count: the painting and the
  // address lookup must agree on which cell holds a byte.
  auto run = testing::make_run();
  run->st.phys_ok = 1;
  const std::vector<RamRange> ranges{{0x1000, 0x9fbff},
                                     {0x100000, 0xbfffffff},
                                     {0x100000000, 0x63fffffff},
                                     {0x640000123, 0x640000123}};
  set_ranges(*run, ranges);
  for (int32_t cols : {10, 37, 113, 997}) {
    map_setup(run->map, run->phys.ram_ranges, run->st, cols, 7);
    for (const RamRange& r : ranges) {
      for (uint64_t a : {r.first, r.last, r.first + (r.last - r.first) / 2}) {
        const int32_t c = cell_of_phys(run->map, a);
        ASSERT_GE(c, 0) << cols;
        EXPECT_EQ(run->map.get(c), 1) << "cols " << cols << " addr " << std::hex << a;
      }
    }
  }
}

TEST(MemoryMap, PhysicalModeNeedsTranslationAndRanges) {
  auto run = testing::make_run();
  run->st.budget = 100 * MiB;
  set_ranges(*run, {{0x100000, 0xbfffffff}});
  map_setup(run->map, run->phys.ram_ranges, run->st, 10, 2);  // ranges but no working translation
  EXPECT_EQ(run->map.logical, 1);
  EXPECT_EQ(run->map.span, 100 * MiB);

  run->st.phys_ok = 1;
  run->phys.ram_ranges.count = 0;
  map_setup(run->map, run->phys.ram_ranges, run->st, 10, 2);  // translation but no ranges
  EXPECT_EQ(run->map.logical, 1);
}

TEST(MemoryMap, WholeAddressSpaceDegeneratesToOneByteSpan) {
  auto run = testing::make_run();
  run->st.phys_ok = 1;
  set_ranges(*run, {{0, UINT64_MAX}});
  map_setup(run->map, run->phys.ram_ranges, run->st, 10, 1);
  EXPECT_EQ(run->map.span, 1u);
  EXPECT_EQ(run->map.bytes_per_cell, 1u);
  EXPECT_EQ(cell_of_phys(run->map, 0), 0);
  EXPECT_EQ(cell_of_phys(run->map, 1), -1);
}

TEST(MemoryMap, CellOfPhys) {
  auto run = testing::make_run();
  run->st.phys_ok = 1;
  const uint64_t base = 0x100000, span = 3000 * MiB;
  set_ranges(*run, {{base, base + span - 1}});
  map_setup(run->map, run->phys.ram_ranges, run->st, 10, 3);
  const MapGeometry& m = run->map;
  const struct {
    uint64_t addr;
    int32_t cell;
  } cases[] = {{0, -1},
               {base - 1, -1},
               {base, 0},
               {base + span / 30 - 1, 0},
               {base + span / 30, 1},
               {base + span / 2, 15},
               {base + span - 1, 29},
               {base + span, -1},
               {UINT64_MAX, -1}};
  for (const auto& c : cases) EXPECT_EQ(cell_of_phys(m, c.addr), c.cell) << std::hex << c.addr;
}

TEST(MemoryMap, CellOfPhysDoesNotOverflowOnHugeSpans) {
  auto run = testing::make_run();
  run->st.phys_ok = 1;
  set_ranges(*run, {{0, (1ull << 63) - 1}});
  map_setup(run->map, run->phys.ram_ranges, run->st, 100, 20);
  EXPECT_EQ(cell_of_phys(run->map, 1ull << 62), 1000);
  EXPECT_EQ(cell_of_phys(run->map, (1ull << 63) - 1), 1999);
  EXPECT_EQ(cell_of_phys(run->map, 3ull << 61), 1500);
}

TEST(MemoryMap, FaultMarksFollowThePriorityRule) {
  // old state, written state, resulting state
  const struct {
    uint8_t old_state, state, result;
  } cases[] = {
      {1, 3, 3}, {2, 1, 1}, {3, 8, 8}, {1, 7, 7}, {8, 3, 8}, {8, 1, 8}, {8, 2, 8},
      {8, 7, 7}, {8, 8, 8}, {7, 8, 7}, {7, 3, 7}, {7, 0, 7}, {7, 7, 7}, {0, 8, 8},
  };
  auto run = testing::make_run();
  run->st.budget = GiB;
  map_setup(run->map, run->phys.ram_ranges, run->st, 10, 1);
  MapGeometry& m = run->map;
  for (const auto& c : cases) {
    m.put(4, c.old_state);
    m.dirty.store(0);
    set_cell_state(m, 4, c.state);
    EXPECT_EQ(m.get(4), c.result) << int(c.old_state) << " <- " << int(c.state);
    EXPECT_EQ(m.dirty.load(), c.result != c.old_state ? 1 : 0)
        << int(c.old_state) << " <- " << int(c.state);
  }
  const std::string before = states(m);
  for (int32_t outside : {-1, 10, 1 << 30}) set_cell_state(m, outside, 7);
  EXPECT_EQ(states(m), before);
}

TEST(MemoryMap, CellOfProgress) {
  auto run = testing::make_run();
  run->st.budget = GiB;
  map_setup(run->map, run->phys.ram_ranges, run->st, 10, 3);  // 30 cells
  const struct {
    uint64_t pass_bytes, budget;
    int32_t cell;
  } cases[] = {
      {0, GiB, 0},
      {GiB / 2, GiB, 15},
      {GiB / 30, GiB, 0},
      {GiB / 30 + 1, GiB, 1},
      {GiB - 1, GiB, 29},
      {GiB, GiB, 29},
      {3 * GiB, GiB, 29},
      {123, 0, 0},
      {UINT64_MAX - 1, UINT64_MAX, 29},
      {UINT64_MAX / 2, UINT64_MAX, 14},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cell_of_progress(run->map, c.pass_bytes, c.budget), c.cell)
        << c.pass_bytes << "/" << c.budget;
  }
}

}  // namespace
}  // namespace dravik
