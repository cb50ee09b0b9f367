// The box's load around the latency chase: fixture /proc/stat and
// /proc/self/stat pairs, then real competing processes.
#include "hcl/hcl_busy.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "hcl/inventory.h"
#include "support/test_support.h"

namespace dravik {
namespace {

// The first line of /proc/stat from its eight counters.
std::string stat_line(uint64_t user, uint64_t system, uint64_t idle, uint64_t steal) {
  return "cpu  " + std::to_string(user) + " 0 " + std::to_string(system) + " " +
         std::to_string(idle) + " 0 0 0 " + std::to_string(steal) + " 0 0\ncpu0 1 2 3 4\n";
}

// /proc/self/stat with utime and stime (a command name with blanks and a ')').
std::string self_line(uint64_t utime, uint64_t stime) {
  return "4242 (dravik (x) y) S 1 4242 4242 0 -1 4194560 100 0 0 0 " + std::to_string(utime) +
         " " + std::to_string(stime) + " 0 0 39 19 3 0 100 1000 10\n";
}

TEST(HclBusy, OtherWorkStealOrPressureMakeTheChaseBusy) {
  struct Case {
    const char* name;
    std::string stat0, stat1, self0, self1;
    double psi, load1;
    double others_pct;
    bool busy;
  } cases[] = {
      {"only the chase ran: 100 of 400 ticks are ours", stat_line(1000, 500, 8000, 0),
       stat_line(1090, 510, 8300, 0), self_line(50, 5), self_line(140, 15), 0.0, 2.5, 0.0, false},
      {"a neighbour took 200 of 400 ticks", stat_line(1000, 500, 8000, 0),
       stat_line(1290, 510, 8100, 0), self_line(50, 5), self_line(140, 15), 0.0, 2.5, 50.0, true},
      {"the hypervisor stole 60 of 400 ticks", stat_line(1000, 500, 8000, 100),
       stat_line(1090, 510, 8240, 160), self_line(50, 5), self_line(140, 15), 0.0, 2.5, 15.0, true},
      {"exactly 10 % is still quiet", stat_line(1000, 500, 8000, 0),
       stat_line(1130, 510, 8260, 0), self_line(50, 5), self_line(140, 15), 0.0, 2.5, 10.0, false},
      {"memory pressure 12 %", stat_line(1000, 500, 8000, 0), stat_line(1090, 510, 8300, 0),
       self_line(50, 5), self_line(140, 15), 12.0, 2.5, 0.0, true},
      {"load beyond our 4 threads on 4 CPUs", stat_line(1000, 500, 8000, 0),
       stat_line(1090, 510, 8300, 0), self_line(50, 5), self_line(140, 15), 0.0, 6.5, 0.0, true},
      {"no time passed: unknown, not busy", stat_line(1000, 500, 8000, 0),
       stat_line(1000, 500, 8000, 0), self_line(50, 5), self_line(50, 5), -1.0, -1.0, -1.0, false},
      {"malformed files: unknown, not busy", "cpu oops\n", "intr 5\n", "garbage", "",
       -1.0, -1.0, -1.0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    const CpuTimes before = read_cpu_times(dir.write("stat0", c.stat0), dir.write("self0", c.self0));
    const CpuTimes after = read_cpu_times(dir.write("stat1", c.stat1), dir.write("self1", c.self1));
    const BoxLoad load = box_load(before, after, c.psi, c.load1, 4, 4);
    EXPECT_DOUBLE_EQ(load.others_pct, c.others_pct);
    EXPECT_EQ(load.busy, c.busy);
  }
}

// CPU ticks a process has used so far; 0 when it cannot be read.
uint64_t ticks_of(pid_t pid) {
  const std::string p = "/proc/" + std::to_string(pid) + "/stat";
  CpuTimes t = read_cpu_times("/proc/stat", p);
  return t.ok ? t.own : 0;
}

TEST(HclBusy, RealCompetingProcessesAreSeen) {
  // One spinning child per CPU: whatever else the box runs, they take far
  // more than a tenth of its CPU time.
  std::vector<pid_t> children;
  for (int i = 0; i < online_cpus() && i < 64; ++i) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      volatile uint64_t spins = 0;
      for (;;) spins = spins + 1;
    }
    children.push_back(pid);
  }
  // Wait for the state, not for a time: each child has run, then the
  // children have used 20 ticks between the two readings.
  auto total_ticks = [&children] {
    uint64_t sum = 0;
    for (const pid_t pid : children) sum += ticks_of(pid);
    return sum;
  };
  while (total_ticks() == 0) sched_yield();
  const CpuTimes before = read_cpu_times();
  const uint64_t start = total_ticks();
  while (total_ticks() < start + 20) usleep(1000);
  const CpuTimes after = read_cpu_times();
  for (const pid_t pid : children) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  ASSERT_TRUE(before.ok && after.ok);
  const BoxLoad load = box_load(before, after, -1.0, -1.0, 1, online_cpus());
  EXPECT_GT(load.others_pct, kBusyOthersPct);
  EXPECT_TRUE(load.busy);
}

}  // namespace
}  // namespace dravik
