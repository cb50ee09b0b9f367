// Set-up decisions of a qualification run: how large each worker's arena is
// and how many workers the free memory allows, the pressure floor, and the
// preflight readings (load, busy, CPU frequency).
#pragma once
#include <cstdint>
#include <string>

#include "core/config.h"
#include "memory/probes/cgroup.h"
#include "memory/regions/sizing.h"

namespace dravik {

inline constexpr uint64_t kHclMiB = 1048576;
inline constexpr uint64_t kHclArenaMax = 256 * kHclMiB;
inline constexpr uint64_t kHclArenaWanted = 16 * kHclMiB;  // fewer threads below this
inline constexpr uint64_t kHclArenaMin = 8 * kHclMiB;      // no run below this

struct HclArenaPlan {
  int threads = 1;
  uint64_t per_thread = 0;   // multiple of 2 MiB, at most 256 MiB
  uint64_t reserve = 0;      // bytes kept free: the pressure floor plus the reserve
  bool contended = false;    // available under 40 % of MemTotal
  bool enough = false;       // per_thread reached 8 MiB
  bool space_limited = false;  // the budget was cut to what one process can map
};

// Splits the budget (available minus the pressure floor and the reserve,
// capped by --mem and by what one process can map) over the threads; drops
// threads while an arena would stay under 16 MiB, and gives up when one thread
// would get under 8 MiB. What the arenas leave free never starts below the
// floor the watchdog aborts at.
HclArenaPlan plan_arenas(uint64_t available, uint64_t mem_total, const RunConfig& cfg,
                         int threads, uint64_t space_limit = kProcessTestableBytes);

// The memory the run counts as the box's, which available memory is a share
// of: MemTotal, or the memory cgroups' limit when that is smaller (a
// container on a larger host). bytes 0 when MemTotal is unknown.
struct HclMemoryTotal {
  uint64_t bytes = 0;
  bool from_cgroup = false;
};
HclMemoryTotal hcl_memory_total(uint64_t mem_total, const CgroupPaths& cgroup = {});

// Available memory below which the run aborts: max(reserve, 512 MiB).
uint64_t hcl_pressure_floor(const RunConfig& cfg);

// The 1-minute load average; -1 when the file cannot be read or parsed.
double read_load1(const std::string& path = "/proc/loadavg");
// Busy: a known load above 0.6 x the online CPUs.
bool system_busy(double load1, int cpus);

// One cpufreq file of CPU 0 ("cpuinfo_max_freq", "scaling_cur_freq") in kHz;
// 0 when it cannot be read.
uint64_t read_cpufreq(const std::string& cpufreq_dir, const char* name);
// A saturate round saw throttling: the maximum is known and the current
// frequency is known and under 92 % of it.
bool throttled_sample(uint64_t max_freq, uint64_t cur_freq);

}  // namespace dravik
