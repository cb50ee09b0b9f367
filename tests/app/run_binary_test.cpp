// Whole runs of the real binary: verdict lines, exit statuses, signals, the
// self-test, and the aborts a user meets on a busy or restricted box.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>
#include <sched.h>
#include <poll.h>
#include <sys/resource.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "core/text.h"
#include "support/limited_cgroup.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using testing::ProcOptions;
using testing::run_dravik;

bool has(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

// The summary event of a --json run (an empty object when there is none).
nlohmann::json json_summary(const std::string& out) {
  std::istringstream lines(out);
  std::string line;
  nlohmann::json summary = nlohmann::json::object();
  while (std::getline(lines, line)) {
    const auto j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_discarded() && j.value("event", "") == "summary") summary = j;
  }
  return summary;
}

// Sends sig to the child once its output holds text (an on_output callback).
std::function<void(pid_t, const std::string&)> signal_once_out(int sig, const std::string& text) {
  return [sig, text, sent = false](pid_t pid, const std::string& out) mutable {
    if (sent || out.find(text) == std::string::npos) return;
    kill(pid, sig);
    sent = true;
  };
}

TEST(RunBinary, QuickProductionRunPassesWithTheSummary) {
  const auto r = run_dravik({"--quick", "--mem", "256M"});
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(has(r.out, "\x1b[2J\x1b[H\nDravik v0.6.0\n")) << "summary on a cleared screen";
  EXPECT_TRUE(has(r.out, " Verdict        : PASS\n"));
  EXPECT_TRUE(has(r.out, " Mode/Profile   : PRODUCTION / quick\n"));
  EXPECT_TRUE(has(r.out, " Tested         : 256.00MiB (target 256.00MiB)"));
  EXPECT_TRUE(has(r.out, " End reason     : completed\n"));
  EXPECT_TRUE(has(r.out, "\x1b[?25h")) << "the cursor is shown again";
}

TEST(RunBinary, StartEventReportsTheMemoryLeftUntested) {
  const auto r = run_dravik({"--json", "--quick", "--mem", "64M", "--no-klog"});
  EXPECT_EQ(r.exit_code, 0);
  const auto start = nlohmann::json::parse(r.out.substr(0, r.out.find('\n')), nullptr, false);
  ASSERT_FALSE(start.is_discarded());
  ASSERT_EQ(start.value("event", ""), "start");
  const uint64_t total = start.value("mem_total", uint64_t{0});
  ASSERT_GT(total, 64ull << 20);
  EXPECT_EQ(start.value("reserved", uint64_t{0}), total - (64ull << 20));
}

TEST(RunBinary, BudgetBelowEightMebibytesAbortsWithStatusThree) {
  const auto r = run_dravik({"--quick", "--mem", "4M", "--no-klog"});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_TRUE(has(r.out, " End reason     : aborted: could not allocate test memory\n"));
  EXPECT_TRUE(has(r.out, " Tested         : 0B (target 4.00MiB)"));
}

TEST(RunBinary, InterruptAndTerminateStopThePassAndKeepTheSummary) {
  for (int sig : {SIGINT, SIGTERM}) {
    ProcOptions opts;
    opts.on_output = signal_once_out(sig, "Pass 1/");  // the dashboard of a pass under way
    const auto r = run_dravik({"--passes", "0", "--mem", "512M", "--no-klog"}, opts);
    ASSERT_FALSE(r.timed_out) << sig;
    EXPECT_EQ(r.term_signal, 0) << "no forced exit";
    EXPECT_EQ(r.exit_code, 0) << sig;
    EXPECT_TRUE(has(r.out, " Verdict        : SO FAR ... TEST CANCELED\n")) << sig;
    EXPECT_TRUE(has(r.out, " End reason     : stopped by user\n")) << sig;
  }
}

TEST(RunBinary, StrictAbortsWhenTheLockIsRefused) {
  ProcOptions opts;
  opts.as_nobody = true;
  opts.memlock_limit = 1 << 20;
  const auto r = run_dravik({"--strict", "--quick", "--mem", "64M", "--no-klog"}, opts);
  EXPECT_EQ(r.exit_code, 3) << r.err;
  EXPECT_TRUE(has(r.out, " End reason     : aborted: mlock failed in --strict mode\n"));
  EXPECT_TRUE(has(r.out, " Phys mapping   : no   mlock: no"));
}

TEST(RunBinary, UnprivilegedRunWorksWithoutPhysicalAddresses) {
  ProcOptions opts;
  opts.as_nobody = true;
  const auto r = run_dravik({"--quick", "--mem", "32M"}, opts);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(has(r.out, " Phys mapping   : no   mlock: no")) << "8 MiB lock limit: unlocked";
  EXPECT_TRUE(has(r.out, " End reason     : completed\n"));
}

TEST(RunBinary, SelfTestPassesAsRootAndAsAnOrdinaryUser) {
  const auto root = run_dravik({"--selftest", "--hard-threshold", "5", "--no-phys"});
  EXPECT_EQ(root.exit_code, 0) << root.out;
  EXPECT_EQ(root.out.rfind("dravik --selftest: fault-injection validation\n"
                           "  injected 1-bit flip at word 1048576\n"
                           "  detected: vaddr=0x",
                           0),
            0u)
      << root.out;
  EXPECT_TRUE(has(root.out, " xor=0x0000000000000008 bits=1 class=HARD count=2\n  result: PASS\n"));
  if (testing::is_root()) {
    EXPECT_FALSE(has(root.out, " paddr=0x0 ")) << "root sees the physical address";
  }
  ProcOptions nobody;
  nobody.as_nobody = true;
  const auto user = run_dravik({"--selftest"}, nobody);
  EXPECT_EQ(user.exit_code, 0) << user.out;
  EXPECT_TRUE(has(user.out, " paddr=0x0 xor=0x0000000000000008 bits=1 class=HARD count=2\n"));
  EXPECT_TRUE(has(user.out, "  result: PASS\n"));
}

TEST(RunBinary, SelfTestWithoutItsBufferFails) {
  if (testing::sanitized_build()) GTEST_SKIP() << "sanitizers need an unlimited address space";
  ProcOptions opts;
  opts.address_space_limit = 12l << 20;
  const auto r = run_dravik({"--selftest"}, opts);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out,
            "dravik --selftest: fault-injection validation\n"
            "  FAIL: could not allocate test buffer\n");
}

TEST(OfflineBinaryThreads, TwoWorkersCompleteTwoPasses) {
  const auto r = run_dravik({"--full", "--threads", "2", "--quick", "--mem", "512M", "--passes", "2"});
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(has(r.out, " Mode/Profile   : OFFLINE / quick\n"));
  EXPECT_TRUE(has(r.out, " Tested         : 1.00GiB (target 512.00MiB)"));
  EXPECT_TRUE(has(r.out, " End reason     : completed\n"));
}

// Scheduling policy and nice value of one thread of a process, from its
// /proc stat line (fields 41 and 19; the command name may hold blanks).
struct ThreadSched {
  int policy = -1;
  int nice = 99;
};
std::vector<ThreadSched> thread_scheds(pid_t pid) {
  std::vector<ThreadSched> out;
  const std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return out;
  while (const dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream f(dir + "/" + e->d_name + "/stat");
    std::string line;
    std::getline(f, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    std::vector<std::string> fields;  // fields[0] is field 3
    for (std::string word; rest >> word;) fields.push_back(word);
    if (fields.size() < 39) continue;
    out.push_back({std::stoi(fields[38]), std::stoi(fields[16])});
  }
  closedir(d);
  return out;
}

std::string read_first_line(const std::string& path) {
  std::ifstream f(path);
  std::string line;
  std::getline(f, line);
  return line;
}

// The polite-neighbour promise on a live box: runs that test memory take the
// idle class at nice 19 on every thread, every mode volunteers to the OOM
// killer, and the benchmark keeps its normal priority to measure honestly.
TEST(RunBinary, TestingRunsYieldToTheBoxAndEveryModeVolunteersToTheOomKiller) {
  struct Case {
    std::vector<std::string> args;
    size_t threads;  // threads to see before sampling
    int policy;
    int nice;
  };
  const int own_nice = getpriority(PRIO_PROCESS, 0);
  const Case cases[] = {
      {{"--quick", "--mem", "256M", "--passes", "0", "--no-klog", "--json"}, 1, SCHED_IDLE, 19},
      {{"--full", "--threads", "2", "--quick", "--mem", "256M", "--passes", "0", "--no-klog", "--json"},
       3, SCHED_IDLE, 19},
      {{"--bench", "--mem", "1G", "--no-klog", "--json"}, 1, SCHED_OTHER, own_nice},
  };
  for (const Case& c : cases) {
    std::vector<ThreadSched> seen;
    std::string oom;
    ProcOptions opts;
    opts.on_started = [&](pid_t pid) {
      // Sample once the settings are made and the workers run.
      const double deadline = now_seconds() + 20.0;
      while (now_seconds() < deadline) {
        seen = thread_scheds(pid);
        oom = read_first_line("/proc/" + std::to_string(pid) + "/oom_score_adj");
        bool settled = oom == "1000" && seen.size() >= c.threads;
        for (const ThreadSched& t : seen) settled = settled && t.policy == c.policy;
        if (settled) break;
        usleep(20000);
      }
      kill(pid, SIGINT);
    };
    const auto r = run_dravik(c.args, opts);
    const std::string what = c.args.front();
    ASSERT_FALSE(r.timed_out) << what;
    EXPECT_EQ(oom, "1000") << what;
    ASSERT_GE(seen.size(), c.threads) << what;
    for (const ThreadSched& t : seen) {
      EXPECT_EQ(t.policy, c.policy) << what;
      EXPECT_EQ(t.nice, c.nice) << what;
    }
  }
}

// OFFLINE under a per-user process limit, so that the kernel refuses some or
// all of the worker threads. The run as nobody is the one a user meets; the
// partial case runs under a user id of its own, since every process of
// nobody on the box counts against the same limit.
TEST(OfflineBinaryWorkerLimit, NoWorkerStartedAbortsAndSomeStartedGoOn) {
  if (!testing::is_root()) GTEST_SKIP() << "changes user";
  if (testing::sanitized_build()) GTEST_SKIP() << "sanitizer runtimes need threads of their own";
  struct Case {
    std::vector<std::string> as_user;  // runs the binary as another user
    const char* nproc;
    const char* passes;
    int exit_code;
    const char* end_reason;
    uint64_t covered;
  };
  const std::vector<std::string> nobody = {"/usr/sbin/runuser", "-u", "nobody", "--"};
  const std::vector<std::string> own_uid = {"/usr/bin/setpriv", "--reuid=48213", "--regid=48213",
                                            "--clear-groups"};
  const Case cases[] = {
      {nobody, "1:1", "3", 3, "aborted: could not start worker threads", 0},
      {nobody, "1:1", "0", 3, "aborted: could not start worker threads", 0},  // no endless loop
      {own_uid, "2:2", "2", 0, "completed", 128ull << 20},  // one of three workers starts
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = c.as_user;
    for (const std::string& a :
         {std::string("/usr/bin/prlimit"), std::string("--nproc=") + c.nproc, testing::dravik_binary(),
          std::string("--json"), std::string("--full"), std::string("--threads"), std::string("3"),
          std::string("--quick"), std::string("--mem"), std::string("64M"), std::string("--no-klog"),
          std::string("--passes"), std::string(c.passes)}) {
      argv.push_back(a);
    }
    ProcOptions opts;
    opts.timeout_s = 30;
    const auto r = testing::run_process(argv, opts);
    const std::string what = std::string(c.nproc) + " passes " + c.passes;
    ASSERT_FALSE(r.timed_out) << what;
    EXPECT_EQ(r.exit_code, c.exit_code) << what << r.err;
    const auto summary = json_summary(r.out);
    EXPECT_EQ(summary.value("end_reason", ""), c.end_reason) << what;
    EXPECT_EQ(summary.value("verdict", ""), "PASS") << what;
    EXPECT_EQ(summary.value("covered_total", uint64_t{1}), c.covered) << what;
  }
}

// A process on the box that takes memory the way a service would: it joins
// the group at cgroup, maps and locks `mib` and holds it until it is killed.
// Returns once the memory is held (-1 when the hog could not take it).
pid_t start_memory_hog(size_t mib, const std::string& cgroup) {
  int held[2];
  if (pipe(held) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(held[0]);
    const size_t bytes = mib << 20;
    if (!testing::join_cgroup(cgroup)) _exit(1);
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    // Through the system call: the sanitizer runtimes replace mlock with a
    // call that locks nothing.
    if (p == MAP_FAILED || syscall(SYS_mlock, p, bytes) != 0) _exit(1);
    if (write(held[1], "h", 1) != 1) _exit(1);
    for (;;) pause();
  }
  close(held[1]);
  char byte = 0;
  pollfd ready{held[0], POLLIN, 0};
  const bool holds = pid > 0 && poll(&ready, 1, 60000) == 1 && read(held[0], &byte, 1) == 1;
  close(held[0]);
  if (pid > 0 && !holds) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  return pid;
}

void end_memory_hog(pid_t hog) {
  if (hog <= 0) return;
  kill(hog, SIGKILL);
  waitpid(hog, nullptr, 0);
}

// The JSON lines of a run's output so far that are whole events named event.
std::vector<nlohmann::json> events_of(const std::string& out, const std::string& event) {
  std::vector<nlohmann::json> found;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const auto j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_discarded() && j.value("event", "") == event) found.push_back(j);
  }
  return found;
}

// OFFLINE runs in a memory group of their own of 4 GiB, with a reserve of
// 2 GiB: 2 GiB of headroom for a budget of 256 MiB, whatever the rest of the
// box does to its memory. The run itself takes up to 1.3 GiB of the group in
// a thread-sanitizer build (its shadow memory). Once the run has laid out its
// budget, a hog in the same group locks the 2 GiB of headroom: what is left
// falls below the reserve, and the group still holds the run and the hog.
class OfflinePressureThreads : public ::testing::Test {
 protected:
  static constexpr uint64_t kGroupLimit = 4096ull << 20;
  static constexpr size_t kHogMiB = 2048;
  void SetUp() override {
    if (!testing::is_root()) GTEST_SKIP() << "the group and the hog need root";
    group_ = std::make_unique<testing::LimitedCgroup>(kGroupLimit);
    if (group_->dir().empty()) GTEST_SKIP() << "no memory cgroup can be made here";
  }
  std::vector<std::string> args() const {
    return {"--json", "--full", "--threads", "2", "--quick", "--passes", "0", "--chunk", "64",
            "--mem",  "256M", "--no-klog", "--reserve", "2048"};
  }
  std::unique_ptr<testing::LimitedCgroup> group_;
};

TEST_F(OfflinePressureThreads, MemoryTakenByAnotherProcessAbortsAfterTheWaits) {
  pid_t hog = 0;
  ProcOptions opts;
  opts.timeout_s = 240;
  opts.cgroup = group_->dir();
  opts.on_output = [&](pid_t pid, const std::string& out) {
    if (hog != 0 || events_of(out, "map").empty()) return;
    hog = start_memory_hog(kHogMiB, group_->dir());
    if (hog < 0) kill(pid, SIGINT);
  };
  const auto r = run_dravik(args(), opts);
  end_memory_hog(hog);
  ASSERT_GT(hog, 0) << "the hog could not lock its memory";
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 3) << r.err;
  const auto summary = json_summary(r.out);
  EXPECT_EQ(summary.value("end_reason", ""), "aborted: system memory pressure limits exceeded");
  EXPECT_GT(summary.value("duration", 0.0), 10.0) << "the workers waited their ten seconds";
}

// The hog holds its memory for three of the workers' ten seconds of waits
// (from the moment it holds it), then lets go: the run takes memory again and
// goes on until it is stopped.
TEST_F(OfflinePressureThreads, MemoryGivenBackWithinTheWaitsLetsTheRunGoOn) {
  constexpr double kHold = 3.0;
  pid_t hog = 0;
  double held_since = 0.0;
  int64_t pass_at_release = -1;
  bool stopped = false;
  ProcOptions opts;
  opts.cgroup = group_->dir();
  opts.on_output = [&](pid_t pid, const std::string& out) {
    if (stopped) return;
    if (hog == 0 && !events_of(out, "map").empty()) {
      hog = start_memory_hog(kHogMiB, group_->dir());
      held_since = now_seconds();
      if (hog < 0) {
        kill(pid, SIGINT);
        stopped = true;
        return;
      }
    }
    if (hog <= 0) return;
    const auto progress = events_of(out, "progress");
    if (progress.empty()) return;
    const nlohmann::json& last = progress.back();
    if (pass_at_release < 0 && now_seconds() - held_since >= kHold) {
      end_memory_hog(hog);
      pass_at_release = last.value("pass", int64_t{0});
    } else if (pass_at_release >= 0 && last.value("pass", int64_t{0}) > pass_at_release &&
               last.value("covered", uint64_t{0}) > 0) {
      kill(pid, SIGINT);  // a later pass tests memory again
      stopped = true;
    }
  };
  const auto r = run_dravik(args(), opts);
  if (pass_at_release < 0) end_memory_hog(hog);
  ASSERT_GT(hog, 0) << "the hog could not lock its memory";
  ASSERT_FALSE(r.timed_out);
  EXPECT_TRUE(stopped) << "no pass went on after the memory came back";
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const auto summary = json_summary(r.out);
  EXPECT_EQ(summary.value("end_reason", ""), "stopped by user");
  EXPECT_GT(summary.value("duration", 0.0), kHold);
}

}  // namespace
}  // namespace dravik
