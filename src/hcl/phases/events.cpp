// What every phase shares: its events, its error count and the workers'
// counters.
#include <time.h>

#include "core/run/flags.h"
#include "core/text.h"
#include "hcl/output.h"
#include "hcl/phases/phases.h"

namespace dravik {

namespace {

constexpr const char* kPhaseIds[] = {"P0", "P1", "P2", "P3", "P4", "P5", "P6", "P7", "P8"};
constexpr const char* kPhaseNames[] = {
    "Preflight & config audit", "Address test",     "Pattern suite",
    "Copy/invert churn",        "Saturate stream",  "Latency & jitter",
    "Real-world load",          "Bit fade",         "Cool-down re-verify"};

}  // namespace

const char* phase_name(int phase) { return kPhaseNames[phase]; }

void phase_begin(HclSession& s, int phase) {
  s.out().phase(kPhaseIds[phase], kPhaseNames[phase], "run", 0.0);
  s.phase_start = now_seconds();
  s.phase_errors_start = s.job.error_total.load(std::memory_order_relaxed);
}

int64_t phase_errors(HclSession& s) {
  report_bit_errors(s.runner);
  return s.job.error_total.load(std::memory_order_relaxed) - s.phase_errors_start;
}

void phase_finish(HclSession& s, int phase, bool failed) {
  s.out().phase(kPhaseIds[phase], kPhaseNames[phase], failed ? "fail" : "done",
                now_seconds() - s.phase_start);
}

void phase_skip(HclSession& s, int phase) {
  s.out().phase(kPhaseIds[phase], kPhaseNames[phase], "skip", 0.0);
}

void phase_unverified(HclSession& s, int phase) {
  s.out().phase(kPhaseIds[phase], kPhaseNames[phase], "skipped", now_seconds() - s.phase_start);
}

const char* result_word(int64_t errors) { return errors == 0 ? "clean" : "ERRORS"; }

uint64_t sum_bytes(const HclJob& job, int n) {
  uint64_t sum = 0;
  for (int i = 0; i < n; ++i) sum += job.stats[static_cast<size_t>(i)].bytes.load(std::memory_order_relaxed);
  return sum;
}

uint64_t sum_ops(const HclJob& job, int n) {
  uint64_t sum = 0;
  for (int i = 0; i < n; ++i) sum += job.stats[static_cast<size_t>(i)].ops.load(std::memory_order_relaxed);
  return sum;
}

uint64_t sum_incs(const HclJob& job, int n) {
  uint64_t sum = 0;
  for (int i = 0; i < n; ++i) sum += job.stats[static_cast<size_t>(i)].incs.load(std::memory_order_relaxed);
  return sum;
}

void idle_with_klog(HclSession& s, double since, double seconds) {
  const timespec step{0, 200 * 1000 * 1000};
  while (!stopping() && now_seconds() - since < seconds) {
    nanosleep(&step, nullptr);
    hcl_klog_drain(s.ctx);
  }
}

}  // namespace dravik
