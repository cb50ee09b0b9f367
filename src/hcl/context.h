// What a qualification run works with: its settings, the files it reads, the
// output it reports to and two hooks into the kernel-log monitor. The
// qualification never sees the rest of the program; the application builds
// this context, tests build one over fixture files.
//
// "HCL", in --hcl, in hcl/ and in every Hcl name, is the hardware
// compatibility list: the run qualifies the installed memory kit for it (a
// mixed kit's result is "not submittable"), and the Hcl prefix marks what
// belongs to that qualification.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "core/config.h"
#include "memory/probes/cgroup.h"
#include "memory/address/phys_map.h"

namespace dravik {

class HclOutput;

// Files and directories read by the qualification (tests point them at
// fixtures).
struct HclPaths {
  std::string meminfo = "/proc/meminfo";
  std::string loadavg = "/proc/loadavg";
  std::string proc_stat = "/proc/stat";
  std::string self_stat = "/proc/self/stat";
  std::string psi_memory = "/proc/pressure/memory";
  std::string cpufreq_dir = "/sys/devices/system/cpu/cpu0/cpufreq";
  std::string edac_mc = "/sys/devices/system/edac/mc";
  std::string node_dir = "/sys/devices/system/node";
  std::string dmi_table = "/sys/firmware/dmi/tables/DMI";
  CgroupPaths cgroup;
};

struct HclContext {
  HclContext(const RunConfig& config, HclOutput& output) : cfg(config), out(output) {}

  RunConfig cfg;
  HclPaths paths;
  HclOutput& out;
  // MemTotal in bytes as start-up read it; 0 when unknown.
  uint64_t mem_total = 0;
  // The run's page size: the TLB walk's stride and the kernel's page map in
  // the unused module rule (16 or 64 KiB on some ARM kernels).
  uint64_t page_size = system_page_size();
  // 1 when start-up's probe found the cache flush usable: the re-read of a
  // bit error then comes from memory; 0 (a kernel that forbids cache
  // maintenance from user space) re-reads after a fence only.
  int32_t flush_usable = 0;
  // Reads the pending /dev/kmsg records; empty when that descriptor is not
  // open (the other log sources are read once at start and never polled).
  std::function<void()> klog_drain;
  // The kernel-log monitor's critical-event counter; empty reads as 0.
  std::function<int64_t()> klog_crit;
};

// The hooks, safe to call when empty.
inline void hcl_klog_drain(const HclContext& ctx) {
  if (ctx.klog_drain) ctx.klog_drain();
}
inline int64_t hcl_klog_crit(const HclContext& ctx) { return ctx.klog_crit ? ctx.klog_crit() : 0; }

}  // namespace dravik
