// The PRODUCTION driver: turns the per-pass byte budget into passes of
// regions, tests each region on the main thread and releases all of a pass's
// regions together. The OFFLINE driver (offline.h) shares the budget, the
// map set-up and the end of the passes.
#pragma once
#include <cstdint>

namespace dravik {

struct EngineContext;

// The per-pass budget from available memory minus the reserve, capped by
// --mem, and the untested rest of the memory. Taken once per run.
void take_budget(EngineContext& run);

// Budget (when not taken yet) and map set-up before the first pass; false
// when the budget is below 8 MiB (the run then ends with ALLOC_ABORT).
bool prepare_passes(EngineContext& run);

// The PRODUCTION driver.
void run_production(EngineContext& run);

// After the last pass of either driver: the end reason and the pass shown.
void finish_passes(EngineContext& run);

// One pass of the single sweep on the main thread.
void sweep_pass(EngineContext& run, uint64_t budget, uint64_t chunk);

}  // namespace dravik
