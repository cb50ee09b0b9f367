// What a run leaves for the records kept after it (the metrics file and the
// history line). The composition root fills it at the run's end, and once at
// its start for the start-of-run metrics (in_progress); a test fills one by
// hand.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/config.h"

namespace dravik {

struct HclVerdictReport;

struct RunOutcome {
  RunMode mode = RunMode::PRODUCTION;
  bool selftest = false;      // the self-check ran instead of a mode
  const char* tier = "none";  // the depth word of the mode; "none" where it has none
  double start_time = 0.0;    // wall clock, Unix seconds
  // The start-of-run record: only the labels and start_time are known, and
  // carried_metrics holds the last finished run's series (metrics/carry.h).
  bool in_progress = false;
  std::string carried_metrics;
  double end_time = 0.0;
  double duration_s = 0.0;
  int exit_status = 0;  // the run's own status (before its records are written)
  // The verdict word (for a fault test, record_verdict.h); nullptr for a mode
  // without one (the benchmark).
  const char* verdict = nullptr;

  // The fault test (PRODUCTION and OFFLINE).
  bool fault_test = false;
  uint64_t tested_bytes = 0;
  int64_t hard_faults = 0;
  int64_t transient_faults = 0;
  bool addressing_suspect = false;
  int32_t end_reason = 0;  // an EndReason value

  // Readings around the run (every mode but the self-check).
  bool readings = false;
  int64_t edac_ce_delta = -1;  // -1: the EDAC counters cannot be read
  int64_t edac_ue_delta = -1;
  int64_t klog_crit = 0;  // critical kernel-log events during the run

  // The qualification's report; nullptr when the run ended before its verdict.
  const HclVerdictReport* hcl = nullptr;

  // For the history: the result event as the JSON stream has it (one line,
  // no newline; empty when the run has none), the host and the options.
  std::string result_line;
  std::string host;
  std::vector<std::string> options;
};

inline const char* outcome_mode_word(const RunOutcome& o) {
  return o.selftest ? "SELFTEST" : mode_word(o.mode);
}

}  // namespace dravik
