// The trend strip: the earlier runs of the box from its history, newest
// first, each with its date, verdict, faults and corrected errors.
#include "report/html/draw/text.h"
#include "report/html/page/parts.h"

namespace dravik::html {

void history_section(std::string& out, const std::vector<HistoryEntry>& runs, const std::string& note) {
  out += "<section id=\"history\"><h2>Earlier runs on this box</h2>\n";
  if (!note.empty()) out += "<p class=\"note\">" + esc(note) + "</p>\n";
  if (runs.empty()) {
    out += "<p>The history holds no earlier run.</p></section>\n";
    return;
  }
  out += "<table class=\"data strip\" id=\"history-table\"><thead><tr><th>Start (UTC)</th><th>Run</th>"
         "<th>Verdict</th><th>Faults</th><th>Corrected errors</th><th>Exit status</th></tr></thead>"
         "<tbody>\n";
  for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
    const HistoryEntry& e = *it;
    const char* kind = e.mode == "summary"         ? "fault test"
                       : e.mode == "hcl_verdict"   ? "qualification"
                       : e.mode == "bench_summary" ? "benchmark"
                       : e.mode == "run_end"       ? "self-test"
                                                   : "other";
    out += "<tr><td>" + (e.start.empty() ? std::string("-") : esc(e.start)) + "</td><td>" + kind +
           "</td><td>" + (e.verdict.empty() ? std::string("-") : status_tag(e.verdict)) + "</td><td>" +
           (e.faults ? std::to_string(*e.faults) : std::string("-")) + "</td><td>" +
           (e.corrected ? std::to_string(*e.corrected) : std::string("-")) + "</td><td>" +
           (e.exit_status ? std::to_string(*e.exit_status) : std::string("-")) + "</td></tr>\n";
  }
  out += "</tbody></table></section>\n";
}

}  // namespace dravik::html
