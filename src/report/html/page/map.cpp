// The memory map of a fault test: the last map of the stream as a grid of
// cells coloured by state, each state a class of the style sheet and a
// word in the legend. Cells of one state that follow each other on a row
// are one rectangle of one path, so a map of thousands of cells stays
// small.
#include <algorithm>
#include <array>
#include <cstdio>

#include "report/html/draw/text.h"
#include "report/html/page/parts.h"

namespace dravik::html {

namespace {

struct StateGroup {
  const char* css;
  const char* word;
};

// The states of the map event's cell_states digits, grouped as a reader
// tells them apart.
constexpr std::array<StateGroup, 7> kGroups = {{
    {"c-untested", "untested"},
    {"c-tested", "tested"},
    {"c-hard", "fault hard"},
    {"c-transient", "fault transient"},
    {"c-active", "being tested"},
    {"c-reserved", "not tested (reserved)"},
    {"c-system", "system"},
}};

size_t group_of(char digit) {
  switch (digit) {
    case '0': return 5;
    case '2': return 4;
    case '3': case '4': case '5': case '6': return 1;
    case '7': return 2;
    case '8': return 3;
    case '9': return 6;
    default: return 0;  // '1', and anything the stream should not hold
  }
}

std::string num(double v) {
  char buf[32];
  snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

}  // namespace

void map_section(std::string& out, const RunRecord& r) {
  out += "<section id=\"map\"><h2>Memory map</h2>\n";
  if (!r.map) {
    out += "<p>" + missing() + ": no map event.</p></section>\n";
    return;
  }
  const MapGrid& m = r.map.value();
  const double width = 680.0;
  const double cw = width / m.cols;
  const int rows = static_cast<int>((m.states.size() + static_cast<size_t>(m.cols) - 1) / static_cast<size_t>(m.cols));
  const double ch = std::max(4.0, std::min(14.0, 360.0 / std::max(rows, 1)));
  std::array<std::string, kGroups.size()> paths;
  std::array<int64_t, kGroups.size()> counts{};
  for (int row = 0; row < rows; ++row) {
    const size_t first = static_cast<size_t>(row) * static_cast<size_t>(m.cols);
    size_t col = 0;
    while (first + col < m.states.size() && col < static_cast<size_t>(m.cols)) {
      const size_t g = group_of(m.states[first + col]);
      size_t end = col + 1;
      while (first + end < m.states.size() && end < static_cast<size_t>(m.cols) &&
             group_of(m.states[first + end]) == g) {
        ++end;
      }
      counts[g] += static_cast<int64_t>(end - col);
      paths[g] += "M" + num(col * cw) + " " + num(row * ch) + "h" + num((end - col) * cw) + "v" +
                  num(ch) + "h-" + num((end - col) * cw) + "z";
      col = end;
    }
  }
  out += "<figure class=\"map\"><svg viewBox=\"0 0 " + num(width) + " " + num(rows * ch) +
         "\" role=\"img\" aria-label=\"memory map\">";
  for (size_t g = 0; g < kGroups.size(); ++g) {
    if (!paths[g].empty()) {
      out += std::string("<path class=\"") + kGroups[g].css + "\" data-state=\"" + kGroups[g].word +
             "\" d=\"" + paths[g] + "\"/>";
    }
  }
  out += "</svg><figcaption>";
  out += "One cell is " + esc(bytes_text(m.bytes_per_cell)) + " of the tested memory, laid out " +
         (m.logical ? "in the order it was tested (no physical addresses)" : "by physical address") +
         ".</figcaption>\n<ul class=\"legend\">";
  for (size_t g = 0; g < kGroups.size(); ++g) {
    if (counts[g] == 0 && g > 3) continue;  // the rarer states only when present
    out += std::string("<li><svg width=\"14\" height=\"14\"><rect class=\"") + kGroups[g].css +
           "\" x=\"1\" y=\"1\" width=\"12\" height=\"12\"/></svg> " + kGroups[g].word + " (" +
           count_text(counts[g]) + " cells)</li>";
  }
  out += "</ul></figure></section>\n";
}

}  // namespace dravik::html
