#include "report/records/metrics/prometheus_text.h"

#include <charconv>
#include <cmath>

namespace dravik {

namespace {

std::string escaped(const std::string& text, bool quote) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"' && quote) {
      out += "\\\"";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string prometheus_label_value(const std::string& value) { return escaped(value, true); }
std::string prometheus_help(const std::string& help) { return escaped(help, false); }

std::string prometheus_value(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, res.ptr);
}

void PrometheusText::family(const char* name, const char* type, const char* help) {
  name_ = name;
  text_ += "# HELP " + name_ + ' ' + prometheus_help(help) + '\n';
  text_ += "# TYPE " + name_ + ' ' + type + '\n';
}

void PrometheusText::sample(double value, const char* label, const std::string& label_value) {
  text_ += name_;
  char sep = '{';
  for (const Label& l : common_) {
    text_ += sep + l.first + "=\"" + prometheus_label_value(l.second) + '"';
    sep = ',';
  }
  if (label[0] != '\0') {
    text_ += sep + std::string(label) + "=\"" + prometheus_label_value(label_value) + '"';
    sep = ',';
  }
  if (sep == ',') text_ += '}';
  text_ += ' ' + prometheus_value(value) + '\n';
}

}  // namespace dravik
