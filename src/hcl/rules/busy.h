// Whether the box was busy while the latency chase ran. Other work only ever
// adds latency: processes that take CPU time beside the chase, a hypervisor
// that steals it, or memory pressure. The chase's jitter is judged only when
// none of them was there; the figures come from the kernel's CPU accounting
// read before and after the chase.
#pragma once
#include <cstdint>
#include <string>

namespace dravik {

// CPU time in clock ticks: the whole box (first line of /proc/stat) and this
// process (all its threads, /proc/self/stat).
struct CpuTimes {
  uint64_t total = 0;  // every state summed
  uint64_t busy = 0;   // user, nice, system, irq, softirq and steal
  uint64_t steal = 0;  // taken by the hypervisor
  uint64_t own = 0;    // this process's user and system time
  bool ok = false;     // both files read
};

CpuTimes read_cpu_times(const std::string& stat_path = "/proc/stat",
                        const std::string& self_stat_path = "/proc/self/stat");

// Shares of the box's CPU time beyond which other work disturbs the chase,
// and the memory-pressure share (some avg10) beyond which stalls do.
inline constexpr double kBusyOthersPct = 10.0;
inline constexpr double kBusyPsiPct = 10.0;
// Load average beyond this run's own workers, per CPU.
inline constexpr double kBusyLoadPerCpu = 0.6;

struct BoxLoad {
  double others_pct = -1.0;  // CPU time of other processes and the hypervisor, -1 unknown
  double steal_pct = -1.0;   // of which the hypervisor took, -1 unknown
  double psi_mem10 = -1.0;   // memory pressure at the end, -1 unknown
  double load1 = -1.0;       // load average at the end, -1 unknown
  bool busy = false;
};

// The load between two readings: busy when other work took more than
// kBusyOthersPct of the box's CPU time, memory pressure is above kBusyPsiPct,
// or the load average less this run's `own_threads` is above kBusyLoadPerCpu
// per CPU. Unknown figures never make the box busy.
BoxLoad box_load(const CpuTimes& before, const CpuTimes& after, double psi_mem10, double load1,
                 int own_threads, int cpus);

}  // namespace dravik
