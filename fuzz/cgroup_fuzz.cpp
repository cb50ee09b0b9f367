// The memory cgroup lookup: the input, cut at its first NUL byte, is the
// process's cgroup list and the mount table.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_input.h"
#include "memory/probes/cgroup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static dravik::fuzz::MemFile proc_cgroup;
  static dravik::fuzz::MemFile mountinfo;
  const auto* nul = static_cast<const uint8_t*>(memchr(data, '\0', size));
  const size_t first = nul ? static_cast<size_t>(nul - data) : size;
  proc_cgroup.set(data, first);
  mountinfo.set(nul ? nul + 1 : data + size, nul ? size - first - 1 : 0);
  const dravik::CgroupPaths paths{proc_cgroup.path(), mountinfo.path()};
  dravik::memory_cgroups(paths);
  dravik::cgroup_memory_headroom(paths);
  dravik::cgroup_memory_limit(paths);
  return 0;
}
