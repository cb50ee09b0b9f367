// The calls by which a test announces itself and reports progress.
#pragma once

#include "core/run/state.h"

namespace dravik {

struct EngineContext;

// Announces the algorithm now running. name must have static storage (the
// catalogue's names): readers on other threads keep the pointer.
void begin_test(EngineContext& run, const char* name);

// Progress checkpoint and poll. On the main thread it runs one UI tick; on a
// worker thread it only waits out a user pause.
void test_progress(EngineContext& run, double pct);

// Name of the current algorithm cut to 23 characters ("" before any).
void current_test_name(const RunState& st, char out[24]);

}  // namespace dravik
