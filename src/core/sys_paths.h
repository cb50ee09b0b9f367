// Where the run reads the kernel's files. Production uses the defaults; tests
// point a run at fixture files and directories.
#pragma once
#include <string>

namespace dravik {

struct SysPaths {
  std::string meminfo = "/proc/meminfo";
  std::string iomem = "/proc/iomem";
  std::string pagemap = "/proc/self/pagemap";
  std::string psi_memory = "/proc/pressure/memory";
  std::string edac_mc = "/sys/devices/system/edac/mc";
  std::string cpu0_cache = "/sys/devices/system/cpu/cpu0/cache";
  std::string oom_score_adj = "/proc/self/oom_score_adj";
  std::string kmsg = "/dev/kmsg";
  std::string dmesg_log = "/var/log/dmesg";
};

}  // namespace dravik
