// The records of whole runs, through the composition root in this process
// (so seams can plant what a box would do): the metrics and the history tell
// a pass, a fault, a Ctrl-C and a memory-pressure abort; a record that cannot
// be written is told and fails a clean run, and leaves a failed one as it is.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <nlohmann/json.hpp>

#include "app/app.h"
#include "app/run.h"
#include "app/run_records.h"
#include "core/flags.h"
#include "report/json/json_sink.h"
#include "support/meminfo_fixture.h"
#include "support/prometheus_tools.h"
#include "support/test_support.h"

namespace dravik {
namespace {

std::string read_file(const std::string& path) {
  std::ifstream f(path);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Runs the program on run with args, JSON lines thrown away; the exit code.
int run_in_process(dravik::Run& run, std::vector<std::string> args) {
  args.insert(args.begin(), "dravik");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  FILE* stream = tmpfile();
  set_json_output(stream);
  const int code = run_program(run, static_cast<int>(argv.size()), argv.data());
  set_json_output(nullptr);
  fclose(stream);
  reset_process_flags();
  return code;
}

TEST(RunRecords, PassFaultInterruptAndPressureAbortLeaveBothRecords) {
  testing::TempDir dir;
  testing::MeminfoFixture meminfo(64);
  std::atomic<bool> once{false};
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::function<void(dravik::Run&)> plant;
    int exit;
    const char* verdict;
    const char* reason;  // the metrics' word and the summary's text
    const char* end_reason;
  } cases[] = {
      {"pass", {"--mem", "16M"}, [](dravik::Run&) {}, 0, "PASS", "completed", "completed"},
      {"fault", {"--mem", "16M"},
       [](dravik::Run& run) { run.after_flush = [](const TestBlock& b) { b.base[123] ^= 1ull << 5; }; },
       1, "FAIL", "completed", "completed"},
      {"ctrl-c", {"--mem", "16M", "--passes", "0"},
       [&once](dravik::Run& run) {
         run.after_flush = [&once](const TestBlock&) {
           if (!once.exchange(true)) kill(getpid(), SIGINT);
         };
       },
       0, "PASS", "user_stop", "stopped by user"},
      // Memory falls to 6 MiB once the first region is tested: the other
      // workers wait for it ten seconds and give up.
      {"pressure", {"--full", "--threads", "2", "--chunk", "16", "--mem", "64M", "--reserve", "0"},
       [&](dravik::Run& run) {
         run.paths.meminfo = meminfo.path();
         run.after_flush = [&](const TestBlock&) {
           if (!once.exchange(true)) meminfo.set_available_mib(6);
         };
       },
       3, "PASS", "pressure_abort", "aborted: system memory pressure limits exceeded"},
  };
  const bool promtool = !testing::find_program("promtool").empty();
  const std::string history = dir.sub("history.jsonl");
  size_t runs = 0;
  for (const Case& c : cases) {
    once = false;
    const std::string metrics = dir.sub(std::string(c.name) + ".prom");
    auto run = testing::make_run();
    c.plant(*run);
    std::vector<std::string> args = {"--json", "--quick", "--no-klog", "--metrics", metrics,
                                     "--history", history};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(run_in_process(*run, args), c.exit) << c.name;
    const std::string text = read_file(metrics);
    const std::string mode = std::string("{mode=\"") + (c.args[0] == "--full" ? "OFFLINE" : "PRODUCTION") +
                             "\",tier=\"quick\",version=\"0.6.0\"";
    for (const std::string& line :
         {"dravik_last_run_exit_status" + mode + "} " + std::to_string(c.exit),
          "dravik_last_run_verdict" + mode + ",verdict=\"" + c.verdict + "\"} 1",
          "dravik_last_run_end_reason" + mode + ",reason=\"" + c.reason + "\"} 1"}) {
      EXPECT_NE(text.find(line + "\n"), std::string::npos) << c.name << ": " << line << "\n" << text;
    }
    if (promtool) {
      EXPECT_EQ(testing::promtool_check_metrics(metrics), "") << c.name;
    }
    std::ifstream f(history);
    std::string line, last;
    size_t lines = 0;
    for (; std::getline(f, line); ++lines) last = line;
    EXPECT_EQ(lines, ++runs) << c.name;
    const auto j = nlohmann::json::parse(last, nullptr, false);
    EXPECT_EQ(j.value("event", ""), "summary") << c.name;
    EXPECT_EQ(j.value("verdict", ""), c.verdict) << c.name;
    EXPECT_EQ(j.value("end_reason", ""), c.end_reason) << c.name;
    EXPECT_EQ(j.value("exit_status", -1), c.exit) << c.name;
    EXPECT_EQ(j["options"].back(), c.args.back()) << c.name;
  }
}

TEST(RunRecords, RecordNotWrittenIsToldAndFailsOnlyACleanRun) {
  RunConfig cfg;
  cfg.metrics_path = "/nonexistent/dravik.prom";
  cfg.history_path = "/nonexistent/history.jsonl";
  for (const int status : {0, 1, 3}) {
    RunOutcome outcome;
    outcome.exit_status = status;
    FILE* err = tmpfile();
    EXPECT_EQ(keep_run_records(cfg, outcome, err), status == 0 ? kRecordsNotWritten : status);
    rewind(err);
    char said[512] = {};
    EXPECT_EQ(fread(said, 1, sizeof said - 1, err) > 0, true);
    fclose(err);
    EXPECT_STREQ(said,
                 "dravik: history not written: cannot open /nonexistent/history.jsonl: No such file "
                 "or directory\ndravik: metrics not written: cannot create a temporary file in "
                 "/nonexistent: No such file or directory\n");
  }
}

}  // namespace
}  // namespace dravik
