// The pass scheduler: turns the per-pass byte budget into passes of regions,
// tests each region and releases all of a pass's regions together.
//
// Threads. PRODUCTION and one-thread OFFLINE run everything on the main
// thread. Threaded OFFLINE starts up to 256 workers per pass and joins them
// before the pass ends:
//   - pool_lock guards every value of the RegionPool (unclaimed budget,
//     claims, flags, the pool's region table); regions are mapped and tested
//     outside it.
//   - the fault log's stats_lock guards the byte counters as workers add to
//     them, last_locked and the finished-worker count; the two locks are never
//     held together.
//   - workers poll stop_requested before every region and wait out a user
//     pause inside test_progress; they never emit events or draw.
//   - the main thread waits in 150 ms steps, ticking the UI, and reads the
//     byte counters and the finished count without the lock (they only grow).
#pragma once
#include <cstdint>

namespace dravik {

struct Run;

// The per-pass budget from available memory minus the reserve, capped by
// --mem, and the untested rest of the memory. Taken once per run.
void take_budget(Run& run);

// Budget (when not taken yet) and map set-up before the first pass; false when the budget is
// below 8 MiB (the run then ends with ALLOC_ABORT).
bool prepare_passes(Run& run);

// The PRODUCTION driver.
void run_production(Run& run);
// The OFFLINE driver.
void run_offline(Run& run);

// After the last pass of either driver: the end reason and the pass shown.
void finish_passes(Run& run);

// One pass of the single sweep on the main thread.
void sweep_pass(Run& run, uint64_t budget, uint64_t chunk);

// Marks the map cells of a region (physical map mode) with state, skipping
// cells that hold a fault mark, and widens [*lo, *hi] (both -1 on entry) over
// every cell touched.
void mark_cells(Run& run, const void* base, uint64_t size, uint8_t state, int32_t* lo,
                int32_t* hi);

// Repaints the logical map from the bytes finished in the pass.
void paint_progress(Run& run);

// Map dimensions for the output style: the terminal size for the screen,
// 120 x 18 for JSON.
void map_dimensions(const Run& run, int32_t* cols, int32_t* rows);

}  // namespace dravik
