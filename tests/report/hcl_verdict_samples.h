// Three end-of-run reports for the output tests, and a capture of what an
// output writes.
#pragma once
#include <cstdio>
#include <string>

#include "core/config.h"
#include "hcl/verdict/verdict.h"

namespace dravik::testing {

// A quiet standard run on a matched pair: everything passes.
inline HclVerdictReport clean_pass_report() {
  HclVerdictInputs in;
  in.threads = 2;
  in.affinity = true;
  in.arena_total = 64ull << 20;
  in.mem_total = 8ull << 30;
  in.duration = 60;
  in.base_seed = 0x00006b17bcb29a18ull;
  in.load1 = 0.12;
  in.psi_mem10 = 0.0;
  in.module_count = 2;
  in.setup_uniform = 1;
  in.theoretical_gbs = 51.2;
  in.channels_src = "from DMI channel locators and data widths";
  in.fade_errors = 0;
  in.cooldown_errors = 0;
  in.fade_secs = 60;
  in.sweep = {{1, 11.5, 14.25}, {2, 20.5, 27.5}};
  in.peak_read = 44.03;
  in.peak_write = 31.2;
  in.saturation_threads = 2;
  in.rounds = 22;
  in.stddev_pct = 0.84;
  in.last_first_ratio = 0.996;
  in.lat_idle_avg = 92.4;
  in.lat_idle_p99 = 131.7;
  in.lat_loaded_avg = 140.25;
  in.lat_loaded_p99 = 388.5;
  in.oltp_mops = 12.75;
  in.ledger = 1;
  in.edac_ce_start = in.edac_ue_start = in.edac_ce_end = in.edac_ue_end = 0;
  RunConfig cfg;
  return build_hcl_verdict_report(in, cfg);
}

// A quick run on a contended, throttled box with a mixed kit, a corrected
// EDAC error, one realism error and a ledger mismatch; floors from a table.
inline HclVerdictReport mixed_contended_report() {
  HclVerdictInputs in = clean_pass_report().figures;
  in.contended = true;
  in.load1 = 3.5;
  in.psi_mem10 = 1.25;
  in.module_count = 3;
  in.setup_uniform = 0;
  in.setup_reasons = {"DIMM_B1 differs: Kingston KHX3200C16D4/8GX vs Corsair CMK16GX4M2B3200C16",
                      "3 modules populated — odd count runs flex/asymmetric"};
  in.fade_errors = in.cooldown_errors = -1;
  in.fade_secs = 0;
  in.realism_errors = 1;
  in.error_total = 2;
  in.ledger = 0;
  in.peak_read = 33.9;
  in.rounds = 8;
  in.throttle_samples = 3;
  in.saturate_errors = 0;
  in.edac_ce_start = 5;
  in.edac_ce_end = 6;
  in.edac_ce_saturate = 1;
  in.stddev_pct = 6.2;
  in.last_first_ratio = 0.95;
  in.klog_crit_start = 2;
  in.klog_crit_end = 2;
  RunConfig cfg;
  cfg.hcl_tier = HclTier::quick;
  cfg.pass_pct = 70;
  cfg.pct_given = 1;
  return build_hcl_verdict_report(in, cfg);
}

// Interrupted early on a one-CPU virtual machine without DMI: little was
// measured.
inline HclVerdictReport stopped_no_dmi_report() {
  HclVerdictInputs in;
  in.threads = 1;
  in.affinity = false;
  in.arena_total = 16ull << 20;
  in.mem_total = 1ull << 30;
  in.duration = 60;
  in.base_seed = 0x1ull;
  in.sweep = {{1, 4.5, 5.25}};
  in.peak_read = 5.25;
  in.peak_write = 4.5;
  in.saturation_threads = 1;
  in.stopped = true;
  RunConfig cfg;
  return build_hcl_verdict_report(in, cfg);
}

// Runs write(FILE*) and returns what it wrote.
template <typename Write>
std::string captured(Write write) {
  FILE* f = tmpfile();
  write(f);
  fflush(f);
  rewind(f);
  std::string s;
  char buf[4096];
  size_t n = 0;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  fclose(f);
  return s;
}

}  // namespace dravik::testing
