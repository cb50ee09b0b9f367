// Start-up of a qualification run: the kit's inventory, one arena per worker
// sized from the free memory, the pool of pinned workers, the readings the
// verdict compares against, and the header.
#include "core/run/flags.h"
#include "hcl/output.h"
#include "hcl/phases/phases.h"
#include "hcl/rules/schedule.h"
#include "hcl/rules/setup.h"
#include "memory/probes/probes.h"

namespace dravik {

bool hcl_startup(HclSession& s) {
  const RunConfig& cfg = s.ctx.cfg;
  HclRun& run = s.run;
  take_memory_inventory(cfg, s.inv, s.ref, s.ctx.paths.dmi_table, s.ctx.paths.node_dir);
  run.tier = cfg.hcl_tier;
  run.base_seed = cfg.seed;

  const uint64_t available = mem_available_bytes(s.ctx.paths.meminfo, s.ctx.paths.cgroup);
  const HclMemoryTotal total = hcl_memory_total(s.ctx.mem_total, s.ctx.paths.cgroup);
  run.mem_total = total.bytes;
  run.total_from_cgroup = total.from_cgroup;
  const HclArenaPlan plan =
      plan_arenas(available, total.bytes, cfg, hcl_worker_count(cfg, s.inv.cpus));
  run.contended = plan.contended;
  if (plan.space_limited) {
    s.out().status("hcl: memory larger than one process can test: the arenas stay within 2.5 GiB");
  }
  if (!plan.enough) {
    s.out().status("hcl: not enough free memory");
    return false;
  }
  run.threads = plan.threads;
  run.arena_bytes_per_thread = static_cast<int64_t>(plan.per_thread);
  run.duration = saturate_duration(cfg.hcl_duration_s);

  s.runner.klog_drain = s.ctx.klog_drain;
  s.runner.meminfo_path = s.ctx.paths.meminfo;
  s.runner.psi_path = s.ctx.paths.psi_memory;
  s.job.page_words = s.ctx.page_size / 8;
  s.job.flush_usable = s.ctx.flush_usable;
  const HclPoolStart pool = hcl_pool_start(s.runner, run.threads, s.inv.cpus,
                                           run.arena_bytes_per_thread, hcl_pressure_floor(cfg));
  s.pool_started = true;
  run.arena_total = pool.arena_total;
  run.affinity = s.job.affinity_ok != 0;

  const EdacCounts edac = edac_counts(s.ctx.paths.edac_mc);
  run.edac_ce_start = edac.ce;
  run.edac_ue_start = edac.ue;
  run.klog_crit_start = hcl_klog_crit(s.ctx);

  HclInfo info;
  info.cpus = s.inv.cpus;
  info.threads = run.threads;
  info.numa_nodes = s.inv.numa_nodes;
  info.affinity = run.affinity;
  info.mlocked = s.job.arenas[0].mlocked != 0;
  info.arena_bytes = run.arena_total;
  info.arena_per_thread = plan.per_thread;
  info.duration = run.duration;
  info.arenas_allocated = pool.arenas_allocated;
  s.out().info(info, s.inv, s.ref);
  return true;
}

}  // namespace dravik
