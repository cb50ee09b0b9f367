// Three end-of-run reports for the output tests, and a capture of what an
// output writes.
#pragma once
#include <cstdio>
#include <string>

#include "core/config.h"
#include "hcl/verdict/verdict.h"
#include "support/hcl_clean_run.h"

namespace dravik::testing {

// A quiet standard run on a matched pair: everything passes.
inline HclVerdictReport clean_pass_report() {
  RunConfig cfg;
  return build_hcl_verdict_report(clean_run_inputs(), cfg);
}

// A quick run on a contended, throttled box with a mixed kit, a corrected
// EDAC error, one realism error and a ledger mismatch; floors from a table.
inline HclVerdictReport mixed_contended_report() {
  HclVerdictInputs in = clean_pass_report().figures;
  in.run.contended = true;
  in.run.load1 = 3.5;
  in.run.psi_mem10 = 1.25;
  in.module_count = 3;
  in.setup_uniform = 0;
  in.setup_reasons = {"DIMM_B1 differs: Kingston KHX3200C16D4/8GX vs Corsair CMK16GX4M2B3200C16",
                      "3 modules populated — odd count runs flex/asymmetric"};
  in.run.fade_errors = in.run.cooldown_errors = -1;
  in.run.fade_secs = 0;
  in.run.realism_errors = 1;
  in.error_total = 2;
  in.run.ledger = 0;
  in.run.peak_read = 33.9;
  in.run.rounds = 8;
  in.run.throttle_samples = 3;
  in.run.saturate_errors = 0;
  in.run.edac_ce_start = 5;
  in.edac_ce_end = 6;
  in.run.edac_ce_saturate = 1;
  in.run.stddev_pct = 6.2;
  in.run.last_first_ratio = 0.95;
  in.run.klog_crit_start = 2;
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
  in.run.threads = 1;
  in.run.affinity = false;
  in.run.arena_total = 16ull << 20;
  in.run.mem_total = 1ull << 30;
  in.run.duration = 60;
  in.run.base_seed = 0x1ull;
  in.run.sweep = {{1, 4.5, 5.25}};
  in.run.peak_read = 5.25;
  in.run.peak_write = 4.5;
  in.run.saturation_threads = 1;
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
