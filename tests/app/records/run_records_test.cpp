// Whole runs and the records they leave: a pass of the real binary, and the
// program in a child of this process (so seams can plant what a box would do)
// with a fault, a Ctrl-C and a memory-pressure abort. Each leaves metrics that promtool has nothing to
// say about and that a real prometheus-node-exporter serves (both when
// installed), and one more history line. A record that cannot be written is
// told, and fails only a run that found nothing.
#include "app/records/run_records.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <nlohmann/json.hpp>

#include "app/app.h"
#include "app/run/run.h"
#include "core/text.h"
#include "report/console/summary.h"
#include "report/records/history/line.h"
#include "report/records/metrics/run_metrics.h"
#include "support/meminfo_fixture.h"
#include "support/prometheus_tools.h"
#include "support/test_support.h"

namespace dravik {
namespace {

std::string read_file(const std::string& path) {
  std::ifstream f(path);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// A node-exporter on a free loopback port, its textfile collector reading
// dir; not running when the box has none.
class Exporter {
 public:
  explicit Exporter(const std::string& dir) {
    const char* exporter = "/usr/bin/prometheus-node-exporter";
    if (!testing::have_program(exporter)) return;
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), len);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    port_ = std::to_string(ntohs(addr.sin_port));
    const std::string listen = "--web.listen-address=127.0.0.1:" + port_;
    const std::string textfile = "--collector.textfile.directory=" + dir;
    pid_ = fork();
    if (pid_ == 0) {
      freopen("/dev/null", "w", stderr);
      execl(exporter, exporter, listen.c_str(), "--collector.disable-defaults",
            "--collector.textfile", textfile.c_str(), nullptr);
      _exit(127);
    }
    // Up once it answers: waited for, not timed.
    for (const double deadline = now_seconds() + 60;
         scrape().empty() && now_seconds() < deadline;) {
      usleep(50000);
    }
  }
  ~Exporter() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  bool running() const { return pid_ > 0; }
  // GET /metrics; empty while nothing answers.
  std::string scrape() const {
    return testing::run_process({"/bin/bash", "-c",
                                 "exec 3<>/dev/tcp/127.0.0.1/$0 && printf 'GET /metrics "
                                 "HTTP/1.0\\r\\n\\r\\n' >&3 && cat <&3",
                                 port_})
        .out;
  }

 private:
  pid_t pid_ = -1;
  std::string port_;
};

// The program on run in a child of this process, which keeps the idle
// priority, the signal handler and the flags it sets; its JSON lines are
// thrown away. Returns its exit code.
int run_in_child(dravik::Run& run, std::vector<std::string> args) {
  const pid_t pid = fork();
  if (pid == 0) {
    freopen("/dev/null", "w", stdout);
    args.insert(args.begin(), "dravik");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    _exit(run_program(run, static_cast<int>(argv.size()), argv.data()));
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(RunRecords, PassFaultInterruptAndPressureAbortLeaveBothRecords) {
  testing::TempDir dir, textfiles;
  const Exporter exporter(textfiles.path());
  testing::MeminfoFixture meminfo(64);
  std::atomic<bool> once{false};
  struct Case {
    std::vector<std::string> args;
    std::function<void(dravik::Run&)> plant;  // empty: the real binary runs
    int exit;
    const char* verdict;
    const char* reason;      // as the metrics say it
    const char* end_reason;  // as the summary says it
  } cases[] = {
      {{"--mem", "16M"}, nullptr, 0, "PASS", "completed", "completed"},
      {{"--mem", "16M"},
       [](dravik::Run& run) {
         run.after_flush = [](const TestBlock& b) { b.base[123] ^= 1ull << 5; };
       },
       1, "FAIL", "completed", "completed"},
      {{"--mem", "16M", "--passes", "0"},
       [&](dravik::Run& run) {
         run.after_flush = [&](const TestBlock&) {
           if (!once.exchange(true)) kill(getpid(), SIGINT);
         };
       },
       0, "CANCELED", "user_stop", "stopped by user"},
      // Memory falls to 6 MiB once the first region is tested: the other
      // workers wait for it ten seconds and give up.
      {{"--full", "--threads", "2", "--chunk", "16", "--mem", "64M", "--reserve", "0"},
       [&](dravik::Run& run) {
         run.paths.meminfo = meminfo.path();
         run.after_flush = [&](const TestBlock&) {
           if (!once.exchange(true)) meminfo.set_available_mib(6);
         };
       },
       3, "ABORTED", "pressure_abort", "aborted: system memory pressure limits exceeded"},
      // Under the 8 MiB a pass needs: nothing is tested.
      {{"--mem", "4M"}, nullptr, 3, "ABORTED", "alloc_abort",
       "aborted: could not allocate test memory"},
  };
  const bool promtool = testing::have_program("/usr/bin/promtool");
  const std::string metrics = textfiles.sub("dravik.prom"), history = dir.sub("history.jsonl");
  size_t runs = 0;
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--json",  "--quick",   "--no-klog", "--metrics",
                                     metrics, "--history", history};
    args.insert(args.end(), c.args.begin(), c.args.end());
    once = false;
    auto run = testing::make_run();
    if (c.plant) c.plant(*run);
    const int code = c.plant ? run_in_child(*run, args) : testing::run_dravik(args).exit_code;
    EXPECT_EQ(code, c.exit) << c.verdict << " " << c.reason;
    const std::string labels = std::string("{mode=\"") +
                               (c.args[0] == "--full" ? "OFFLINE" : "PRODUCTION") +
                               "\",tier=\"quick\"";
    const std::string text = read_file(metrics);
    for (const std::string& line :
         {"dravik_last_run_exit_status" + labels + ",version=\"0.6.0\"} " + std::to_string(c.exit),
          "dravik_last_run_verdict" + labels + ",version=\"0.6.0\",verdict=\"" + c.verdict +
              "\"} 1",
          "dravik_last_run_end_reason" + labels + ",version=\"0.6.0\",reason=\"" + c.reason +
              "\"} 1"}) {
      EXPECT_NE(text.find(line + "\n"), std::string::npos) << line << "\n" << text;
    }
    if (promtool) {
      EXPECT_EQ(testing::promtool_check_metrics(metrics), "") << c.reason;
    }
    if (exporter.running()) {  // the exporter sorts the labels
      const std::string served = exporter.scrape();
      EXPECT_NE(served.find("\nnode_textfile_scrape_error 0\n"), std::string::npos) << served;
      EXPECT_NE(served.find("\ndravik_last_run_verdict" + labels + ",verdict=\"" + c.verdict +
                            "\",version=\"0.6.0\"} 1\n"),
                std::string::npos)
          << served;
    }
    std::ifstream f(history);
    std::string line, last;
    size_t lines = 0;
    for (; std::getline(f, line); ++lines) last = line;
    EXPECT_EQ(lines, ++runs);
    const auto j = nlohmann::json::parse(last, nullptr, false);
    EXPECT_EQ(j.value("event", ""), "summary");
    EXPECT_EQ(j.value("verdict", ""), c.verdict);
    EXPECT_EQ(j.value("end_reason", ""), c.end_reason);
    EXPECT_EQ(j.value("exit_status", -1), c.exit);
    EXPECT_EQ(j["options"].back(), c.args.back());
  }
}

// A run killed outright (SIGKILL, the OOM killer) leaves its start-of-run
// metrics: a run in progress since it started, beside the series of the last
// run that ended, in a file promtool has nothing to say about. A start-of-run
// file that cannot be written is told, and the run goes on.
TEST(RunRecords, RunKilledOutrightLeavesItsStartRecord) {
  testing::TempDir dir;
  const std::string metrics = dir.sub("dravik.prom");
  ASSERT_EQ(testing::run_dravik({"--selftest", "--metrics", metrics}).exit_code, 0);
  const std::string finished = read_file(metrics);
  const std::string labels = R"({mode="PRODUCTION",tier="quick",version="0.6.0"})";
  const std::string in_progress = "dravik_run_in_progress" + labels + " 1\n";
  std::string seen;
  testing::ProcOptions opts;
  opts.on_output = [&](pid_t pid, const std::string&) {
    if (!seen.empty()) return;
    seen = read_file(metrics);
    if (seen.find(in_progress) == std::string::npos) {
      seen.clear();  // not yet: looked at again on the next output
    } else {
      kill(pid, SIGKILL);
    }
  };
  const double before = wall_seconds();
  const testing::ProcResult r = testing::run_dravik(
      {"--json", "--quick", "--no-klog", "--mem", "16M", "--passes", "0", "--metrics", metrics},
      opts);
  EXPECT_EQ(r.term_signal, SIGKILL) << r.err;
  const std::string text = read_file(metrics);
  EXPECT_EQ(text, seen);
  const std::string start = "\ndravik_run_start_timestamp_seconds" + labels + " ";
  ASSERT_NE(text.find(start), std::string::npos) << text;
  EXPECT_GE(std::stod(text.substr(text.find(start) + start.size())), before);
  // The self-test's series, as it left them.
  std::istringstream lines(finished);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("dravik_last_run_") != std::string::npos) {
      EXPECT_NE(text.find(line + "\n"), std::string::npos) << line << " not kept in\n" << text;
    }
  }
  if (testing::have_program("/usr/bin/promtool")) {
    EXPECT_EQ(testing::promtool_check_metrics(metrics), "");
  }
  const testing::ProcResult unwritable = testing::run_dravik(
      {"--json", "--quick", "--no-klog", "--mem", "16M", "--metrics", dir.sub("none/dravik.prom")});
  EXPECT_EQ(unwritable.exit_code, kRecordsNotWritten);
  const std::string told = "dravik: metrics not written: ";
  EXPECT_NE(unwritable.err.find(told), unwritable.err.rfind(told)) << "told at start and end";
  EXPECT_NE(unwritable.out.find(R"({"event":"summary","verdict":"PASS")"), std::string::npos);
}

// The verdict the records give a fault test, from what it found and how it
// ended: the metrics, the history line and run_outcome agree, and only a run
// that completed and tested memory says PASS.
TEST(RunRecords, VerdictSaysWhatTheRunEndedAs) {
  const struct {
    EndReason reason;
    uint64_t tested;
    int64_t hard, transient;
    bool suspect;
    const char* verdict;
  } rows[] = {
      {EndReason::COMPLETED, 1 << 20, 0, 0, false, "PASS"},
      {EndReason::ALLOC_ABORT, 0, 0, 0, false, "ABORTED"},
      {EndReason::PRESSURE_ABORT, 1 << 20, 0, 0, false, "ABORTED"},
      {EndReason::STRICT_MLOCK_ABORT, 0, 0, 0, false, "ABORTED"},
      {EndReason::THREAD_START_ABORT, 0, 0, 0, false, "ABORTED"},
      {EndReason::COMPLETED, 0, 0, 0, false, "ABORTED"},
      {EndReason::NONE, 1 << 20, 0, 0, false, "ABORTED"},
      {EndReason::USER_STOP, 0, 0, 0, false, "CANCELED"},
      {EndReason::USER_STOP, 1 << 20, 0, 0, false, "CANCELED"},
      {EndReason::HANGUP, 1 << 20, 0, 0, false, "CANCELED"},
      // What a run found is said whatever its end.
      {EndReason::PRESSURE_ABORT, 1 << 20, 1, 0, false, "FAIL"},
      {EndReason::USER_STOP, 1 << 20, 0, 2, false, "PASS_WITH_TRANSIENTS"},
      {EndReason::ALLOC_ABORT, 1 << 20, 0, 1, true, "SUSPECT"},
  };
  for (const auto& row : rows) {
    auto run = testing::make_run();
    run->cfg.mode = RunMode::OFFLINE;
    run->st.end_reason = static_cast<int32_t>(row.reason);
    run->st.total_bytes = row.tested;
    run->faults.shown_hard = row.hard;
    run->faults.shown_transient = row.transient;
    run->st.address_fault_seen = row.suspect ? 1 : 0;
    RunEnd end;
    end.exit_status = run_exit_code(*run);
    const RunOutcome o = run_outcome(*run, end);
    const std::string where = std::string(end_reason_text(static_cast<int32_t>(row.reason))) +
                              ", " + std::to_string(row.tested) + " bytes";
    EXPECT_STREQ(o.verdict, row.verdict) << where;
    EXPECT_NE(run_metrics_text(o).find(std::string(",verdict=\"") + row.verdict + "\"} 1\n"),
              std::string::npos)
        << where;
    const auto line = nlohmann::json::parse(history_line(o), nullptr, false);
    EXPECT_EQ(line.value("verdict", ""), row.verdict) << where;
    EXPECT_EQ(line.value("event", ""), "summary") << where;
    EXPECT_EQ(line.value("covered_total", uint64_t{1}), row.tested) << where;
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
    EXPECT_GT(fread(said, 1, sizeof said - 1, err), 0u);
    fclose(err);
    EXPECT_STREQ(
        said,
        "dravik: history not written: cannot open /nonexistent/history.jsonl: No such file "
        "or directory\ndravik: metrics not written: cannot create a temporary file in "
        "/nonexistent: No such file or directory\n");
  }
}

}  // namespace
}  // namespace dravik
