#include "report/html/draw/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "report/html/draw/text.h"

namespace dravik::html {

namespace {

constexpr int kSeriesStyles = 6;
constexpr int kLeft = 70, kRight = 20, kTop = 30, kBottom = 46;

std::string px(double v) {
  char buf[32];
  snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

// A tick value as plain text: no trailing zeros, at most three decimals.
std::string plain_number(double v) {
  char buf[48];
  if (std::fabs(v) >= 1e6 || (v != 0.0 && std::fabs(v) < 1e-3)) {
    snprintf(buf, sizeof buf, "%.3g", v);
  } else {
    snprintf(buf, sizeof buf, "%.3f", v);
    std::string s = buf;
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
  }
  return buf;
}

// One axis mapped onto a pixel span.
struct Scale {
  double lo = 0.0, hi = 1.0;
  bool log = false;
  double p0 = 0.0, p1 = 1.0;  // pixels of lo and hi

  double at(double v) const {
    const double a = log ? std::log(lo) : lo;
    const double b = log ? std::log(hi) : hi;
    const double t = ((log ? std::log(v) : v) - a) / (b - a);
    return p0 + t * (p1 - p0);
  }
};

bool showable(double v, bool log) { return std::isfinite(v) && (!log || v > 0.0); }

// The range of an axis from its fixed ends, the data and the reference lines;
// a linear range of positive values starts at 0.
Scale axis_range(const PlotAxis& axis, const std::vector<double>& values, std::vector<double>* ticks) {
  double lo = INFINITY, hi = -INFINITY;
  for (const double v : values) {
    if (!showable(v, axis.log)) continue;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  if (!std::isfinite(lo)) {
    lo = axis.log ? 1.0 : 0.0;
    hi = axis.log ? 10.0 : 1.0;
  }
  if (!axis.log && lo > 0.0) lo = 0.0;
  if (axis.min && showable(*axis.min, axis.log)) lo = *axis.min;
  if (axis.max && showable(*axis.max, axis.log)) hi = *axis.max;
  if (hi <= lo) {
    if (axis.log) {
      lo /= 2.0;
      hi = lo * 4.0;
    } else {
      hi = lo + 1.0;
    }
  }
  Scale s;
  s.log = axis.log;
  if (axis.log) {
    *ticks = log_ticks(lo, hi, axis.log_base, 10);
    s.lo = lo;
    s.hi = hi;
  } else {
    *ticks = linear_ticks(lo, hi, 6);
    if (axis.whole) {
      std::erase_if(*ticks, [](double t) { return t != std::floor(t); });
    }
    s.lo = std::min(lo, ticks->empty() ? lo : ticks->front());
    s.hi = std::max(hi, ticks->empty() ? hi : ticks->back());
  }
  return s;
}

std::string tick_label(const PlotAxis& axis, double v) {
  return esc(axis.tick_text ? axis.tick_text(v) : plain_number(v));
}

}  // namespace

std::vector<double> linear_ticks(double lo, double hi, int max_ticks) {
  std::vector<double> ticks;
  if (!(std::isfinite(lo) && std::isfinite(hi)) || hi <= lo || max_ticks < 2) return ticks;
  const double raw = (hi - lo) / (max_ticks - 1);
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  double step = mag;
  for (const double m : {1.0, 2.0, 5.0, 10.0}) {
    step = m * mag;
    if (step >= raw) break;
  }
  const double first = std::floor(lo / step) * step;
  for (int i = 0; i < 4 * max_ticks; ++i) {
    const double v = first + i * step;
    ticks.push_back(std::fabs(v) < step * 1e-9 ? 0.0 : v);
    if (v >= hi - step * 1e-9) break;
  }
  return ticks;
}

std::vector<double> log_ticks(double lo, double hi, double base, int max_ticks) {
  std::vector<double> ticks;
  if (!(lo > 0.0 && hi > lo && std::isfinite(hi) && base > 1.0 && max_ticks >= 2)) return ticks;
  const double a = std::floor(std::log(lo) / std::log(base) + 1e-9);
  const double b = std::ceil(std::log(hi) / std::log(base) - 1e-9);
  const double count = b - a + 1.0;
  const int stride = std::max(1, static_cast<int>(std::ceil(count / max_ticks)));
  for (double e = a; e <= b + 0.5; e += stride) {
    const double v = std::pow(base, e);
    if (v >= lo * (1 - 1e-9) && v <= hi * (1 + 1e-9)) ticks.push_back(v);
  }
  return ticks;
}

std::string render_plot(const Plot& plot) {
  std::vector<double> xs, ys;
  for (const PlotSeries& s : plot.series) {
    for (const PlotPoint& p : s.points) {
      xs.push_back(p.x);
      ys.push_back(p.y);
    }
  }
  for (const PlotRule& r : plot.rules) (r.vertical ? xs : ys).push_back(r.at);
  std::vector<double> xticks, yticks;
  Scale sx = axis_range(plot.x, xs, &xticks);
  Scale sy = axis_range(plot.y, ys, &yticks);
  const int w = plot.width, h = plot.height;
  sx.p0 = kLeft;
  sx.p1 = w - kRight;
  sy.p0 = h - kBottom;
  sy.p1 = kTop;

  std::string o = "<figure class=\"plot\" id=\"" + esc(plot.id) + "\"><svg viewBox=\"0 0 " +
                  std::to_string(w) + " " + std::to_string(h) + "\" role=\"img\" aria-label=\"" +
                  esc(plot.title) + "\">\n";
  // Grid and ticks.
  o += "<g class=\"axis\">";
  for (const double t : yticks) {
    if (t < sy.lo || t > sy.hi) continue;
    const std::string y = px(sy.at(t));
    o += "<line class=\"grid\" x1=\"" + px(sx.p0) + "\" x2=\"" + px(sx.p1) + "\" y1=\"" + y +
         "\" y2=\"" + y + "\"/><text x=\"" + px(sx.p0 - 6) + "\" y=\"" + y +
         "\" text-anchor=\"end\" dominant-baseline=\"middle\">" + tick_label(plot.y, t) + "</text>";
  }
  for (const double t : xticks) {
    if (t < sx.lo || t > sx.hi) continue;
    const std::string x = px(sx.at(t));
    o += "<line class=\"grid\" x1=\"" + x + "\" x2=\"" + x + "\" y1=\"" + px(sy.p0) + "\" y2=\"" +
         px(sy.p1) + "\"/><text x=\"" + x + "\" y=\"" + px(sy.p0 + 16) +
         "\" text-anchor=\"middle\">" + tick_label(plot.x, t) + "</text>";
  }
  o += "<line class=\"frame\" x1=\"" + px(sx.p0) + "\" x2=\"" + px(sx.p1) + "\" y1=\"" + px(sy.p0) +
       "\" y2=\"" + px(sy.p0) + "\"/><line class=\"frame\" x1=\"" + px(sx.p0) + "\" x2=\"" +
       px(sx.p0) + "\" y1=\"" + px(sy.p0) + "\" y2=\"" + px(sy.p1) + "\"/>";
  o += "<text class=\"label\" x=\"" + px((sx.p0 + sx.p1) / 2) + "\" y=\"" + px(h - 8) +
       "\" text-anchor=\"middle\">" + esc(plot.x.label) + "</text>";
  o += "<text class=\"label\" transform=\"rotate(-90)\" x=\"" + px(-(sy.p0 + sy.p1) / 2) +
       "\" y=\"14\" text-anchor=\"middle\">" + esc(plot.y.label) + "</text></g>\n";

  // Reference lines, each labelled at its end.
  for (size_t i = 0; i < plot.rules.size(); ++i) {
    const PlotRule& r = plot.rules[i];
    const Scale& s = r.vertical ? sx : sy;
    if (!showable(r.at, s.log) || r.at < s.lo || r.at > s.hi) continue;
    const std::string at = px(s.at(r.at));
    o += "<g class=\"rule r" + std::to_string(i % kSeriesStyles) + "\">";
    if (r.vertical) {
      o += "<line x1=\"" + at + "\" x2=\"" + at + "\" y1=\"" + px(sy.p0) + "\" y2=\"" + px(sy.p1) +
           "\"/><text x=\"" + px(s.at(r.at) + 3) + "\" y=\"" + px(sy.p1 + 10 + 12.0 * (i % 3)) +
           "\">" + esc(r.label) + "</text>";
    } else {
      o += "<line x1=\"" + px(sx.p0) + "\" x2=\"" + px(sx.p1) + "\" y1=\"" + at + "\" y2=\"" + at +
           "\"/><text x=\"" + px(sx.p1 - 4) + "\" y=\"" + px(s.at(r.at) - 4) +
           "\" text-anchor=\"end\">" + esc(r.label) + "</text>";
    }
    o += "</g>\n";
  }

  // The series, then the legend across the top.
  for (size_t i = 0; i < plot.series.size(); ++i) {
    const PlotSeries& s = plot.series[i];
    o += "<g class=\"series s" + std::to_string(i % kSeriesStyles) + "\" data-series=\"" +
         esc(s.name) + "\"><polyline points=\"";
    std::string marks;
    for (const PlotPoint& p : s.points) {
      if (!showable(p.x, sx.log) || !showable(p.y, sy.log)) continue;
      const std::string x = px(sx.at(p.x)), y = px(sy.at(p.y));
      o += x + "," + y + " ";
      marks += "<circle cx=\"" + x + "\" cy=\"" + y + "\" r=\"3\"><title>" +
               tick_label(plot.x, p.x) + ": " + esc(plain_number(p.y)) + "</title></circle>";
    }
    o += "\"/>" + marks + "</g>\n";
  }
  double lx = sx.p0;
  for (size_t i = 0; i < plot.series.size(); ++i) {
    const std::string style = std::to_string(i % kSeriesStyles);
    o += "<g class=\"legend series s" + style + "\"><line x1=\"" + px(lx) + "\" x2=\"" + px(lx + 22) +
         "\" y1=\"14\" y2=\"14\"/><circle cx=\"" + px(lx + 11) + "\" cy=\"14\" r=\"3\"/><text x=\"" +
         px(lx + 27) + "\" y=\"18\">" + esc(plot.series[i].name) + "</text></g>";
    lx += 40 + 7.5 * static_cast<double>(plot.series[i].name.size());
  }
  o += "</svg><figcaption>" + esc(plot.title) + "</figcaption></figure>\n";
  return o;
}

std::string render_bars(const BarChart& chart) {
  constexpr int kRow = 22, kLabel = 170, kValueRoom = 110;
  const int w = chart.width;
  const int h = kTop + static_cast<int>(chart.bars.size()) * kRow + kBottom - 10;
  double hi = 0.0, lo = 0.0;
  for (const Bar& b : chart.bars) {
    if (std::isfinite(b.start + b.length)) hi = std::max(hi, b.start + b.length);
    if (std::isfinite(b.start)) lo = std::min(lo, b.start);
  }
  if (hi <= lo) hi = lo + 1.0;
  const std::vector<double> ticks = linear_ticks(lo, hi, 6);
  if (!ticks.empty()) hi = std::max(hi, ticks.back());
  Scale s;
  s.lo = lo;
  s.hi = hi;
  s.p0 = kLabel;
  s.p1 = w - kValueRoom;

  std::string o = "<figure class=\"plot bars\" id=\"" + esc(chart.id) +
                  "\"><svg viewBox=\"0 0 " + std::to_string(w) + " " +
                  std::to_string(h) + "\" role=\"img\" aria-label=\"" + esc(chart.title) + "\">\n<g class=\"axis\">";
  const double bottom = kTop + static_cast<double>(chart.bars.size()) * kRow;
  for (const double t : ticks) {
    const std::string x = px(s.at(t));
    o += "<line class=\"grid\" x1=\"" + x + "\" x2=\"" + x + "\" y1=\"" + px(kTop - 4) + "\" y2=\"" +
         px(bottom) + "\"/><text x=\"" + x + "\" y=\"" + px(bottom + 16) +
         "\" text-anchor=\"middle\">" + esc(plain_number(t)) + "</text>";
  }
  o += "<text class=\"label\" x=\"" + px((s.p0 + s.p1) / 2) + "\" y=\"" + px(bottom + 34) +
       "\" text-anchor=\"middle\">" + esc(chart.axis_label) + "</text></g>\n";
  for (size_t i = 0; i < chart.bars.size(); ++i) {
    const Bar& b = chart.bars[i];
    const double y = kTop + static_cast<double>(i) * kRow;
    const double x0 = s.at(std::isfinite(b.start) ? b.start : 0.0);
    const double len = std::isfinite(b.length) && b.length > 0.0 ? s.at(b.start + b.length) - x0 : 0.0;
    const std::string text = !b.value_text.empty() ? b.value_text : b.status;
    o += std::string("<g class=\"bar ") + (b.status.empty() ? "info" : status_class(b.status)) +
         "\"><text x=\"" + px(kLabel - 6) + "\" y=\"" + px(y + 15) + "\" text-anchor=\"end\">" +
         esc(b.label) + "</text><rect x=\"" + px(x0) + "\" y=\"" + px(y + 3) + "\" width=\"" +
         px(std::max(len, 1.0)) + "\" height=\"" + px(kRow - 6) + "\"/><text x=\"" +
         px(x0 + std::max(len, 1.0) + 4) + "\" y=\"" + px(y + 15) + "\">" + esc(text) + "</text></g>\n";
  }
  o += "</svg><figcaption>" + esc(chart.title) + "</figcaption></figure>\n";
  return o;
}

}  // namespace dravik::html
