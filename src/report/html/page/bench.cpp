// The benchmark's sections: the latency ladder over the working-set size
// with the cache edges of the run marked, and the read, write and copy
// bandwidth, drawn from the bench_point events.
#include <algorithm>
#include <cmath>

#include "report/html/draw/svg_plot.h"
#include "report/html/draw/text.h"
#include "report/html/page/parts.h"

namespace dravik::html {

namespace {

// Sizes on the axis as the console writes them, without decimals.
std::string size_tick(double bytes) {
  static const char* const kUnits[] = {"B", "K", "M", "G", "T"};
  int unit = 0;
  while (bytes >= 1024.0 && unit < 4) {
    bytes /= 1024.0;
    ++unit;
  }
  return fixed(bytes, 0) + kUnits[unit];
}

PlotSeries series_of(const RunRecord& r, const std::string& op) {
  PlotSeries s;
  s.name = op;
  const auto found = r.bench.find(op);
  if (found != r.bench.end()) {
    for (const BenchSample& b : found->second) s.points.push_back(PlotPoint{b.size, b.value});
  }
  return s;
}

PlotAxis size_axis() {
  PlotAxis x;
  x.label = "working-set size (log scale)";
  x.log = true;
  x.log_base = 2.0;
  x.tick_text = size_tick;
  return x;
}

}  // namespace

void bench_sections(std::string& out, const RunRecord& r) {
  out += "<section id=\"latency\"><h2>Latency ladder</h2>\n";
  const PlotSeries latency = series_of(r, "latency");
  if (latency.points.empty()) {
    out += "<p>" + missing() + ": no latency bench_point events.</p>\n";
  } else {
    Plot plot;
    plot.id = "latency-plot";
    plot.title = "Random pointer chase: nanoseconds per access against the working-set size";
    plot.x = size_axis();
    plot.y.label = "ns per access (log scale)";
    plot.y.log = true;
    plot.series.push_back(latency);
    const JsonValue* cache = r.start ? r.start->get("cache") : nullptr;
    std::string edges;
    for (const char* level : {"l1", "l2", "l3"}) {
      const double size = cache ? cache->number_of(level).value_or(0.0) : 0.0;
      std::string name(level);
      name[0] = 'L';
      if (size > 0.0) {
        plot.rules.push_back(PlotRule{true, size, name + " " + size_tick(size)});
        edges += " " + name + " " + esc(bytes_text(size)) + ";";
      } else {
        edges += " " + name + " " + (cache ? std::string("not found") : missing()) + ";";
      }
    }
    out += render_plot(plot);
    out += "<p>Cache edges of this run:" + edges + " past the last one the chase reaches DRAM.</p>\n";
  }
  out += "</section>\n<section id=\"bandwidth\"><h2>Bandwidth</h2>\n";
  Plot bw;
  bw.id = "bandwidth-plot";
  bw.title = "Read, write and copy bandwidth against the working-set size";
  bw.x = size_axis();
  bw.y.label = "GB/s";
  for (const char* op : {"read", "write", "copy"}) {
    PlotSeries s = series_of(r, op);
    if (!s.points.empty()) bw.series.push_back(std::move(s));
  }
  if (bw.series.empty()) {
    out += "<p>" + missing() + ": no read, write or copy bench_point events.</p></section>\n";
    return;
  }
  out += render_plot(bw);
  out += "<table class=\"data\" id=\"bandwidth-table\"><thead><tr><th>Operation</th><th>Peak</th>"
         "<th>At the largest size</th></tr></thead><tbody>\n";
  for (const char* op : {"read", "write", "copy"}) {
    const auto found = r.bench.find(op);
    if (found == r.bench.end() || found->second.empty()) {
      out += std::string("<tr><td>") + op + "</td><td colspan=\"2\">" + missing() + "</td></tr>\n";
      continue;
    }
    const std::vector<BenchSample>& s = found->second;
    const auto peak = std::max_element(s.begin(), s.end(), [](const BenchSample& a, const BenchSample& b) {
      return a.value < b.value;
    });
    const auto largest = std::max_element(s.begin(), s.end(), [](const BenchSample& a, const BenchSample& b) {
      return a.size < b.size;
    });
    out += std::string("<tr><td>") + op + "</td><td>" + fixed(peak->value, 2) + " GB/s at " +
           esc(bytes_text(peak->size)) + "</td><td>" + fixed(largest->value, 2) + " GB/s at " +
           esc(bytes_text(largest->size)) + "</td></tr>\n";
  }
  out += "</tbody></table></section>\n";
}

}  // namespace dravik::html
