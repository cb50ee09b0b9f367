// P7 and P8: bit fade and cool-down. Every arena is filled once, left alone
// while nothing touches it, and verified; after a further 20 s of rest the
// same fill is verified again. A cell that leaks its charge shows here when
// the streams, always rewriting, could not see it.
#include "core/run/flags.h"
#include "core/text.h"
#include "hcl/output.h"
#include "hcl/phases/phases.h"
#include "hcl/rules/schedule.h"

namespace dravik {

namespace {

constexpr double kCooldownSeconds = 20.0;

// Verifies the fill; false when a stop ended the verify before every arena
// was read back (nothing, or only part, was verified).
bool verify_fill(HclSession& s, const char* phase, uint64_t seed) {
  map_begin_bytes(s.runner, phase, "verify", s.per_thread(), s.run.threads);
  run_job(s.runner, HclOp::verify_stream, s.run.threads, seed, 1);
  map_end(s.runner);
  bool whole = true;
  for (int i = 0; i < s.run.threads; ++i) {
    const HclArena& a = s.job.arenas[static_cast<size_t>(i)];
    if (a.base == nullptr) continue;
    const uint64_t read = s.job.stats[static_cast<size_t>(i)].bytes.load(std::memory_order_relaxed);
    whole = whole && a.written > 0 && read >= a.written * 8;
  }
  return whole;
}

// The errors a re-verify found, or -1 when a stop kept it from verifying
// the whole fill and it found nothing: such a phase did not run, whatever
// its events said so far. Errors it did find stand.
int64_t fade_result(HclSession& s, int phase, bool whole, const char* label) {
  const int64_t errors = phase_errors(s);
  if (!whole && errors == 0) {
    phase_unverified(s, phase);
    hcl_console(s.out(), "%s%s\n", label, "not run");
    return -1;
  }
  phase_finish(s, phase, errors != 0);
  hcl_console(s.out(), "%s%s\n", label, result_word(errors));
  return errors;
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
  run_job(s.runner, HclOp::write_stream, run.threads, seed, 1);
  map_end(s.runner);
  // Nothing but the kernel log is read while the cells rest; the pressure
  // watchdog runs only inside jobs.
  idle_with_klog(s, now_seconds(), run.fade_secs);
  bool whole = verify_fill(s, "P7", seed);
  run.fade_errors = fade_result(s, 7, whole, "  bit fade: ");
  if (run.fade_errors < 0) run.fade_secs = 0;

  if (stopping()) return;
  phase_begin(s, 8);
  idle_with_klog(s, now_seconds(), kCooldownSeconds);
  whole = verify_fill(s, "P8", seed);
  run.cooldown_errors = fade_result(s, 8, whole, " [P8] cool-down re-verify: ");
}

}  // namespace dravik
