#include "engine/drivers/production.h"

#include <unistd.h>

#include <mutex>

#include "core/run/flags.h"
#include "core/text.h"
#include "engine/context.h"
#include "engine/catalogue/catalogue.h"
#include "engine/drivers/idle_wait.h"
#include "engine/drivers/map_paint.h"
#include "memory/regions/arena.h"
#include "memory/probes/probes.h"
#include "memory/regions/sizing.h"
#include "core/run/event_sink.h"

namespace dravik {

void take_budget(EngineContext& run) {
  const uint64_t available = mem_available_bytes(run.paths.meminfo);
  const Budget b =
      compute_budget(available, reserve_bytes(run.cfg), run.cfg.mem_cap, run.st.mem_total);
  const Budget wanted = compute_budget(available, reserve_bytes(run.cfg), run.cfg.mem_cap,
                                       run.st.mem_total, kNoSpaceLimit);
  run.st.space_limited = b.space_limited ? 1 : 0;
  run.st.budget_wanted = wanted.budget;
  run.st.budget = b.budget;
  run.st.untested = b.untested;
  run.st.budget_taken = 1;
}

bool prepare_passes(EngineContext& run) {
  if (!run.st.budget_taken) take_budget(run);
  map_setup(run.map, run.phys.ram_ranges, run.st, run.map.want_cols, run.map.want_rows);
  emit_event(run.sink, EventKind::map);
  if (run.st.space_limited) {
    char held[32], wanted[32];
    format_size(run.st.budget, held, sizeof held);
    format_size(run.st.budget_wanted, wanted, sizeof wanted);
    post_status(run.sink, run.st, "memory larger than one process can test: %s of %s per pass",
                held, wanted);
  }
  if (run.st.budget < kMinRegion) {
    force_end_reason(run.st, EndReason::ALLOC_ABORT);
    return false;
  }
  return true;
}

void sweep_pass(EngineContext& run, uint64_t budget, uint64_t chunk) {
  if (budget == 0) return;
  const uint64_t reserve = reserve_bytes(run.cfg);
  RegionTable table;
  uint64_t taken = 0;
  while (!stopping() && table.count < RegionTable::kMax) {
    const uint64_t available = mem_available_bytes(run.paths.meminfo);
    const uint64_t size =
        sweep_region_size(available, reserve, chunk, budget - taken,
                          run.cfg.extended_tests != 0);
    if (size == 0) break;
    ArenaRegion region;
    if (size >= kMinRegion) region = arena_alloc_halving(size);
    if (region.base == nullptr) {
      // Nothing could be mapped: a pass that took nothing is an allocation
      // failure; one that already holds regions simply ends here.
      if (taken == 0 && !stopping()) force_end_reason(run.st, EndReason::ALLOC_ABORT);
      break;
    }
    if (run.cfg.strict && !region.locked) {
      arena_free(region);
      force_end_reason(run.st, EndReason::STRICT_MLOCK_ABORT);
      stop_requested.store(1, std::memory_order_relaxed);
      break;
    }
    run.st.last_locked.store(region.locked, std::memory_order_relaxed);

    const TestBlock block{static_cast<uint64_t*>(region.base), region.size / 8,
                          static_cast<int32_t>(run.st.current_pass)};
    int32_t lo = -1, hi = -1;
    if (!run.map.logical) mark_cells(run, region.base, region.size, 2, &lo, &hi);
    run.st.regions_in_pass += 1;
    run.st.active_lo = lo;
    run.st.active_hi = hi;
    emit_event(run.sink, EventKind::cell);

    run_test_sequence(run, block);

    if (!run.map.logical) {
      int32_t done_lo = -1, done_hi = -1;
      const uint8_t done = static_cast<uint8_t>(
          3 + (run.st.color_counter.load(std::memory_order_relaxed) & 3));
      mark_cells(run, region.base, region.size, done, &done_lo, &done_hi);
    }
    taken += region.size;
    run.st.total_bytes.fetch_add(region.size, std::memory_order_relaxed);
    table.entries[table.count++] = region;
    run.st.pass_bytes.store(taken, std::memory_order_relaxed);
    if (run.map.logical) paint_progress(run);
    run.st.algo_pct.store(100, std::memory_order_relaxed);
    sink_tick(run.sink);
    if (taken >= budget) break;
  }
  table.release_all();
}

void finish_passes(EngineContext& run) {
  // A stop that arrived between passes (while waiting for memory) ends the
  // run just as one during a pass does.
  if (stopping()) set_end_reason_if_none(run.st, EndReason::USER_STOP);
  // A completed limited run shows its last pass, not one past it.
  if (run.cfg.passes > 0 && run.st.current_pass > run.st.total_passes) {
    run.st.current_pass = run.st.total_passes;
  }
  set_end_reason_if_none(run.st, EndReason::COMPLETED);
}

void run_production(EngineContext& run) {
  run.st.total_passes = run.cfg.passes > 0 ? run.cfg.passes : INT64_MAX;
  if (!prepare_passes(run)) return;
  run.st.current_pass = 1;
  const uint64_t chunk = chunk_bytes(run.cfg);
  while (!stopping()) {
    run.st.regions_in_pass = 0;
    run.st.pass_bytes.store(0, std::memory_order_relaxed);
    sweep_pass(run, run.st.budget, chunk);
    if (stopping()) set_end_reason_if_none(run.st, EndReason::USER_STOP);
    const bool empty_pass = run.st.regions_in_pass == 0;
    run.st.current_pass += 1;
    if (run.st.current_pass > run.st.total_passes || stopping()) break;
    if (empty_pass) idle_between_passes(run);
  }
  finish_passes(run);
}

}  // namespace dravik
