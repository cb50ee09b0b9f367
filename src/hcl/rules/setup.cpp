#include "hcl/rules/setup.h"

#include <algorithm>
#include <cstdio>

#include "memory/probes/probes.h"

namespace dravik {

namespace {

uint64_t arena_share(uint64_t budget, int threads) {
  const uint64_t share = std::min(budget / static_cast<uint64_t>(threads), kHclArenaMax);
  return share / (2 * kHclMiB) * (2 * kHclMiB);
}

}  // namespace

HclArenaPlan plan_arenas(uint64_t available, uint64_t mem_total, const RunConfig& cfg,
                         int threads, uint64_t space_limit) {
  HclArenaPlan plan;
  // Integer form of available < 40 % of MemTotal, as the kernel's figures are.
  plan.contended = mem_total > 0 && available < mem_total / 5 * 2 + (mem_total % 5) * 2 / 5;
  // The arenas stay locked for the whole run: what they leave free must keep
  // the pressure watchdog quiet with room to spare for the box's own work,
  // so the floor it aborts at plus the reserve stay free.
  const uint64_t reserve = reserve_bytes(cfg);
  const uint64_t floor = hcl_pressure_floor(cfg);
  plan.reserve = reserve > UINT64_MAX - floor ? UINT64_MAX : reserve + floor;
  uint64_t budget = plan.reserve >= available ? 0 : available - plan.reserve;
  if (cfg.mem_cap != 0 && cfg.mem_cap < budget) budget = cfg.mem_cap;
  if (budget > space_limit) {
    budget = space_limit;
    plan.space_limited = true;
  }
  plan.threads = std::max(threads, 1);
  plan.per_thread = arena_share(budget, plan.threads);
  while (plan.per_thread < kHclArenaWanted && plan.threads > 1) {
    --plan.threads;
    plan.per_thread = arena_share(budget, plan.threads);
  }
  plan.enough = plan.per_thread >= kHclArenaMin;
  return plan;
}

HclMemoryTotal hcl_memory_total(uint64_t mem_total, const CgroupPaths& cgroup) {
  HclMemoryTotal total;
  total.bytes = mem_total;
  if (mem_total == 0) return total;
  const uint64_t limit = cgroup_memory_limit(cgroup);
  if (limit < mem_total) {
    total.bytes = limit;
    total.from_cgroup = true;
  }
  return total;
}

uint64_t hcl_pressure_floor(const RunConfig& cfg) {
  return std::max(reserve_bytes(cfg), 512 * kHclMiB);
}

double read_load1(const std::string& path) {
  FILE* f = fopen(path.c_str(), "r");
  if (!f) return -1.0;
  double load1 = -1.0;
  if (fscanf(f, "%lf", &load1) != 1) load1 = -1.0;
  fclose(f);
  return load1;
}

bool system_busy(double load1, int cpus) { return load1 >= 0.0 && load1 > 0.6 * cpus; }

uint64_t read_cpufreq(const std::string& cpufreq_dir, const char* name) {
  return read_size_file(cpufreq_dir + "/" + name);
}

bool throttled_sample(uint64_t max_freq, uint64_t cur_freq) {
  return max_freq > 0 && cur_freq > 0 && cur_freq < max_freq * 92 / 100;
}

}  // namespace dravik
