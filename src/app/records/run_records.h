// The records a run leaves behind when asked (--history, --metrics), written
// by the composition root once the run's own output is done, whatever the
// run's outcome; the metrics also once as the run starts. A record that
// cannot be written is told on standard error; the run's own result stands.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "core/config.h"
#include "report/records/run_outcome.h"

namespace dravik {

struct Run;
struct HclVerdictReport;

// Exit status of a run whose own result was clean (0) but one of whose
// records could not be written; any other status is left as it is.
inline constexpr int kRecordsNotWritten = 4;

// What the run's end knows beside the run record.
struct RunEnd {
  int exit_status = 0;
  double start_time = 0.0;                // wall clock when the run started
  const HclVerdictReport* hcl = nullptr;  // the qualification's verdict, when it reached one
  std::vector<std::string> options;       // the command line after the program name
};

// The outcome of the run as the records tell it.
RunOutcome run_outcome(Run& run, const RunEnd& end);

// With --metrics, the start-of-run metrics: a run of cfg's mode and tier
// under way since start_time, beside the last finished run's series kept from
// the file (report/records/metrics/carry.h). A file that cannot be written is
// told on err and the run goes on (its end tries again).
void note_run_start(const RunConfig& cfg, double start_time, FILE* err = stderr);

// The records cfg asks for, of the run that just ended: the status the
// process ends with (keep_run_records). Without --history and --metrics
// nothing is done and the run's own status stands.
int keep_records_of(Run& run, const RunEnd& end);

// Appends the history line, then replaces the metrics file, as cfg asks.
// Returns the status the process ends with: the run's own, or
// kRecordsNotWritten when that was 0 and a record failed.
int keep_run_records(const RunConfig& cfg, RunOutcome& outcome, FILE* err = stderr);

// Wall-clock seconds (Unix time).
double wall_seconds();

}  // namespace dravik
