// The dashboard family's sink: redraws the dashboard as events arrive, and at
// the end of a run restores the terminal and prints the console summary;
// benchmark events become the console table.
#pragma once
#include "core/run/event_sink.h"

namespace dravik {

struct RunView;

void ui_emit(RunView& run, EventKind kind, const void* payload);

}  // namespace dravik
