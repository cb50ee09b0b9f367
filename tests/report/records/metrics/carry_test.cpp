// The last finished run's series in the start-of-run metrics: a file dravik
// wrote gives its dravik_last_run_* and dravik_hcl_* families whole; any file
// that is not one (torn, hand-edited, another program's) gives nothing, so
// the collector is never handed a line it refuses. The previous file is read
// only when it is a regular file of bounded size, never through a link, and
// a FIFO there does not hold the run up.
#include "report/records/metrics/carry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "hcl/verdict/verdict.h"
#include "report/records/metrics/run_metrics.h"
#include "support/test_support.h"

namespace dravik {
namespace {

// Lines of text that contain part, in order.
std::string lines_with(const std::string& text, const std::string& part) {
  std::istringstream in(text);
  std::string kept;
  for (std::string line; std::getline(in, line);) {
    if (line.find(part) != std::string::npos) kept += line + '\n';
  }
  return kept;
}

TEST(MetricsCarry, KeepsTheLastRunsFamiliesOfAFileDravikWrote) {
  HclVerdictInputs in;
  in.setup_uniform = 1;
  in.theoretical_gbs = 25.6;
  in.run.peak_read = 20.48;
  const HclVerdictReport hcl = build_hcl_verdict_report(in, RunConfig{});
  RunOutcome fault, qualified;
  fault.fault_test = fault.readings = true;
  fault.verdict = "ABORTED";
  qualified.mode = RunMode::HCL;
  qualified.hcl = &hcl;
  qualified.verdict = "PASS";
  for (const RunOutcome* o : {&fault, &qualified}) {
    const std::string text = run_metrics_text(*o);
    const std::string kept = carried_metrics(text);
    EXPECT_EQ(kept, lines_with(text, "dravik_last_run_") + lines_with(text, "dravik_hcl_"));
    EXPECT_NE(lines_with(kept, "_verdict{"), "");
    EXPECT_EQ(lines_with(kept, "dravik_run_"), "") << "the new run's own series are not kept";
    // Kept again by the start of the run after a killed one.
    RunOutcome started;
    started.in_progress = true;
    started.carried_metrics = kept;
    EXPECT_EQ(carried_metrics(run_metrics_text(started)), kept);
  }
}

// Each row: a text and what is kept of it ("=": all of it).
TEST(MetricsCarry, AnythingButAFileDravikWroteKeepsNothing) {
  const std::string head =
      "# HELP dravik_last_run_exit_status Exit status.\n"
      "# TYPE dravik_last_run_exit_status gauge\n";
  const std::string good = head + "dravik_last_run_exit_status{mode=\"P\",tier=\"q\"} 0\n";
  const std::string sample = head + "dravik_last_run_exit_status";
  const std::pair<std::string, std::string> rows[] = {
      {good, "="},
      {sample + "{mode=\"a\\\\b\\\"c\\n\",} 1e+09\n", "="},
      {sample + " -Inf\n", "="},
      {"# HELP dravik_run_in_progress x\n# TYPE dravik_run_in_progress gauge\n"
       "dravik_run_in_progress 1\n" + good, good},  // the new run's own family left out
      {good.substr(0, good.size() - 1), ""},         // torn
      {good + "node_load1 0.5\n", ""},               // another program's series
      {"dravik_last_run_exit_status 0\n", ""},       // no HELP and TYPE
      {sample + "{mode=\"P\"} 0\x01\n", ""},
      {sample + "{mode=\"P\xc3\xa9\"} 0\n", ""},
      {sample + "{mode=\"P} 0\n", ""},
      {sample + "{mode=\"P\"tier=\"q\"} 0\n", ""},
      {sample + "{mode=\"\\x\"} 0\n", ""},
      {sample + " inf\n", ""},
      {sample + " 0 1796757108000\n", ""},  // a timestamp
      {head + "dravik_last_run_verdict 0\n", ""},
      {"# HELP dravik_last_run_exit_status x\n# TYPE dravik_last_run_exit_status summary\n", ""},
      {good + good, ""},
      {good + "# HELP dravik_last_run_verdict x\n", ""},
      {head + std::string(kCarriedMetricsMax, '#') + "\n", ""},
  };
  for (const auto& [text, kept] : rows) {
    EXPECT_EQ(carried_metrics(text), kept == "=" ? text : kept) << text.substr(0, 300);
  }
}

TEST(MetricsCarry, ReadsOnlyARegularFileOfBoundedSizeNeverThroughALink) {
  testing::TempDir dir;
  const std::string file = dir.write("dravik.prom", "text\n");
  EXPECT_EQ(read_previous_metrics(file), "text\n");
  ASSERT_EQ(symlink(file.c_str(), dir.sub("link.prom").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.sub("fifo.prom").c_str(), 0644), 0);
  dir.write("big.prom", std::string(kCarriedMetricsMax + 1, 'x'));
  dir.write("folder.prom/x", "");
  for (const char* name : {"link.prom", "fifo.prom", "big.prom", "folder.prom", "none.prom"}) {
    EXPECT_EQ(read_previous_metrics(dir.sub(name)), "") << name;
  }
  EXPECT_EQ(read_previous_metrics(dir.sub("none/dravik.prom")), "");
}

}  // namespace
}  // namespace dravik
