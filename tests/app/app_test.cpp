// How the program ends when its surroundings fail it: the terminal hangs up,
// standard output cannot be written, or an exception reaches the top. Each
// ends with a status that tells it, and the records say the same.
#include "app/app.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <new>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/run/run.h"
#include "core/output_check.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using testing::ProcOptions;
using testing::run_dravik;
using testing::TempDir;

std::string read_file(const std::string& path) {
  std::ifstream f(path);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The metrics series of the exit status, as the file has it.
std::string metrics_exit_status(const std::string& metrics) {
  std::istringstream lines(read_file(metrics));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("dravik_last_run_exit_status{", 0) == 0) return line.substr(line.rfind(' ') + 1);
  }
  return "none";
}

TEST(ProgramEnd, HangupWindsDownWithItsOwnReasonAndKeepsTheRecords) {
  TempDir dir;
  const std::string metrics = dir.sub("dravik.prom"), history = dir.sub("history.jsonl");
  ProcOptions opts;
  opts.on_output = [sent = false](pid_t pid, const std::string& out) mutable {
    if (sent || out.find("\"event\":\"start\"") == std::string::npos) return;
    kill(pid, SIGHUP);
    sent = true;
  };
  const auto r = run_dravik({"--json", "--quick", "--passes", "0", "--mem", "64M", "--no-klog",
                             "--metrics", metrics, "--history", history},
                            opts);
  ASSERT_FALSE(r.timed_out);
  ASSERT_EQ(r.term_signal, 0) << "ended by the hangup itself";
  EXPECT_EQ(r.exit_code, 0) << r.err;
  nlohmann::json summary;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    const auto j = nlohmann::json::parse(line, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << line;
    if (j.value("event", "") == "summary") summary = j;
  }
  EXPECT_EQ(summary.value("end_reason", ""), "stopped: terminal hung up") << r.out;
  EXPECT_NE(read_file(metrics).find(",reason=\"hangup\"} 1\n"), std::string::npos);
  EXPECT_EQ(metrics_exit_status(metrics), "0");
  const auto kept = nlohmann::json::parse(read_file(history), nullptr, false);
  ASSERT_FALSE(kept.is_discarded());
  EXPECT_EQ(kept.value("end_reason", ""), "stopped: terminal hung up");
}

// The binary with its standard output on a device: /dev/full refuses every
// write (as a full disk does), /dev/null takes them all.
TEST(ProgramEnd, OutputThatCannotBeWrittenIsToldAndFailsACleanRun) {
  TempDir dir;
  const std::string metrics = dir.sub("dravik.prom");
  const std::string told = "dravik: output not written: No space left on device\n";
  const struct Case {
    std::vector<std::string> args;
    const char* device;
    int exit;
  } cases[] = {
      {{"--version"}, "/dev/full", kOutputNotWritten},
      {{"--help"}, "/dev/full", kOutputNotWritten},
      {{"--selftest", "--metrics", metrics}, "/dev/full", kOutputNotWritten},
      {{"--json", "--quick", "--mem", "16M", "--no-klog", "--metrics", metrics}, "/dev/full",
       kOutputNotWritten},
      {{"--quick", "--mem", "16M", "--no-klog", "--metrics", metrics}, "/dev/full",
       kOutputNotWritten},  // the console summary
      {{"--quick", "--mem", "4M", "--no-klog", "--metrics", metrics}, "/dev/full", 3},
      {{"--json", "--quick", "--mem", "16M", "--no-klog", "--metrics", metrics}, "/dev/null", 0},
  };
  for (const Case& c : cases) {
    unlink(metrics.c_str());
    std::vector<std::string> argv{"/bin/sh", "-c", std::string("exec \"$0\" \"$@\" >") + c.device,
                                  testing::dravik_binary()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const auto r = testing::run_process(argv);
    const std::string name = c.args[0] + " " + c.args.back() + " > " + c.device;
    ASSERT_FALSE(r.timed_out) << name;
    EXPECT_EQ(r.exit_code, c.exit) << name << "\n" << r.err;
    const bool lost = std::string(c.device) == "/dev/full";
    EXPECT_EQ(count(r.err, "dravik: output not written: "), lost ? 1u : 0u) << name << r.err;
    if (lost) {
      EXPECT_NE(r.err.find(told), std::string::npos) << name << r.err;
    }
    if (c.args.back() == metrics) {
      EXPECT_EQ(metrics_exit_status(metrics), std::to_string(c.exit)) << name;
    }
  }
}

// The program in a child of this process with a seam that throws inside the
// run, on the main thread; its standard error is returned beside its status.
struct Ended {
  int status = -1;
  std::string err;
};
Ended run_throwing(const std::function<void()>& thrower) {
  TempDir dir;
  const std::string err = dir.sub("stderr");
  const pid_t pid = fork();
  if (pid == 0) {
    if (freopen("/dev/null", "w", stdout) == nullptr ||
        freopen(err.c_str(), "w", stderr) == nullptr) {
      _exit(120);
    }
    auto run = testing::make_run();
    run->after_flush = [&thrower](const TestBlock&) { thrower(); };
    const char* const argv[] = {"dravik", "--json", "--quick", "--mem", "16M", "--no-klog"};
    _exit(run_program(*run, 6, argv));
  }
  int status = 0;
  waitpid(pid, &status, 0);
  Ended e;
  e.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  e.err = read_file(err);
  return e;
}

TEST(ProgramEnd, AnExceptionInsideTheRunEndsItWithAnInternalError) {
  const struct {
    std::function<void()> thrower;
    const char* told;
  } cases[] = {
      {[] { throw std::bad_alloc(); }, "dravik: internal error: std::bad_alloc\n"},
      {[] { throw 7; }, "dravik: internal error: unknown exception\n"},
  };
  for (const auto& c : cases) {
    const Ended e = run_throwing(c.thrower);
    EXPECT_EQ(e.status, kInternalError) << c.told;
    EXPECT_EQ(e.err, c.told);
  }
}

}  // namespace
}  // namespace dravik
