// The phases of a qualification run and what they share. A session holds the
// context, the job record and its runner, the run record and the inventory;
// every phase runs on the main thread and drives the workers only through
// run_job. Before a phase the stop flag is checked by the script
// (script.cpp); a phase notes the error total when it starts and reports
// the difference when it ends.
#pragma once
#include <cstdint>

#include "hcl/context.h"
#include "hcl/pool/runner.h"
#include "hcl/verdict/run_record.h"
#include "hcl/inventory/inventory.h"

namespace dravik {

struct HclSession {
  HclSession(HclContext& c, HclJob& j, HclRunner& r) : ctx(c), job(j), runner(r) {}

  HclContext& ctx;
  HclJob& job;
  HclRunner& runner;
  HclRun run;
  MemoryInventory inv;
  JedecReference ref;
  SetupAssessment gate;
  bool pool_started = false;

  // The phase under way: its start time and the error total then.
  double phase_start = 0.0;
  int64_t phase_errors_start = 0;

  HclOutput& out() { return ctx.out; }
  uint64_t base_seed() const { return ctx.cfg.seed; }
  uint64_t per_thread() const { return static_cast<uint64_t>(run.arena_bytes_per_thread); }
};

// Phase identities: "P0".."P8" and their names.
const char* phase_name(int phase);

// Emits "run" (JSON), notes the start time and the error total.
void phase_begin(HclSession& s, int phase);
// Reports the errors not reported yet and returns the new errors since
// phase_begin.
int64_t phase_errors(HclSession& s);
// Emits "done" or "fail" with the seconds since phase_begin.
void phase_finish(HclSession& s, int phase, bool failed);
void phase_skip(HclSession& s, int phase);
// Emits "skipped" with the seconds since phase_begin: the phase began but a
// stop kept it from verifying anything it could vouch for.
void phase_unverified(HclSession& s, int phase);
// "clean" or "ERRORS".
const char* result_word(int64_t errors);

// Sum of the workers' counters of the last job over workers 0..n-1.
uint64_t sum_bytes(const HclJob& job, int n);
uint64_t sum_ops(const HclJob& job, int n);
uint64_t sum_incs(const HclJob& job, int n);

// The atomic-increment ledger: the first word of each of `slots` 64-byte
// lines summed equals the increments the workers counted.
bool oltp_ledger(const uint64_t* hot_set, int slots, uint64_t incs);

// Start-up (startup.cpp): inventory, arena sizing, pool start, the
// starting readings and the header. False when memory is too short to start
// (nothing was started).
bool hcl_startup(HclSession& s);

// The phases, in order.
void phase_preflight(HclSession& s);        // P0 (preflight_and_patterns.cpp)
void phase_address(HclSession& s);          // P1
void phase_patterns(HclSession& s);         // P2
void phase_churn(HclSession& s);            // P3
void phase_stream(HclSession& s);           // P4 (stream.cpp)
void phase_latency(HclSession& s);          // P5 (latency.cpp)
void phase_load(HclSession& s);             // P6 (load.cpp)
void phase_fade_and_cooldown(HclSession& s);  // P7, P8 (fade.cpp)

// Sleeps in 200 ms steps, draining the kernel log, until `seconds` have
// passed since `since` or the stop flag is set.
void idle_with_klog(HclSession& s, double since, double seconds);

}  // namespace dravik
