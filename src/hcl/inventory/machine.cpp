// The machine around the kit: online processors, NUMA nodes, the number of
// workers, and a run's inventory taken from them and the table.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "hcl/inventory/inventory.h"

namespace dravik {

namespace {
constexpr int kMaxNumaProbe = 64;
constexpr int kMaxWorkers = 64;
}  // namespace

int online_cpus() {
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  if (n < 1) return 1;
  return n > 4096 ? 4096 : static_cast<int>(n);
}

// Node directories are numbered from 0 without gaps, except that some
// machines with memory-less first sockets have no node0.
int count_numa_nodes(const std::string& node_dir) {
  int count = 0;
  for (int n = 0; n < kMaxNumaProbe; ++n) {
    char path[512];
    snprintf(path, sizeof path, "%s/node%d", node_dir.c_str(), n);
    struct stat st;
    if (stat(path, &st) == 0) {
      ++count;
    } else if (n != 0) {
      break;
    }
  }
  return std::max(count, 1);
}

int hcl_worker_count(const RunConfig& cfg, int cpus) {
  const int wanted = cfg.threads_given ? cfg.threads : std::max(cpus, 1);
  return std::clamp(wanted, 1, kMaxWorkers);
}

void take_memory_inventory(const RunConfig& cfg, MemoryInventory& inv, JedecReference& ref,
                           const std::string& dmi_path, const std::string& node_dir) {
  inv.cpus = online_cpus();
  inv.numa_nodes = count_numa_nodes(node_dir);
  read_memory_inventory(cfg.jedec_gbs, inv, ref, dmi_path);
}

}  // namespace dravik
