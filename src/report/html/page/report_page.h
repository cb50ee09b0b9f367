// The report page: one self-contained HTML file (inline style sheet and
// SVG, no script, nothing fetched) drawn from a run's record, with the
// sections of its mode and, when given, the trend of the earlier runs.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/html/stream/run_record.h"

namespace dravik::html {

// One earlier run of the box, from its history line.
struct HistoryEntry {
  std::string start;    // as the line has it (UTC, ISO 8601)
  std::string mode;     // the line's event: summary, hcl_verdict, bench_summary, run_end
  std::string verdict;  // empty when the line has none
  std::optional<int64_t> faults;     // hard + transient, or the qualification's bit errors
  std::optional<int64_t> corrected;  // EDAC corrected errors during the run
  std::optional<int64_t> exit_status;
};

// The whole page. history is null without --history; an empty list says
// the history held no earlier run.
std::string render_report(const RunRecord& record, const std::vector<HistoryEntry>* history,
                          const std::string& history_note = "");

}  // namespace dravik::html
