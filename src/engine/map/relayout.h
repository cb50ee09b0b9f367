// Laying the memory map out anew for another terminal size without losing
// the fault marks already on it.
#pragma once
#include <cstdint>

namespace dravik {

struct FaultLog;
struct MapGeometry;
struct RamRanges;
struct RunState;

// map_setup for cols x rows, then the fault marks come back: a record with a
// physical address on a physical map is marked where that address now lies;
// any other mark of the old layout (a logical map, a fault without physical
// address) moves to the cell at the same relative position. ranges and st
// are what map_setup lays the map out from. Main thread only.
void relayout_map(MapGeometry& map, const FaultLog& faults, const RamRanges& ranges,
                  const RunState& st, int32_t cols, int32_t rows);

}  // namespace dravik
