// The fault test's sections: the fault records (one row per record with
// its count of sightings), the time and throughput of each pattern test,
// the kernel-log events and the EDAC counters before and after.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "report/html/draw/svg_plot.h"
#include "report/html/draw/text.h"
#include "report/html/page/parts.h"

namespace dravik::html {

namespace {

uint64_t address_value(const std::string& text) { return strtoull(text.c_str(), nullptr, 16); }

void fault_table(std::string& out, const RunRecord& r) {
  out += "<section id=\"faults\"><h2>Faults</h2>\n";
  if (r.summary) {
    out += "<p>Hard faults: <strong id=\"hard-count\">" +
           fixed(r.summary->number_of("hard").value_or(NAN), 0) +
           "</strong> &middot; transient: <strong id=\"transient-count\">" +
           fixed(r.summary->number_of("transient").value_or(NAN), 0) + "</strong>";
    if (r.summary->flag_of("addressing_suspect").value_or(false)) {
      out += " &middot; <span class=\"tag warn\">ADDRESSING SUSPECT</span> (the stuck-address test "
             "saw a mismatch)";
    }
    out += "</p>\n";
  } else {
    out += "<p>Fault counts: " + missing() + " (no summary event).</p>\n";
  }
  if (r.faults.empty()) {
    out += "<p>No fault records in the stream.</p></section>\n";
    return;
  }
  std::vector<const FaultRow*> rows;
  for (const FaultRow& f : r.faults) rows.push_back(&f);
  std::stable_sort(rows.begin(), rows.end(), [](const FaultRow* a, const FaultRow* b) {
    if ((a->cls == "hard") != (b->cls == "hard")) return a->cls == "hard";
    return address_value(a->address) < address_value(b->address);
  });
  // One label on every record (EDAC named one module) is said once.
  bool one_dimm = true;
  for (const FaultRow* f : rows) one_dimm = one_dimm && f->dimm == rows.front()->dimm;
  if (one_dimm) {
    out += "<p>DIMM: " + (rows.front()->dimm.empty() ? std::string("not known (no single module "
                                                                    "named by EDAC)")
                                                      : "<strong>" + esc(rows.front()->dimm) +
                                                            "</strong> (every record)") +
           "</p>\n";
  }
  out += "<table class=\"data\" id=\"fault-table\"><thead><tr><th>Physical address</th>";
  if (!one_dimm) out += "<th>DIMM</th>";
  out += "<th>Test</th><th>Expected</th><th>Actual</th><th>Bits</th><th>Class</th>"
         "<th>Sightings</th></tr></thead><tbody>\n";
  for (const FaultRow* f : rows) {
    // No class on the cells that need none: this table is most of the page's size.
    out += "<tr><td>";
    out += f->physical ? esc(f->address) : "virt " + esc(f->address);
    out += "</td>";
    if (!one_dimm) out += "<td>" + (f->dimm.empty() ? std::string("-") : esc(f->dimm)) + "</td>";
    out += "<td>" + esc(f->test) + "</td><td>" + esc(f->expected) + "</td><td>" + esc(f->actual) +
           "</td><td>" + std::to_string(f->bits) + "</td><td class=\"" + status_class(f->cls) +
           "\">" + esc(f->cls) + "</td><td>" + std::to_string(f->count) +
           "</td></tr>\n";
  }
  out += "</tbody></table>\n";
  if (r.faults_dropped > 0) {
    out += "<p class=\"note\">" + count_text(r.faults_dropped) +
           " more records were in the stream than the table keeps.</p>\n";
  }
  bool any_virtual = false;
  for (const FaultRow* f : rows) any_virtual = any_virtual || !f->physical;
  if (any_virtual) {
    out += "<p class=\"note\">\"virt\": no physical address (not run as root, or --no-phys); the "
           "virtual address is shown.</p>\n";
  }
  out += "</section>\n";
}

void test_table(std::string& out, const RunRecord& r) {
  out += "<section id=\"tests\"><h2>Tests</h2>\n";
  if (r.tests.empty()) {
    out += "<p>" + missing() + ": no phase or progress events.</p></section>\n";
    return;
  }
  out += "<table class=\"data\" id=\"test-table\"><thead><tr><th>Test</th><th>Time</th>"
         "<th>Bytes</th><th>Throughput</th></tr></thead><tbody>\n";
  BarChart chart;
  chart.id = "test-throughput";
  chart.title = "Throughput of each test (bytes of the regions it finished over its time)";
  chart.axis_label = "MB/s";
  for (const TestRow& t : r.tests) {
    const bool timed = t.seconds >= 0.05;
    const double mbs = timed && t.bytes > 0.0 ? t.bytes / t.seconds / 1e6 : NAN;
    out += "<tr><td>" + esc(t.name) + "</td><td>" +
           (timed ? esc(duration_text(t.seconds)) : std::string("under 0.1 s")) + "</td><td>" +
           (t.bytes > 0.0 ? esc(bytes_text(t.bytes)) : std::string("-")) + "</td><td>" +
           (std::isfinite(mbs) ? fixed(mbs, 1) + " MB/s" : std::string("-")) + "</td></tr>\n";
    if (std::isfinite(mbs)) chart.bars.push_back(Bar{t.name, 0.0, mbs, fixed(mbs, 1) + " MB/s", ""});
  }
  out += "</tbody></table>\n<p class=\"note\">Times come from the progress lines (every 0.1 s): a "
         "test shorter than that may show none.</p>\n";
  if (!chart.bars.empty()) out += render_bars(chart);
  out += "</section>\n";
}

void klog_table(std::string& out, const RunRecord& r) {
  out += "<section id=\"klog\"><h2>Kernel log</h2>\n";
  const JsonValue* k = r.summary ? r.summary->get("klog") : nullptr;
  if (k != nullptr) {
    out += "<p>Source: " + esc(k->text_of("source").value_or("?")) + " &middot; during the run: " +
           fixed(k->number_of("crit_during").value_or(NAN), 0) + " critical, " +
           fixed(k->number_of("warn_during").value_or(NAN), 0) + " warnings</p>\n";
  }
  if (r.klog.empty()) {
    out += "<p>No kernel-log events in the stream.</p></section>\n";
    return;
  }
  if (r.klog_dropped > 0) {
    out += "<p class=\"note\">The " + count_text(static_cast<int64_t>(r.klog.size())) +
           " latest events; " + count_text(r.klog_dropped) + " earlier ones are not shown.</p>\n";
  }
  out += "<table class=\"data\" id=\"klog-table\"><thead><tr><th>Kernel time</th><th>Level</th>"
         "<th>Kind</th><th>Message</th><th>Count</th></tr></thead><tbody>\n";
  for (const KlogRow& e : r.klog) {
    out += "<tr><td>" + (e.kts ? fixed(*e.kts, 3) + " s" : std::string("-")) + "</td><td class=\"" +
           status_class(e.level) + "\">" + esc(e.level) + "</td><td>" + esc(e.tag) + "</td><td>" +
           esc(e.text) + "</td><td>" + std::to_string(e.count) + "</td></tr>\n";
  }
  out += "</tbody></table></section>\n";
}

std::string edac_figure(const JsonValue* pair, const char* key) {
  if (pair == nullptr) return missing();
  const std::optional<double> v = pair->number_of(key);
  if (!v) return missing();
  if (*v < 0) return "no EDAC counters";
  return fixed(*v, 0);
}

void edac_table(std::string& out, const RunRecord& r) {
  const JsonValue* before = r.start ? r.start->get("edac_before") : nullptr;
  const JsonValue* after = r.summary ? r.summary->get("edac_after") : nullptr;
  const JsonValue* delta = r.summary ? r.summary->get("edac_delta") : nullptr;
  out += "<section id=\"edac\"><h2>EDAC</h2>\n<table class=\"data\" id=\"edac-table\"><thead><tr>"
         "<th></th><th>Before</th><th>After</th><th>During the run</th></tr></thead><tbody>\n";
  out += "<tr><th>Corrected</th><td>" + edac_figure(before, "ce") + "</td><td>" +
         edac_figure(after, "ce") + "</td><td>" + edac_figure(delta, "ce") + "</td></tr>\n";
  out += "<tr><th>Uncorrected</th><td>" + edac_figure(before, "ue") + "</td><td>" +
         edac_figure(after, "ue") + "</td><td>" + edac_figure(delta, "ue") + "</td></tr>\n";
  out += "</tbody></table></section>\n";
}

}  // namespace

void fault_sections(std::string& out, const RunRecord& r) {
  fault_table(out, r);
  test_table(out, r);
  klog_table(out, r);
  edac_table(out, r);
}

}  // namespace dravik::html
