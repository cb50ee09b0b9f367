// The JSON event stream: one NDJSON line per event on standard output,
// flushed after every line. The HCL run writes its own lines to the same
// stream.
#pragma once
#include <cstdio>

#include "core/run/event_sink.h"

namespace dravik {

struct RunView;

// The JSON sink: each event as its line on the stream.
void json_emit(RunView& run, EventKind kind, const void* payload);

// The stream the JSON lines go to: standard output unless redirected.
FILE* json_output();
// Redirects the JSON lines (tests); nullptr restores standard output.
void set_json_output(FILE* out);

// Ends a JSON line: flushes so that the line reaches a pipe whole and at
// once. A failed write of standard output (a closed reader, a full disk) is
// told once and remembered for the exit status (core/output_check.h); the
// stream's own error state is cleared, so the next line is tried again.
void json_end_line(FILE* out);

}  // namespace dravik
