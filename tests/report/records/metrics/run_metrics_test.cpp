// The metrics file: every outcome a run can end with gives the series of that
// outcome, each with the labels mode, tier and version, in a file promtool
// has nothing to say about; the file is replaced whole and readable by the
// collector, or left as it was.
#include "report/records/metrics/run_metrics.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "hcl/verdict/verdict.h"
#include "report/records/metrics/prometheus_text.h"
#include "support/prometheus_tools.h"
#include "support/test_support.h"

namespace dravik {
namespace {

// Sample lines by name and own labels ("name{verdict=\"PASS\"}"), once the
// common labels of the outcome are taken off; a sample without them keeps
// its whole name and so matches no expectation.
std::map<std::string, std::string> samples(const std::string& text, const RunOutcome& o) {
  const std::string common = std::string("mode=\"") + outcome_mode_word(o) + "\",tier=\"" + o.tier +
                             "\",version=\"" + kVersion + "\"";
  std::map<std::string, std::string> found;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::string key = line.substr(0, line.rfind(' '));
    const size_t at = key.find(common);
    if (at != std::string::npos)
      key.erase(at, common.size() + (key[at + common.size()] == ',' ? 1 : 0));
    if (key.size() > 2 && key.compare(key.size() - 2, 2, "{}") == 0) key.resize(key.size() - 2);
    found[key] = line.substr(line.rfind(' ') + 1);
  }
  return found;
}

// The outcomes the whole-run tests cannot make here: EDAC counts, the
// benchmark, a qualification with and without its report, the self-check, a
// run that has just started.
TEST(RunMetrics, EveryOutcomeGivesItsSeriesAndPassesPromtool) {
  HclVerdictInputs in;
  in.setup_uniform = 1;
  in.theoretical_gbs = 25.6;
  in.run.peak_read = 20.48;
  in.run.lat_idle_avg = 90.0;
  in.run.lat_idle_p99 = 120.0;
  const HclVerdictReport hcl = build_hcl_verdict_report(in, RunConfig{});
  RunOutcome fault, bench, qualified, unstarted, selftest, started;
  fault.mode = RunMode::OFFLINE;
  fault.verdict = "FAIL";
  fault.fault_test = fault.readings = bench.readings = qualified.readings = true;
  fault.hard_faults = 3;
  fault.edac_ce_delta = 2;
  bench.mode = RunMode::BENCH;
  qualified.mode = unstarted.mode = RunMode::HCL;
  qualified.hcl = &hcl;
  qualified.verdict = verdict_word(hcl.verdict);
  unstarted.verdict = "INCONCLUSIVE";
  selftest.selftest = true;
  selftest.verdict = "FAIL";
  started.in_progress = true;
  started.start_time = 1796757108.5;
  fault.start_time = 1796757000;
  started.verdict = "PASS";  // not known at the start: no series
  const std::pair<RunOutcome, std::map<std::string, std::string>> cases[] = {
      // "": the series is absent.
      {fault,
       {{"dravik_last_run_verdict{verdict=\"FAIL\"}", "1"},
        {"dravik_last_run_verdict{verdict=\"PASS\"}", "0"},
        {"dravik_last_run_verdict{verdict=\"ABORTED\"}", "0"},
        {"dravik_last_run_verdict{verdict=\"CANCELED\"}", "0"},
        {"dravik_run_in_progress", "0"},
        {"dravik_run_start_timestamp_seconds", "1796757000"},
        {"dravik_last_run_hard_faults", "3"},
        {"dravik_last_run_edac_corrected_errors", "2"},
        {"dravik_last_run_edac_uncorrected_errors", ""},
        {"dravik_last_run_end_reason{reason=\"unknown\"}", "1"}}},
      {bench,
       {{"dravik_last_run_verdict{verdict=\"PASS\"}", ""},
        {"dravik_last_run_tested_bytes", ""},
        {"dravik_last_run_kernel_critical_events", "0"}}},
      {qualified,
       {{"dravik_last_run_verdict{verdict=\"PASS\"}", "1"},
        {"dravik_last_run_verdict{verdict=\"INCONCLUSIVE\"}", "0"},
        {"dravik_hcl_peak_read_bytes_per_second", "2.048e+10"},
        {"dravik_hcl_jedec_efficiency_ratio", "0.8"},
        {"dravik_hcl_idle_latency_p99_seconds", "1.2e-07"},
        {"dravik_hcl_bit_errors", "0"},
        {"dravik_last_run_hard_faults", ""}}},
      {unstarted,
       {{"dravik_last_run_verdict{verdict=\"INCONCLUSIVE\"}", "1"},
        {"dravik_hcl_peak_read_bytes_per_second", ""}}},
      {selftest,
       {{"dravik_last_run_verdict{verdict=\"FAIL\"}", "1"},
        {"dravik_last_run_kernel_critical_events", ""}}},
      {started,
       {{"dravik_run_in_progress", "1"},
        {"dravik_run_start_timestamp_seconds", "1796757108.5"},
        {"dravik_last_run_timestamp_seconds", ""},
        {"dravik_last_run_exit_status", ""},
        {"dravik_last_run_verdict{verdict=\"PASS\"}", ""}}},
  };
  testing::TempDir dir;
  const bool promtool = testing::have_program("/usr/bin/promtool");
  for (const auto& [o, expected] : cases) {
    const std::string path = dir.sub("dravik.prom");
    std::string error;
    ASSERT_TRUE(write_run_metrics(path, o, &error)) << error;
    std::ifstream f(path);
    const std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const auto found = samples(text, o);
    for (const auto& [series, value] : expected) {
      EXPECT_EQ(found.count(series) ? found.at(series) : "", value) << series << " in\n" << text;
    }
    if (promtool) {
      EXPECT_EQ(testing::promtool_check_metrics(path), "") << text;
    }
  }
  EXPECT_EQ(prometheus_label_value("a\"b\\c\nd"), "a\\\"b\\\\c\\nd");
}

TEST(RunMetrics, FileIsReplacedReadableOrLeftAsItWas) {
  testing::TempDir dir;
  const RunOutcome o;
  std::string error;
  // The collector reads as its own user, whatever the writer's umask.
  const mode_t old_mask = umask(077);
  const bool written = write_run_metrics(dir.sub("dravik.prom"), o, &error);
  umask(old_mask);
  ASSERT_TRUE(written) << error;
  struct stat st {};
  ASSERT_EQ(stat(dir.sub("dravik.prom").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  // A directory in the way: refused, the directory as it was, no temporary left.
  dir.write("taken.prom/keep", "x");
  EXPECT_FALSE(write_run_metrics(dir.sub("taken.prom"), o, &error));
  EXPECT_EQ(error, dir.sub("taken.prom") + " is not a regular file");
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::recursive_directory_iterator(dir.path()))
    ++entries;
  EXPECT_EQ(entries, 3u) << "dravik.prom, taken.prom and taken.prom/keep";
}

}  // namespace
}  // namespace dravik
