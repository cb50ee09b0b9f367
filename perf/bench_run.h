// The run a benchmark program drives: no terminal and no sink, a fixed seed,
// the flush probed and the physical map set up as a real run has them.
#pragma once
#include <cstdint>
#include <memory>

#include "app/run/run.h"
#include "core/text.h"
#include "engine/flush.h"
#include "memory/address/phys_map.h"
#include "memory/probes/probes.h"

namespace dravik {

inline std::unique_ptr<Run> make_bench_run(uint64_t bytes, RunMode mode, PatternTier tier, int32_t threads) {
  auto run = std::make_unique<Run>();
  run->cfg.mode = mode;
  run->cfg.tier = tier;
  run->cfg.output = OutputStyle::json;  // no terminal; no sink is installed
  run->cfg.mem_cap = bytes;
  run->cfg.threads = threads;
  run->cfg.seed = 0x5eed;
  run->clflush_usable = probe_clflush();
  run->clflushopt = run->clflush_usable && cpu_has_clflushopt();
  phys_setup(run->phys);
  const int64_t total_kb = meminfo_kb("MemTotal");
  run->st.mem_total = total_kb > 0 ? static_cast<uint64_t>(total_kb) * 1024 : 0;
  run->st.run_start_time = now_seconds();
  return run;
}

}  // namespace dravik
