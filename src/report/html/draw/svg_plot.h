// The page's one plotting module: every plot of a report is drawn here as
// inline SVG (axes with linear or logarithmic scales and their ticks, one
// polyline with a marker per point for each series, reference lines, a
// legend that names every colour), and every bar chart and timeline too.
// Colours come from classes the page's style sheet defines for light, dark
// and print; each series also has its own dash and marker shape, so the
// plot reads without colour.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace dravik::html {

struct PlotPoint {
  double x = 0.0, y = 0.0;
};

struct PlotSeries {
  std::string name;  // the legend's word for it
  std::vector<PlotPoint> points;
};

// A straight reference line across the plot at a value of one axis.
struct PlotRule {
  bool vertical = false;  // at an x value; else at a y value
  double at = 0.0;
  std::string label;
};

struct PlotAxis {
  std::string label;  // what the axis counts, with its unit
  bool log = false;   // logarithmic (values must be above 0)
  double log_base = 10.0;
  bool whole = false;  // counts (threads): ticks only on whole numbers
  std::optional<double> min, max;  // fixed ends; else from the data
  // Text of a tick value; plain numbers when empty.
  std::function<std::string(double)> tick_text;
};

struct Plot {
  std::string id;     // the figure's id in the page
  std::string title;  // caption
  PlotAxis x, y;
  std::vector<PlotSeries> series;
  std::vector<PlotRule> rules;
  int width = 680, height = 300;
};

// The plot as a <figure> holding its SVG and its caption; each series is a
// <g class="series" data-series="NAME"> holding its polyline and one marker
// per point; points that a log axis cannot show are left out.
std::string render_plot(const Plot& plot);

// A horizontal bar: from start to start + length on the value axis.
struct Bar {
  std::string label;       // at the left of its row
  double start = 0.0;
  double length = 0.0;
  std::string value_text;  // written at the end of the bar
  std::string status;      // optional status word: colours the bar and is written in value_text's place when that is empty
};

struct BarChart {
  std::string id, title;
  std::string axis_label;
  std::vector<Bar> bars;
  int width = 680;
};

// The bars as a <figure>: one row per bar, a value axis with ticks below.
std::string render_bars(const BarChart& chart);

// Tick values for a linear axis over [lo, hi]: round steps (1, 2, 5 times a
// power of ten), at most about max_ticks of them.
std::vector<double> linear_ticks(double lo, double hi, int max_ticks);
// Tick values for a log axis over [lo, hi]: powers of base, thinned to at
// most max_ticks.
std::vector<double> log_ticks(double lo, double hi, double base, int max_ticks);

}  // namespace dravik::html
