// The box's load around the latency chase: fixture /proc/stat and
// /proc/self/stat pairs, then real competing processes.
#include "hcl/rules/busy.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "hcl/inventory/inventory.h"
#include "support/test_support.h"

namespace dravik {
namespace {

TEST(HclBusy, OtherWorkStealOrPressureMakeTheChaseBusy) {
  // 400 ticks pass on the box; this process (a command name with blanks and
  // a ')') uses 100 of them.
  const std::string self0 = "42 (a (b) c) S 1 42 42 0 -1 4194560 100 0 0 0 50 5 0 0 20 0\n";
  const std::string self1 = "42 (a (b) c) S 1 42 42 0 -1 4194560 100 0 0 0 140 15 0 0 20 0\n";
  const std::string stat0 = "cpu  1000 0 500 8000 0 0 0 100 0 0\ncpu0 1 2 3 4\n";
  struct Case {
    const char* name;
    std::string stat1;
    double psi, load1, others_pct;
    bool busy;
  } cases[] = {
      {"only the chase ran", "cpu  1090 0 510 8300 0 0 0 100 0 0\n", 0, 2.5, 0, false},
      {"a neighbour took 200 ticks", "cpu  1290 0 510 8100 0 0 0 100 0 0\n", 0, 2.5, 50, true},
      {"the hypervisor stole 60", "cpu  1090 0 510 8240 0 0 0 160 0 0\n", 0, 2.5, 15, true},
      {"exactly 10 % is quiet", "cpu  1130 0 510 8260 0 0 0 100 0 0\n", 0, 2.5, 10, false},
      {"memory pressure 12 %", "cpu  1090 0 510 8300 0 0 0 100 0 0\n", 12, 2.5, 0, true},
      {"load beyond our 4 threads", "cpu  1090 0 510 8300 0 0 0 100 0 0\n", 0, 6.5, 0, true},
      {"malformed: unknown, not busy", "cpu oops\n", -1, -1, -1, false},
  };
  testing::TempDir dir;
  const CpuTimes before = read_cpu_times(dir.write("stat0", stat0), dir.write("self0", self0));
  for (const Case& c : cases) {
    const CpuTimes after = read_cpu_times(dir.write("stat1", c.stat1), dir.write("self1", self1));
    const BoxLoad load = box_load(before, after, c.psi, c.load1, 4, 4);
    EXPECT_DOUBLE_EQ(load.others_pct, c.others_pct) << c.name;
    EXPECT_EQ(load.busy, c.busy) << c.name;
  }
}

TEST(HclBusy, RealCompetingProcessesAreSeen) {
  // One spinning child per CPU takes far more than a tenth of the box.
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
  auto ticks = [&children] {  // the children's CPU time so far
    uint64_t sum = 0;
    for (const pid_t pid : children) sum += read_cpu_times("/proc/stat", "/proc/" + std::to_string(pid) + "/stat").own;
    return sum;
  };
  // Waits for the state, not a time: the children use 20 ticks between the readings.
  const CpuTimes before = read_cpu_times();
  for (const uint64_t start = ticks(); ticks() < start + 20;) usleep(1000);
  const CpuTimes after = read_cpu_times();
  for (const pid_t pid : children) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  const BoxLoad load = box_load(before, after, -1.0, -1.0, 1, online_cpus());
  EXPECT_GT(load.others_pct, kBusyOthersPct);
  EXPECT_TRUE(load.busy);
}

}  // namespace
}  // namespace dravik
