// The sections of the report page, one file each, as render_report puts
// them together. Each appends its HTML to out and says where the stream
// left a figure out.
#pragma once
#include <string>
#include <vector>

#include "report/html/page/report_page.h"
#include "report/html/stream/run_record.h"

namespace dravik::html {

enum class PageMode { fault_test, bench, hcl, selftest, unknown };

// The mode the stream is of: the start or closing record's word, else what
// its events show.
PageMode page_mode(const RunRecord& r);

// The run's verdict word: the qualification's, the fault test's or the
// closing record's; empty when the stream has none.
std::string page_verdict(const RunRecord& r);

// The inline style sheet: light and dark colours, the print layout.
const char* page_style();

// Every page: the verdict banner, the run's facts, what the stream lacked.
void banner_section(std::string& out, const RunRecord& r, PageMode mode);
void stream_section(std::string& out, const RunRecord& r);

// PRODUCTION and OFFLINE: the map, faults, tests, kernel log and EDAC.
void map_section(std::string& out, const RunRecord& r);
void fault_sections(std::string& out, const RunRecord& r);

// The benchmark's ladder and bandwidth.
void bench_sections(std::string& out, const RunRecord& r);

// The qualification: inventory, criteria, sweep, latency, timeline.
void hcl_sections(std::string& out, const RunRecord& r);

// The earlier runs of the box.
void history_section(std::string& out, const std::vector<HistoryEntry>& runs,
                     const std::string& note);

}  // namespace dravik::html
