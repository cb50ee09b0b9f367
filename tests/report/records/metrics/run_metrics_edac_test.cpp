// The EDAC series of the metrics file: on a box with EDAC they are there
// whatever the counts, 0 included, so that an alert on a gain and a graph of
// a clean box both have a figure; only a box without EDAC has none.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "report/records/metrics/run_metrics.h"
#include "support/prometheus_tools.h"
#include "support/test_support.h"

namespace dravik {
namespace {

// The value of the one sample of a family, "" when the family has none.
std::string value_of(const std::string& text, const std::string& name) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, name.size() + 1, name + "{") == 0) return line.substr(line.rfind(' ') + 1);
  }
  return "";
}

TEST(RunMetricsEdac, ABoxWithEdacHasItsSeriesAlsoWhenNothingWasCounted) {
  struct Case {
    const char* name;
    int64_t ce, ue;  // what the counters gained, -1 without EDAC
    const char* corrected;
    const char* uncorrected;
  } cases[] = {
      {"EDAC, no errors", 0, 0, "0", "0"},
      {"EDAC, corrected errors only", 3, 0, "3", "0"},
      {"EDAC, one uncorrected error", 0, 1, "0", "1"},
      {"no EDAC", -1, -1, "", ""},
  };
  testing::TempDir dir;
  const bool promtool = testing::have_program("/usr/bin/promtool");
  for (const Case& c : cases) {
    RunOutcome o;
    o.mode = RunMode::PRODUCTION;
    o.readings = o.fault_test = true;
    o.tier = "standard";
    o.verdict = "PASS";
    o.edac_ce_delta = c.ce;
    o.edac_ue_delta = c.ue;
    const std::string path = dir.sub("dravik.prom");
    std::string error;
    ASSERT_TRUE(write_run_metrics(path, o, &error)) << error;
    std::ifstream f(path);
    const std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_EQ(value_of(text, "dravik_last_run_edac_corrected_errors"), c.corrected) << c.name;
    EXPECT_EQ(value_of(text, "dravik_last_run_edac_uncorrected_errors"), c.uncorrected) << c.name;
    if (promtool) {
      EXPECT_EQ(testing::promtool_check_metrics(path), "") << c.name;
    }
  }
}

}  // namespace
}  // namespace dravik
