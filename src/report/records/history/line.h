// The history line of a run: its result event as the JSON stream has it (the
// summary, hcl_verdict or bench_summary line), with the run's context added
// as keys of the same object: "host", "version", "start" (UTC, ISO 8601),
// "options" (the command line after the program name) and "exit_status"
// (the run's own status). The result event's "verdict" is the record's word
// (outcome.verdict): a fault test that was stopped or aborted, or that tested
// nothing, says so there (see record_verdict.h) where its summary says
// "PASS". A run without a result event (a self-check, a qualification that
// could not start) gets {"event":"run_end","verdict":..} in its place.
#pragma once
#include <string>

#include "report/records/run_outcome.h"

namespace dravik {

std::string history_line(const RunOutcome& outcome);

// Wall-clock seconds as "2026-12-08T05:46:06Z".
std::string utc_iso8601(double unix_seconds);

}  // namespace dravik
