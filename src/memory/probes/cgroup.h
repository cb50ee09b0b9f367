// The memory limit of the process's control group. Inside a container or a
// service with a memory cap the kernel's MemAvailable describes the host, not
// what this process may take: locking past the group's limit gets the process
// killed by the group's OOM killer. Both cgroup versions are read: v2
// (memory.max, memory.current) and the v1 memory controller
// (memory.limit_in_bytes, memory.usage_in_bytes).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace dravik {

struct CgroupPaths {
  std::string proc_cgroup = "/proc/self/cgroup";
  std::string mountinfo = "/proc/self/mountinfo";
};

// One memory cgroup hierarchy the process belongs to.
struct MemoryCgroup {
  std::string dir;    // the process's group in the mounted hierarchy
  std::string mount;  // where the hierarchy is mounted; the walk up stops here
  bool v2 = false;
};

// The process's memory cgroups, found through its cgroup list and the mount
// table: the v1 memory controller's group and the v2 group, where mounted.
// A group outside the mounted part of its hierarchy (a path with "..") is
// left out.
std::vector<MemoryCgroup> memory_cgroups(const CgroupPaths& paths = {});

// Bytes the memory cgroups still let the process take: the smallest limit
// minus usage over its group and every ancestor up to the mount (a parent's
// limit caps its children too), 0 when usage has reached a limit. "max", a
// missing or malformed limit mean no cap at that level; a limit whose usage
// cannot be read caps at the limit itself. UINT64_MAX when nothing caps.
uint64_t cgroup_memory_headroom(const CgroupPaths& paths = {});

// The memory the cgroups let the process have at all: the smallest limit over
// its group and every ancestor up to the mount, UINT64_MAX when nothing caps.
// Inside a memory-capped container this, not the host's MemTotal, is the
// total that available memory is a share of.
uint64_t cgroup_memory_limit(const CgroupPaths& paths = {});

}  // namespace dravik
