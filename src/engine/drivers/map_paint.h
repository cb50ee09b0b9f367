// Painting test progress onto the memory map. Fault marks are never painted
// over: progress leaves a fault or suspect cell as it is.
#pragma once
#include <cstdint>

namespace dravik {

struct EngineContext;

// Marks the map cells of a region (physical map mode) with state, skipping
// cells that hold a fault mark, and widens [*lo, *hi] (both -1 on entry) over
// every cell touched.
void mark_cells(EngineContext& run, const void* base, uint64_t size, uint8_t state, int32_t* lo,
                int32_t* hi);

// Repaints the logical map from the bytes finished in the pass.
void paint_progress(EngineContext& run);

}  // namespace dravik
