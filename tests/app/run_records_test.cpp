// Whole runs and the records they leave: a pass of the real binary, and the
// program in a child of this process (so seams can plant what a box would do)
// with a fault, a Ctrl-C and a memory-pressure abort. Each leaves metrics that promtool has nothing to
// say about and that a real prometheus-node-exporter serves (both when
// installed), and one more history line. A record that cannot be written is
// told, and fails only a run that found nothing.
#include "app/run_records.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <nlohmann/json.hpp>

#include "app/app.h"
#include "app/run.h"
#include "core/text.h"
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
       0, "PASS", "user_stop", "stopped by user"},
      // Memory falls to 6 MiB once the first region is tested: the other
      // workers wait for it ten seconds and give up.
      {{"--full", "--threads", "2", "--chunk", "16", "--mem", "64M", "--reserve", "0"},
       [&](dravik::Run& run) {
         run.paths.meminfo = meminfo.path();
         run.after_flush = [&](const TestBlock&) {
           if (!once.exchange(true)) meminfo.set_available_mib(6);
         };
       },
       3, "PASS", "pressure_abort", "aborted: system memory pressure limits exceeded"},
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
