// The Prometheus text exposition format as node-exporter's textfile collector
// reads it: each family a HELP and a TYPE line followed by its samples, label
// values escaped, no timestamps (the collector refuses files that carry them).
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace dravik {

class PrometheusText {
 public:
  using Label = std::pair<std::string, std::string>;

  // Labels every sample carries, first and in this order.
  explicit PrometheusText(std::vector<Label> common) : common_(std::move(common)) {}

  // Starts a family; type is "gauge" or "counter".
  void family(const char* name, const char* type, const char* help);
  // One sample of the family begun last, with one more label when label is
  // not empty. A value that is not finite is written as Prometheus spells it.
  void sample(double value, const char* label = "", const std::string& label_value = "");
  // A family of one sample.
  void gauge(const char* name, const char* help, double value) {
    family(name, "gauge", help);
    sample(value);
  }

  const std::string& text() const { return text_; }

 private:
  std::vector<Label> common_;
  std::string name_;
  std::string text_;
};

// Label values escape backslash, double quote and newline; HELP texts
// escape backslash and newline.
std::string prometheus_label_value(const std::string& value);
std::string prometheus_help(const std::string& help);
// The shortest text that reads back as the same double; "NaN", "+Inf", "-Inf".
std::string prometheus_value(double value);

}  // namespace dravik
