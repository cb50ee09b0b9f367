// The JSON stream of the real binary: every line of whole runs conforms to
// its format, the stream has its documented order, and a reader that goes
// away neither kills nor hangs the run.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "report/json/json_capture.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using testing::check_line_format;
using testing::JsonCapture;
using testing::ojson;
using testing::ProcOptions;
using testing::ProcResult;
using testing::run_dravik;

std::vector<std::string> event_names(const std::vector<std::string>& lines) {
  std::vector<std::string> names;
  for (const std::string& line : lines) names.push_back(ojson::parse(line)["event"]);
  return names;
}

// Checks every line of a PRODUCTION or OFFLINE stream and its order: start,
// map, the run's events, a final map and the summary last.
void expect_run_stream(const ProcResult& r, const char* mode) {
  ASSERT_FALSE(r.timed_out);
  ASSERT_EQ(r.term_signal, 0);
  ASSERT_FALSE(r.out.empty());
  ASSERT_EQ(r.out.back(), '\n') << "the last line is incomplete";
  const auto lines = JsonCapture::split_lines(r.out);
  for (const std::string& line : lines) {
    EXPECT_EQ(check_line_format(line), "") << line.substr(0, 300);
  }
  const auto names = event_names(lines);
  ASSERT_GE(names.size(), 4u);
  EXPECT_EQ(names.front(), "start");
  EXPECT_EQ(names.back(), "summary");
  EXPECT_EQ(names[names.size() - 2], "map");
  size_t first_map = 0;
  while (first_map < names.size() && names[first_map] != "map") ++first_map;
  for (size_t i = 1; i < first_map; ++i) EXPECT_EQ(names[i], "klog") << "before the first map";
  EXPECT_EQ(std::count(names.begin(), names.end(), "start"), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), "summary"), 1);

  const ojson start = ojson::parse(lines.front());
  EXPECT_EQ(start["mode"], mode);
  EXPECT_EQ(start["profile"], "quick");
  const ojson summary = ojson::parse(lines.back());
  const std::string verdict = summary["verdict"];
  const int want_exit = verdict == "FAIL" ? 1 : verdict == "PASS_WITH_TRANSIENTS" ? 2 : 0;
  if (summary["end_reason"].get<std::string>().rfind("aborted", 0) != 0) {
    EXPECT_EQ(r.exit_code, want_exit) << verdict;
  }
  EXPECT_EQ(summary["klog"]["source"], start["klog"]["source"]);
}

TEST(JsonRun, ProductionRunStreamConforms) {
  const ProcResult r = run_dravik({"--json", "--quick", "--mem", "64M"});
  expect_run_stream(r, "PRODUCTION");
  const ojson summary = ojson::parse(JsonCapture::split_lines(r.out).back());
  EXPECT_EQ(summary["end_reason"], "completed");
  EXPECT_EQ(summary["covered_total"], 64u << 20);
  EXPECT_EQ(r.exit_code, 0);
}

TEST(JsonRun, OfflineRunWithTwoWorkersStreamConforms) {
  const ProcResult r = run_dravik({"--full", "--threads", "2", "--json", "--quick", "--mem", "64M"});
  expect_run_stream(r, "OFFLINE");
  // Tests run on the workers, whose events are dropped: no phase lines.
  const auto names = event_names(JsonCapture::split_lines(r.out));
  EXPECT_EQ(std::count(names.begin(), names.end(), "phase"), 0);
}

TEST(JsonRun, StoppedRunEndsWithSummary) {
  ProcOptions opts;
  // Stopped once the first progress line is out.
  opts.on_output = [sent = false](pid_t pid, const std::string& out) mutable {
    if (sent || out.find("{\"event\":\"progress\"") == std::string::npos) return;
    kill(pid, SIGINT);
    sent = true;
  };
  const ProcResult r = run_dravik({"--json", "--passes", "0", "--quick", "--mem", "64M"}, opts);
  expect_run_stream(r, "PRODUCTION");
  const ojson summary = ojson::parse(JsonCapture::split_lines(r.out).back());
  EXPECT_EQ(summary["end_reason"], "stopped by user");
  const auto names = event_names(JsonCapture::split_lines(r.out));
  EXPECT_GT(std::count(names.begin(), names.end(), "progress"), 0);
}

TEST(JsonRun, BenchStreamConforms) {
  const ProcResult r = run_dravik({"--bench", "--json", "--mem", "2M"});
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 0);
  const auto lines = JsonCapture::split_lines(r.out);
  for (const std::string& line : lines) EXPECT_EQ(check_line_format(line), "") << line;
  const auto names = event_names(lines);
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.front(), "start");
  EXPECT_EQ(names.back(), "bench_summary");
  EXPECT_EQ(std::count(names.begin(), names.end(), "bench_point"), 40);  // 4 KiB .. 2 MiB
  EXPECT_EQ(std::count(names.begin(), names.end(), "summary"), 0);
  EXPECT_EQ(std::count(names.begin(), names.end(), "map"), 0) << "a benchmark has no map";
}

TEST(JsonRun, ClosedReaderNeitherKillsNorHangsTheRun) {
  // head leaves after three lines; dravik keeps writing into the closed pipe
  // and must still end, with the lost output told once and the status of a
  // clean run whose output could not be written.
  const std::string script =
      "\"$0\" --json --passes 2 --quick --mem 64M | head -n 3 >/dev/null; "
      "s=${PIPESTATUS[0]}; echo \"status=$s\"; exit $s";
  ProcOptions opts;
  opts.timeout_s = 120;
  const ProcResult r =
      testing::run_process({"/bin/bash", "-c", script, testing::dravik_binary()}, opts);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.term_signal, 0);
  EXPECT_EQ(r.out, "status=4\n");
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_EQ(r.err, "dravik: output not written: Broken pipe\n");
}

TEST(JsonRun, OrdinaryUserGetsFallbackKernelLogSource) {
  if (!testing::is_root()) GTEST_SKIP() << "needs root to drop to nobody";
  int restricted = 0;
  std::ifstream("/proc/sys/kernel/dmesg_restrict") >> restricted;
  ProcOptions opts;
  opts.as_nobody = true;
  const ProcResult r = run_dravik({"--json", "--quick", "--mem", "16M"}, opts);
  ASSERT_FALSE(r.timed_out);
  ASSERT_EQ(r.term_signal, 0);
  const auto lines = JsonCapture::split_lines(r.out);
  ASSERT_FALSE(lines.empty());
  for (const std::string& line : lines) EXPECT_EQ(check_line_format(line), "") << line;
  const ojson start = ojson::parse(lines.front());
  EXPECT_EQ(start["root"], false);
  if (restricted) {
    EXPECT_NE(start["klog"]["source"], "kmsg");
    // dmesg is refused to the user as well: nothing is counted.
    const ojson summary = ojson::parse(lines.back());
    EXPECT_EQ(summary["klog"]["crit"], 0);
    EXPECT_EQ(summary["klog"]["warn"], 0);
  }
}

TEST(JsonRun, NoKlogReportsNoSource) {
  const ProcResult r = run_dravik({"--json", "--no-klog", "--quick", "--mem", "16M"});
  const auto lines = JsonCapture::split_lines(r.out);
  ASSERT_FALSE(lines.empty());
  const ojson start = ojson::parse(lines.front());
  EXPECT_EQ(start["klog"]["available"], false);
  EXPECT_EQ(start["klog"]["source"], "none");
}

}  // namespace
}  // namespace dravik
