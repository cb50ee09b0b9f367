// The escapes of the metrics text: a HELP text and label values holding
// double quotes, backslashes and newlines. A character let through breaks
// the line or ends the value early, and the collector then drops the whole
// file; one escaped twice or where the format has no such escape changes the
// text or is refused the same way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/records/metrics/prometheus_text.h"
#include "support/prometheus_tools.h"
#include "support/test_support.h"

namespace dravik {
namespace {

TEST(MetricsEscaping, QuotesBackslashesAndNewlinesAreEscapedAsTheFormatReadsThem) {
  PrometheusText m(std::vector<PrometheusText::Label>{{"host", "nas \"one\"\\x\nb"}});
  m.family("dravik_test_escapes", "gauge", "Says \"hi\" from C:\\temp\\\nand goes on.");
  m.sample(1.5, "path", "C:\\new \"dir\"\n");
  m.sample(2);
  // A HELP text escapes backslash and newline only; a label value also the
  // double quote.
  const std::string expected = R"(# HELP dravik_test_escapes Says "hi" from C:\\temp\\\nand goes on.
# TYPE dravik_test_escapes gauge
dravik_test_escapes{host="nas \"one\"\\x\nb",path="C:\\new \"dir\"\n"} 1.5
dravik_test_escapes{host="nas \"one\"\\x\nb"} 2
)";
  EXPECT_EQ(m.text(), expected);
  if (testing::have_program("/usr/bin/promtool")) {
    testing::TempDir dir;
    EXPECT_EQ(testing::promtool_check_metrics(dir.write("escapes.prom", m.text())), "") << m.text();
  }
}

}  // namespace
}  // namespace dravik
