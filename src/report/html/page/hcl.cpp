// The qualification's sections: the memory inventory, every criterion with
// its status word and figures, the scaling sweep against the kit's JEDEC
// figure and floors, idle and loaded latency, the phase timeline and the
// bit errors.
#include <cmath>

#include "report/html/draw/svg_plot.h"
#include "report/html/draw/text.h"
#include "report/html/page/parts.h"

namespace dravik::html {

namespace {

// A member of any type as text for a table cell.
std::string value_text(const JsonValue& v) {
  switch (v.type) {
    case JsonValue::Type::string: return esc(v.text);
    case JsonValue::Type::boolean: return v.flag ? "yes" : "no";
    case JsonValue::Type::number: {
      const double n = v.number;
      return n == std::floor(n) && std::fabs(n) < 1e15 ? fixed(n, 0) : fixed(n, 2);
    }
    case JsonValue::Type::null: return "-";
    default: return "&hellip;";
  }
}

const JsonValue* criterion(const RunRecord& r, std::string_view name) {
  const JsonValue* list = r.hcl_verdict ? r.hcl_verdict->get("criteria") : nullptr;
  if (list == nullptr || list->type != JsonValue::Type::array) return nullptr;
  for (const JsonValue& c : list->items) {
    if (c.text_of("name") == name) return &c;
  }
  return nullptr;
}

void inventory(std::string& out, const RunRecord& r) {
  out += "<section id=\"inventory\"><h2>Inventory</h2>\n";
  if (!r.hcl_info) {
    out += "<p>" + missing() + ": no hcl_info event.</p></section>\n";
    return;
  }
  const JsonValue& info = *r.hcl_info;
  const JsonValue* dimms = info.get("dimms");
  if (dimms == nullptr || dimms->type != JsonValue::Type::array || dimms->items.empty()) {
    out += "<p>No memory modules listed (no SMBIOS memory data on this box).</p>\n";
  } else {
    out += "<table class=\"data\" id=\"inventory-table\"><thead><tr><th>Slot</th><th>Bank</th>"
           "<th>Size</th><th>Type</th><th>Speed</th><th>Configured</th><th>ECC</th>"
           "<th>Maker</th><th>Part</th></tr></thead><tbody>\n";
    for (const JsonValue& m : dimms->items) {
      const std::optional<double> size = m.number_of("size");
      out += "<tr><td>" + esc(m.text_of("loc").value_or("")) + "</td><td>" +
             esc(m.text_of("bank").value_or("")) + "</td><td>" +
             (size ? esc(bytes_text(*size)) : std::string("-")) + "</td><td>" +
             esc(m.text_of("type").value_or("")) + "</td><td>" +
             fixed(m.number_of("mts").value_or(NAN), 0) + " MT/s</td><td>" +
             fixed(m.number_of("cfg_mts").value_or(NAN), 0) + " MT/s</td><td>" +
             (m.flag_of("ecc").value_or(false) ? "yes" : "no") + "</td><td>" +
             esc(m.text_of("mfg").value_or("")) + "</td><td>" + esc(m.text_of("part").value_or("")) +
             "</td></tr>\n";
    }
    out += "</tbody></table>\n";
  }
  out += "<table class=\"facts\">";
  fact_row(out, "Processors / workers", fixed(info.number_of("cpus").value_or(NAN), 0) + " / " +
                                            fixed(info.number_of("threads").value_or(NAN), 0));
  fact_row(out, "Arenas", esc(bytes_text(info.number_of("arena_bytes").value_or(NAN))));
  fact_row(out, "Channels", fixed(info.number_of("channels").value_or(NAN), 0) + " &times; " +
                                fixed(info.number_of("bus_bits").value_or(NAN), 0) + " bit (" +
                                esc(info.text_of("channels_src").value_or("?")) + ")");
  const double jedec = info.number_of("theoretical_gbs").value_or(0.0);
  fact_row(out, "JEDEC bandwidth", jedec > 0 ? fixed(jedec, 2) + " GB/s" : "no reference");
  fact_row(out, "Vector unit", esc(info.text_of("simd").value_or("?")));
  if (r.hcl_setup) {
    const JsonValue* reasons = r.hcl_setup->get("reasons");
    std::string text;
    if (reasons != nullptr) {
      for (const JsonValue& reason : reasons->items) text += esc(reason.text) + "; ";
    }
    const std::optional<bool> uniform = r.hcl_setup->flag_of("uniform");
    fact_row(out, "Matched kit",
             (uniform ? (*uniform ? status_tag("pass") + " uniform" : status_tag("fail") + " mixed")
                      : std::string("not judged")) +
                 (text.empty() ? "" : " &mdash; " + text));
    fact_row(out, "Load at start", fixed(r.hcl_setup->number_of("load1").value_or(NAN), 2) +
                                       (r.hcl_setup->flag_of("busy").value_or(false) ? " (busy)" : ""));
  }
  out += "</table></section>\n";
}

void criteria(std::string& out, const RunRecord& r) {
  out += "<section id=\"criteria\"><h2>Criteria</h2>\n";
  const JsonValue* list = r.hcl_verdict ? r.hcl_verdict->get("criteria") : nullptr;
  if (list == nullptr || list->type != JsonValue::Type::array) {
    out += "<p>" + missing() + ": no hcl_verdict event.</p></section>\n";
    return;
  }
  out += "<table class=\"data\" id=\"criteria-table\"><thead><tr><th>Criterion</th><th>Status</th>"
         "<th>Figures</th></tr></thead><tbody>\n";
  for (const JsonValue& c : list->items) {
    std::string figures;
    for (const auto& [key, value] : c.members) {
      if (key == "name" || key == "status") continue;
      figures += "<span class=\"fig\">" + esc(key) + " " + value_text(value) + "</span> ";
    }
    out += "<tr><td>" + esc(c.text_of("name").value_or("?")) + "</td><td>" +
           status_tag(c.text_of("status").value_or("?")) + "</td><td>" + figures + "</td></tr>\n";
  }
  out += "</tbody></table>\n";
  if (const JsonValue* peak = r.hcl_verdict->get("peak")) {
    out += "<p>Peak read <strong id=\"peak-read\">" + fixed(peak->number_of("read_gbs").value_or(NAN), 2) +
           " GB/s</strong>, write <strong id=\"peak-write\">" +
           fixed(peak->number_of("write_gbs").value_or(NAN), 2) + " GB/s</strong>, saturated at " + fixed(peak->number_of("saturation_threads").value_or(NAN), 0) +
           " threads; OLTP " + fixed(peak->number_of("oltp_mops").value_or(NAN), 2) + " Mops/s.</p>\n";
  }
  if (auto note = r.hcl_verdict->text_of("contended_note")) {
    out += "<p class=\"note\"><span class=\"tag warn\">CONTENDED SYSTEM</span> " + esc(*note) + "</p>\n";
  }
  out += "</section>\n";
}

void sweep(std::string& out, const RunRecord& r) {
  out += "<section id=\"sweep\"><h2>Scaling sweep</h2>\n";
  std::vector<SweepStep> steps = r.sweep;
  const char* source = "the sweep's hcl_point events";
  if (steps.empty() && r.hcl_verdict) {
    const JsonValue* peak = r.hcl_verdict->get("peak");
    const JsonValue* scaling = peak ? peak->get("scaling") : nullptr;
    if (scaling != nullptr) {
      for (const JsonValue& p : scaling->items) {
        steps.push_back(SweepStep{p.count_of("threads").value_or(0), p.number_of("read_gbs"),
                                  p.number_of("write_gbs")});
      }
      source = "the verdict's scaling list";
    }
  }
  if (steps.empty()) {
    out += "<p>" + missing() + ": no sweep points.</p></section>\n";
    return;
  }
  Plot plot;
  plot.id = "sweep-plot";
  plot.title = std::string("Bandwidth against threads, from ") + source;
  plot.x.label = "threads";
  plot.x.min = 0.0;
  plot.x.whole = true;
  plot.y.label = "GB/s";
  PlotSeries read{"read", {}}, write{"write", {}};
  for (const SweepStep& s : steps) {
    if (s.read_gbs) read.points.push_back(PlotPoint{static_cast<double>(s.threads), *s.read_gbs});
    if (s.write_gbs) write.points.push_back(PlotPoint{static_cast<double>(s.threads), *s.write_gbs});
  }
  plot.series = {read, write};
  const JsonValue* eff = criterion(r, "jedec_efficiency");
  double jedec = eff ? eff->number_of("theoretical_gbs").value_or(0.0) : 0.0;
  if (jedec <= 0.0 && r.hcl_info) jedec = r.hcl_info->number_of("theoretical_gbs").value_or(0.0);
  const double pass_pct = eff ? eff->number_of("pass_pct").value_or(80.0) : 80.0;
  const double fail_pct = eff ? eff->number_of("fail_pct").value_or(60.0) : 60.0;
  if (jedec > 0.0) {
    plot.rules.push_back(PlotRule{false, jedec, "JEDEC " + fixed(jedec, 2) + " GB/s"});
    plot.rules.push_back(PlotRule{false, jedec * pass_pct / 100.0, "pass " + fixed(pass_pct, 0) + "%"});
    plot.rules.push_back(PlotRule{false, jedec * fail_pct / 100.0, "fail below " + fixed(fail_pct, 0) + "%"});
  }
  out += render_plot(plot);
  if (jedec <= 0.0) {
    out += "<p class=\"note\">No JEDEC reference: the theoretical line and the floors are not drawn.</p>\n";
  }
  out += "</section>\n";
}

void latency(std::string& out, const RunRecord& r) {
  out += "<section id=\"hcl-latency\"><h2>Latency, idle and loaded</h2>\n";
  std::optional<double> idle_avg, idle_p99, loaded_avg, loaded_p99;
  for (const JsonValue& p : r.hcl_points) {
    if (p.text_of("phase") != "latency") continue;
    if (p.text_of("op") == "lat_idle") {
      idle_avg = p.number_of("avg_ns");
      idle_p99 = p.number_of("p99_ns");
    } else if (p.text_of("op") == "lat_loaded") {
      loaded_avg = p.number_of("avg_ns");
      loaded_p99 = p.number_of("p99_ns");
    }
  }
  if (const JsonValue* jit = criterion(r, "latency_jitter")) {
    if (!idle_avg) idle_avg = jit->number_of("avg_ns");
    if (!idle_p99) idle_p99 = jit->number_of("p99_ns");
    if (!loaded_avg) loaded_avg = jit->number_of("loaded_avg_ns");
    if (!loaded_p99) loaded_p99 = jit->number_of("loaded_p99_ns");
  }
  if (!idle_avg && !loaded_avg) {
    out += "<p>" + missing() + ": the latency phase did not report.</p></section>\n";
    return;
  }
  const auto ns = [](const std::optional<double>& v) { return v ? fixed(*v, 1) + " ns" : missing(); };
  out += "<table class=\"data\" id=\"latency-table\"><thead><tr><th></th><th>Average</th><th>p99</th>"
         "</tr></thead><tbody><tr><th>Idle</th><td>" + ns(idle_avg) + "</td><td>" + ns(idle_p99) +
         "</td></tr><tr><th>Loaded</th><td>" + ns(loaded_avg) + "</td><td>" + ns(loaded_p99) +
         "</td></tr></tbody></table>\n";
  BarChart chart;
  chart.id = "latency-bars";
  chart.title = "Pointer-chase latency, idle and under streaming load";
  chart.axis_label = "ns";
  const auto add = [&chart](const char* label, const std::optional<double>& v) {
    if (v) chart.bars.push_back(Bar{label, 0.0, *v, fixed(*v, 1) + " ns", ""});
  };
  add("idle average", idle_avg);
  add("idle p99", idle_p99);
  add("loaded average", loaded_avg);
  add("loaded p99", loaded_p99);
  out += render_bars(chart) + "</section>\n";
}

void timeline(std::string& out, const RunRecord& r) {
  out += "<section id=\"phases\"><h2>Phase timeline</h2>\n";
  if (r.phases.empty()) {
    out += "<p>" + missing() + ": no hcl_phase events.</p></section>\n";
    return;
  }
  BarChart chart;
  chart.id = "phase-timeline";
  chart.title = "The phases in order, each from its start to its end";
  chart.axis_label = "seconds from the first phase";
  double at = 0.0;
  for (const PhaseRow& p : r.phases) {
    const double len = p.seconds.value_or(0.0);
    std::string word = p.status == "done" ? "pass" : p.status == "run" ? "did not end" : p.status;
    chart.bars.push_back(Bar{p.id + " " + p.name, at, len,
                             word + (p.seconds ? " " + fixed(len, 1) + " s" : ""), word});
    at += len;
  }
  out += render_bars(chart) + "</section>\n";
}

void bit_errors(std::string& out, const RunRecord& r) {
  if (r.hcl_errors.empty()) return;
  out += "<section id=\"hcl-errors\"><h2>Bit errors</h2>\n<table class=\"data\" id=\"hcl-error-table\">"
         "<thead><tr><th>Phase</th><th>Virtual address</th><th>Expected</th><th>Actual</th>"
         "<th>Bits</th><th>Seen</th></tr></thead><tbody>\n";
  for (const HclErrorRow& e : r.hcl_errors) {
    out += "<tr><td>" + esc(e.phase) + "</td><td class=\"addr\">" + esc(e.vaddr) + "</td><td>" +
           esc(e.expected) + "</td><td>" + esc(e.actual) + "</td><td>" + std::to_string(e.bits) +
           "</td><td class=\"count\">" + std::to_string(e.count) + "</td></tr>\n";
  }
  out += "</tbody></table>\n";
  if (r.hcl_errors_dropped > 0) {
    out += "<p class=\"note\">" + count_text(r.hcl_errors_dropped) + " more errors are not listed.</p>\n";
  }
  out += "</section>\n";
}

}  // namespace

void hcl_sections(std::string& out, const RunRecord& r) {
  inventory(out, r);
  criteria(out, r);
  sweep(out, r);
  latency(out, r);
  timeline(out, r);
  bit_errors(out, r);
}

}  // namespace dravik::html
