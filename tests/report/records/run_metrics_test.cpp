// The metrics file: every outcome a run can end with gives the series of that
// outcome, each with the labels mode, tier and version, in a file promtool
// has nothing to say about; the file is replaced whole and readable by the
// collector, or left as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "hcl/verdict.h"
#include "report/records/prometheus_text.h"
#include "report/records/run_metrics.h"
#include "support/prometheus_tools.h"
#include "support/test_support.h"

namespace dravik {
namespace {

// Sample lines by name and own labels ("name{verdict=\"PASS\"}"), once the
// common labels of the outcome are taken off; a sample without them keeps
// its whole name and so matches no expectation.
std::map<std::string, std::string> samples(const std::string& text, const RunOutcome& o) {
  const std::string common = std::string("mode=\"") + outcome_mode_word(o) + "\",tier=\"" +
                             o.tier + "\",version=\"" + kVersion + "\"";
  std::map<std::string, std::string> found;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::string key = line.substr(0, line.rfind(' '));
    const size_t at = key.find(common);
    if (at != std::string::npos) key.erase(at, common.size() + (key[at + common.size()] == ',' ? 1 : 0));
    if (key.size() > 2 && key.compare(key.size() - 2, 2, "{}") == 0) key.resize(key.size() - 2);
    found[key] = line.substr(line.rfind(' ') + 1);
  }
  return found;
}

RunOutcome fault_test(int32_t reason, int exit, int64_t hard, const char* verdict) {
  RunOutcome o;
  o.tier = "quick";
  o.exit_status = exit;
  o.verdict = verdict;
  o.fault_test = o.readings = true;
  o.tested_bytes = 32ull << 20;
  o.hard_faults = hard;
  o.end_reason = reason;
  return o;
}

TEST(RunMetrics, EveryOutcomeGivesItsSeriesAndPassesPromtool) {
  HclVerdictInputs in;
  in.setup_uniform = 1;
  in.theoretical_gbs = 25.6;
  in.peak_read = 20.48;
  in.peak_write = 18.0;
  in.lat_idle_avg = 90.0;
  in.lat_idle_p99 = 120.0;
  in.edac_ce_start = in.edac_ue_start = in.edac_ce_end = in.edac_ue_end = 0;
  const HclVerdictReport hcl = build_hcl_verdict_report(in, RunConfig{});
  RunOutcome pass = fault_test(1, 0, 0, "PASS"), fail = fault_test(1, 1, 3, "FAIL");
  fail.mode = RunMode::OFFLINE;
  fail.edac_ce_delta = 2;
  fail.edac_ue_delta = 0;
  RunOutcome bench, qualified, unstarted, selftest;
  bench.mode = RunMode::BENCH;
  bench.readings = true;
  qualified.mode = unstarted.mode = RunMode::HCL;
  qualified.readings = true;
  qualified.hcl = &hcl;
  qualified.verdict = verdict_word(hcl.verdict);
  unstarted.verdict = "INCONCLUSIVE";
  selftest.selftest = true;
  selftest.verdict = "FAIL";
  struct Case {
    const char* name;
    RunOutcome o;
    std::map<std::string, std::string> expected;  // "": the series must be absent
  } cases[] = {
      {"pass", pass, {{"dravik_last_run_verdict{verdict=\"PASS\"}", "1"}, {"dravik_last_run_verdict{verdict=\"FAIL\"}", "0"},
                      {"dravik_last_run_tested_bytes", "33554432"}, {"dravik_last_run_end_reason{reason=\"completed\"}", "1"},
                      {"dravik_last_run_edac_corrected_errors", ""}, {"dravik_last_run_exit_status", "0"}}},
      {"fail", fail, {{"dravik_last_run_verdict{verdict=\"FAIL\"}", "1"}, {"dravik_last_run_hard_faults", "3"},
                      {"dravik_last_run_edac_corrected_errors", "2"},
                      {"dravik_last_run_exit_status", "1"}}},
      {"stopped", fault_test(3, 0, 0, "PASS"), {{"dravik_last_run_end_reason{reason=\"user_stop\"}", "1"},
                      {"dravik_last_run_end_reason{reason=\"completed\"}", "0"}}},
      {"pressure", fault_test(2, 3, 0, "PASS"), {{"dravik_last_run_end_reason{reason=\"pressure_abort\"}", "1"},
                      {"dravik_last_run_exit_status", "3"}}},
      {"bench", bench, {{"dravik_last_run_verdict{verdict=\"PASS\"}", ""}, {"dravik_last_run_tested_bytes", ""},
                      {"dravik_last_run_kernel_critical_events", "0"}}},
      {"hcl", qualified, {{"dravik_last_run_verdict{verdict=\"PASS\"}", "1"}, {"dravik_last_run_verdict{verdict=\"INCONCLUSIVE\"}", "0"},
                      {"dravik_hcl_peak_read_bytes_per_second", "2.048e+10"}, {"dravik_hcl_jedec_efficiency_ratio", "0.8"},
                      {"dravik_hcl_idle_latency_p99_seconds", "1.2e-07"},
                      {"dravik_hcl_bit_errors", "0"}, {"dravik_last_run_hard_faults", ""}}},
      {"hcl-unstarted", unstarted, {{"dravik_last_run_verdict{verdict=\"INCONCLUSIVE\"}", "1"},
                      {"dravik_hcl_peak_read_bytes_per_second", ""}}},
      {"selftest", selftest, {{"dravik_last_run_verdict{verdict=\"FAIL\"}", "1"}, {"dravik_last_run_kernel_critical_events", ""}}},
  };
  testing::TempDir dir;
  const bool promtool = !testing::find_program("promtool").empty();
  for (const Case& c : cases) {
    const std::string path = dir.sub(std::string(c.name) + ".prom");
    std::string error;
    ASSERT_TRUE(write_run_metrics(path, c.o, &error)) << error;
    std::ifstream f(path);
    const std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const auto found = samples(text, c.o);
    for (const auto& [series, value] : c.expected) {
      if (value.empty()) {
        EXPECT_EQ(found.count(series), 0u) << c.name << ": " << series;
      } else {
        EXPECT_EQ(found.count(series) ? found.at(series) : "(absent)", value) << c.name << ": " << series;
      }
    }
    if (promtool) {
      EXPECT_EQ(testing::promtool_check_metrics(path), "") << c.name << "\n" << text;
    }
  }
  EXPECT_EQ(prometheus_label_value("a\"b\\c\nd"), "a\\\"b\\\\c\\nd");
}

TEST(RunMetrics, FileIsReplacedReadableOrLeftAsItWas) {
  testing::TempDir dir;
  const RunOutcome o = fault_test(1, 0, 0, "PASS");
  std::string error;
  // The collector reads as its own user, whatever the writer's umask.
  const mode_t old_mask = umask(077);
  const bool written = write_run_metrics(dir.sub("dravik.prom"), o, &error);
  umask(old_mask);
  ASSERT_TRUE(written) << error;
  struct stat st {};
  ASSERT_EQ(stat(dir.sub("dravik.prom").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  // A directory in the way and a missing directory: refused, nothing left behind.
  dir.write("taken.prom/keep", "x");
  EXPECT_FALSE(write_run_metrics(dir.sub("taken.prom"), o, &error));
  EXPECT_NE(error.find("cannot rename the new file over " + dir.sub("taken.prom")), std::string::npos) << error;
  EXPECT_FALSE(write_run_metrics(dir.sub("missing/dravik.prom"), o, &error));
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 2u) << "dravik.prom and taken.prom only";
}

}  // namespace
}  // namespace dravik
