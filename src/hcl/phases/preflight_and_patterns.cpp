// P0 to P3: the preflight audit, then address decoding, fixed patterns and
// copy/invert churn over every worker's arena.
#include "core/run/flags.h"
#include "hcl/output.h"
#include "hcl/phases/phases.h"
#include "hcl/rules/schedule.h"
#include "hcl/rules/setup.h"
#include "memory/probes/probes.h"

namespace dravik {

namespace {

// The fixed patterns of P2, in the order they run.
constexpr uint64_t kPatterns[] = {0x0000000000000000ULL, 0x5555555555555555ULL,
                                  0x3333333333333333ULL, 0x0F0F0F0F0F0F0F0FULL,
                                  0x00FF00FF00FF00FFULL, 0x0000FFFF0000FFFFULL};

}  // namespace

void phase_preflight(HclSession& s) {
  HclRun& run = s.run;
  phase_begin(s, 0);
  run.load1 = read_load1(s.ctx.paths.loadavg);
  run.psi_mem10 = psi_some_avg10(s.ctx.paths.psi_memory);
  run.max_freq = read_cpufreq(s.ctx.paths.cpufreq_dir, "cpuinfo_max_freq");
  run.busy = system_busy(run.load1, s.inv.cpus);
  s.gate = assess_setup(s.inv, s.ctx.cfg.setup_override, s.ctx.mem_total, s.ctx.page_size);
  s.out().setup(s.gate, run.load1, run.psi_mem10, run.busy, s.inv.cpus);
  phase_finish(s, 0, false);
}

void phase_address(HclSession& s) {
  HclRun& run = s.run;
  phase_begin(s, 1);
  map_begin_bytes(s.runner, "P1", "verify", s.per_thread(), run.threads);
  run_job(s.runner, HclOp::address_test, run.threads, 0, 1);
  map_end(s.runner);
  run.addr_errors = phase_errors(s);
  phase_finish(s, 1, run.addr_errors != 0);
  hcl_console(s.out(), " [P1] address test: %s\n", result_word(run.addr_errors));
}

void phase_patterns(HclSession& s) {
  HclRun& run = s.run;
  const int rounds = pattern_rounds(run.tier);
  phase_begin(s, 2);
  map_begin_bytes(s.runner, "P2", "verify", static_cast<uint64_t>(rounds + 2) * s.per_thread(),
                  run.threads);
  for (int p = 0; p < rounds && !stopping(); ++p) {
    s.job.pattern = kPatterns[p];
    run_job(s.runner, HclOp::pattern_round, run.threads, 0, 1);
    s.runner.map.base_done += s.per_thread();
    report_bit_errors(s.runner);
  }
  if (!stopping()) {
    const uint64_t seed = phase_seed(s.base_seed(), kSeedP2Random);
    run_job(s.runner, HclOp::write_stream, run.threads, seed, 1);
    s.runner.map.base_done += s.per_thread();
    run_job(s.runner, HclOp::verify_stream, run.threads, seed, 1);
  }
  map_end(s.runner);
  run.pattern_errors = phase_errors(s);
  phase_finish(s, 2, run.pattern_errors != 0);
  hcl_console(s.out(), " [P2] pattern suite (%d rounds + random): %s\n", rounds,
              result_word(run.pattern_errors));
}

void phase_churn(HclSession& s) {
  HclRun& run = s.run;
  const double seconds = churn_seconds(run.tier, run.duration);
  phase_begin(s, 3);
  map_begin_timed(s.runner, "P3", run.threads, seconds);
  run_job(s.runner, HclOp::churn, run.threads, phase_seed(s.base_seed(), kSeedP3), 0, seconds);
  map_end(s.runner);
  run.churn_errors = phase_errors(s);
  phase_finish(s, 3, run.churn_errors != 0);
  hcl_console(s.out(), " [P3] copy/invert churn: %s\n", result_word(run.churn_errors));
}

}  // namespace dravik
