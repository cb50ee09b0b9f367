// The metrics file of a run, for node-exporter's textfile collector: whether
// a run is under way and when it started; the last run's time, duration,
// exit status and verdict; the fault test's bytes, faults and end reason; the
// EDAC and kernel-log readings; the qualification's figures. Every series
// carries the labels mode, tier and version, and nothing whose values grow
// without bound. Written at a run's start (dravik_run_in_progress 1, the last
// finished run's series kept) and at its end (dravik_run_in_progress 0).
#pragma once
#include <string>

#include "report/records/run_outcome.h"

namespace dravik {

// The whole file, in the Prometheus text format.
std::string run_metrics_text(const RunOutcome& outcome);

// Replaces path with the metrics of outcome at once (see replace_file). On
// failure returns false with the reason in *error; path is left as it was.
bool write_run_metrics(const std::string& path, const RunOutcome& outcome, std::string* error);

}  // namespace dravik
