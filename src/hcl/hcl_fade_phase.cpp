// P7 and P8: bit fade and cool-down. Every arena is filled once, left alone
// while nothing touches it, and verified; after a further 20 s of rest the
// same fill is verified again. A cell that leaks its charge shows here when
// the streams, always rewriting, could not see it.
#include "core/flags.h"
#include "core/text.h"
#include "hcl/hcl_output.h"
#include "hcl/hcl_phases.h"
#include "hcl/hcl_schedule.h"

namespace dravik {

namespace {

constexpr double kCooldownSeconds = 20.0;

void verify_fill(HclSession& s, const char* phase, uint64_t seed) {
  map_begin_bytes(s.runner, phase, "verify", s.per_thread(), s.run.threads);
  run_job(s.runner, HCL_OP_READ, s.run.threads, seed, 1);
  map_end(s.runner);
}

}  // namespace

void phase_fade_and_cooldown(HclSession& s) {
  HclRun& run = s.run;
  run.fade_errors = -1;
  run.cooldown_errors = -1;
  run.fade_secs = 0;
  if (run.tier == HclTier::quick) {
    phase_skip(s, 7);
    phase_skip(s, 8);
    return;
  }
  if (stopping()) return;

  run.fade_secs = fade_seconds(run.tier, run.duration);
  phase_begin(s, 7);
  hcl_console(s.out(), "\n [P7] bit fade: fill, idle %ds, re-verify\n", run.fade_secs);
  const uint64_t seed = phase_seed(s.base_seed(), kSeedFade);
  map_begin_bytes(s.runner, "P7", "write", s.per_thread(), run.threads);
  run_job(s.runner, HCL_OP_WRITE, run.threads, seed, 1);
  map_end(s.runner);
  // Nothing but the kernel log is read while the cells rest; the pressure
  // watchdog runs only inside jobs.
  idle_with_klog(s, now_seconds(), run.fade_secs);
  verify_fill(s, "P7", seed);
  run.fade_errors = phase_errors(s);
  phase_finish(s, 7, run.fade_errors != 0);
  hcl_console(s.out(), "  bit fade: %s\n", result_word(run.fade_errors));

  if (stopping()) return;
  phase_begin(s, 8);
  idle_with_klog(s, now_seconds(), kCooldownSeconds);
  verify_fill(s, "P8", seed);
  run.cooldown_errors = phase_errors(s);
  phase_finish(s, 8, run.cooldown_errors != 0);
  hcl_console(s.out(), " [P8] cool-down re-verify: %s\n", result_word(run.cooldown_errors));
}

}  // namespace dravik
