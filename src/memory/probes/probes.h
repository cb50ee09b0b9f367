// Stateless readers of the kernel's memory statistics. Each call opens, reads
// and closes its file, so every reading reflects the machine as it is now;
// any thread may call them at any time. None of them fails the run: each has
// a fixed value meaning "not available", and a short or malformed line is
// treated like a missing value.
#pragma once
#include <cstdint>
#include <string>

#include "memory/probes/cgroup.h"

namespace dravik {

// A /proc/meminfo field in kB; -1 when the file, the field or its number is
// missing. The key must be the whole field name: "MemFree" does not match a
// line "MemFreeX: 5 kB".
int64_t meminfo_kb(const char* key, const std::string& path = "/proc/meminfo");

// MemAvailable in bytes, MemFree when the kernel has no MemAvailable, 0 when
// neither is readable; saturates rather than overflowing. Capped by the
// headroom of the process's memory cgroups, so that every region sized from
// it fits under a container's or a service's memory limit.
uint64_t mem_available_bytes(const std::string& path = "/proc/meminfo",
                             const CgroupPaths& cgroup = {});

// The "some avg10" memory-pressure share in percent; -1.0 when the kernel
// has no pressure stall information or the line does not parse.
double psi_some_avg10(const std::string& path = "/proc/pressure/memory");

// Corrected and uncorrected error totals over the EDAC memory controllers
// mc0..mc31 (stopping at the first controller without ce_count). -1/-1 when
// there is no mc0, i.e. no EDAC on this machine.
struct EdacCounts {
  int64_t ce = -1;
  int64_t ue = -1;
};
EdacCounts edac_counts(const std::string& mc_dir = "/sys/devices/system/edac/mc");

// A size file such as a CPU cache "size" ("32K", "8192K", "1M", "512");
// K multiplies by 1024, M by 1048576. 0 when not available.
uint64_t read_size_file(const std::string& path);

}  // namespace dravik
