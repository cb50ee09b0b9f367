#include "app/run/startup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "app/run/run.h"
#include "engine/flush.h"
#include "memory/regions/arena.h"
#include "memory/address/dimm_label.h"
#include "memory/address/phys_map.h"
#include "memory/probes/probes.h"

namespace dravik {

void read_cache_sizes(const std::string& cache_dir, uint64_t sizes[3]) {
  for (int index = 0; index <= 9; ++index) {
    char path[512];
    snprintf(path, sizeof path, "%s/index%d/level", cache_dir.c_str(), index);
    FILE* f = fopen(path, "r");
    if (f == nullptr) break;
    int level = 0;
    if (fscanf(f, "%d", &level) != 1) level = 0;
    fclose(f);
    snprintf(path, sizeof path, "%s/index%d/size", cache_dir.c_str(), index);
    const uint64_t size = read_size_file(path);
    if (level >= 1 && level <= 3 && size > sizes[level - 1]) sizes[level - 1] = size;
  }
}

void write_oom_score_adj(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY);
  if (fd < 0) return;
  const ssize_t ignored = write(fd, "1000\n", 5);
  (void)ignored;
  close(fd);
}

namespace {

// Backs one page, translates it and releases it: physical addresses are
// usable only when the kernel hands out frame numbers and RAM ranges are known.
int32_t probe_physical(Run& run) {
  if (!run.cfg.use_phys) return 0;
  ArenaRegion page = arena_alloc(run.phys.page_size);
  if (page.base == nullptr) return 0;
  *static_cast<volatile uint64_t*>(page.base) = 0x5151;
  const uint64_t vaddr = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(page.base));
  const uint64_t paddr = virt_to_phys(run.phys, vaddr);
  arena_free(page);
  return paddr != 0 && run.phys.ram_ranges.count > 0 ? 1 : 0;
}

}  // namespace

void probe_machine(Run& run) {
  phys_setup(run.phys, run.paths.pagemap, run.paths.iomem);
  read_cache_sizes(run.paths.cpu0_cache, run.st.cache_sizes);
  run.clflush_usable = probe_clflush();
  run.clflushopt = run.clflush_usable && cpu_has_clflushopt() ? 1 : 0;
  run.st.is_root = geteuid() == 0 ? 1 : 0;
  const int64_t total_kb = meminfo_kb("MemTotal", run.paths.meminfo);
  run.st.mem_total = total_kb > 0 ? static_cast<uint64_t>(total_kb) * 1024 : 0;
  run.st.mem_available_start = mem_available_bytes(run.paths.meminfo);
  run.st.phys_ok = probe_physical(run);
  const EdacCounts edac = edac_counts(run.paths.edac_mc);
  run.st.edac_ce_start = edac.ce;
  run.st.edac_ue_start = edac.ue;
  unambiguous_dimm_label(run.paths.edac_mc, run.faults.dimm_label);
}

}  // namespace dravik
