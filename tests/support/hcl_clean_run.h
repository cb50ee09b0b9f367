// A clean qualification run as the verdict receives it: a quiet standard run
// on a matched pair, every phase clean, every criterion passing. Tests start
// from it and change only what their case is about.
#pragma once

#include "hcl/verdict/verdict.h"

namespace dravik::testing {

inline HclVerdictInputs clean_run_inputs() {
  HclVerdictInputs in;
  HclRun& run = in.run;
  run.threads = 2;
  run.affinity = true;
  run.arena_total = 64ull << 20;
  run.mem_total = 8ull << 30;
  run.duration = 60;
  run.base_seed = 0x00006b17bcb29a18ull;
  run.load1 = 0.12;
  run.psi_mem10 = 0.0;
  run.fade_errors = 0;
  run.cooldown_errors = 0;
  run.fade_secs = 60;
  run.sweep = {{1, 11.5, 14.25}, {2, 20.5, 27.5}};
  run.peak_read = 44.03;
  run.peak_write = 31.2;
  run.saturation_threads = 2;
  run.rounds = 22;
  run.stddev_pct = 0.84;
  run.last_first_ratio = 0.996;
  run.lat_idle_avg = 92.4;
  run.lat_idle_p99 = 131.7;
  run.lat_loaded_avg = 140.25;
  run.lat_loaded_p99 = 388.5;
  run.oltp_mops = 12.75;
  run.ledger = 1;
  run.edac_ce_start = run.edac_ue_start = 0;
  in.module_count = 2;
  in.setup_uniform = 1;
  in.theoretical_gbs = 51.2;
  in.channels_src = "from DMI channel locators and data widths";
  in.edac_ce_end = in.edac_ue_end = 0;
  return in;
}

}  // namespace dravik::testing
