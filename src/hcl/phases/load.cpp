// P6: loads shaped like the box's real work. An OLTP-like mix of reads and
// locked increments on a shared 256 KiB hot set, whose counters must add up
// to the increments the workers made (the atomic-increment ledger); then,
// outside the quick tier, a TLB walk over random pages and fletcher4
// checksums over 128 KiB records.
#include <cstdlib>
#include <cstring>

#include "core/run/flags.h"
#include "hcl/output.h"
#include "hcl/phases/phases.h"
#include "hcl/rules/schedule.h"

namespace dravik {

namespace {

constexpr size_t kHotSetBytes = static_cast<size_t>(kHclHotSlots) * 64;
constexpr double kOltpSeconds = 10.0;

// Runs the OLTP job over a zeroed hot set and checks the ledger: 1 balanced,
// 0 mismatch, -1 when the hot set could not be allocated.
int oltp(HclSession& s) {
  HclRun& run = s.run;
  auto* hot = static_cast<uint64_t*>(aligned_alloc(64, kHotSetBytes));
  if (hot == nullptr) return -1;
  memset(hot, 0, kHotSetBytes);
  s.job.hot_set = hot;
  s.job.hot_slots = kHclHotSlots;
  const double wall =
      run_job(s.runner, HclOp::oltp, run.threads, phase_seed(s.base_seed(), kSeedOltp), 0,
              kOltpSeconds);
  run.oltp_mops = static_cast<double>(sum_ops(s.job, run.threads)) / wall / 1e6;
  const int ledger = oltp_ledger(hot, kHclHotSlots, sum_incs(s.job, run.threads)) ? 1 : 0;
  s.job.hot_set = nullptr;
  free(hot);
  s.out().oltp_point(run.threads, run.oltp_mops, ledger == 1);
  hcl_console(s.out(), "  %7.2f Mops/s   atomic-increment ledger: %s\n", run.oltp_mops,
              ledger == 1 ? "consistent" : "MISMATCH");
  // A lost or doubled increment is a memory error like a flipped bit.
  if (ledger == 0) s.job.error_total.fetch_add(1, std::memory_order_relaxed);
  return ledger;
}

// TLB walk then fletcher4; returns the bit errors they saw.
int64_t realism(HclSession& s) {
  HclRun& run = s.run;
  const int seconds = realism_seconds(run.tier);
  map_begin_timed(s.runner, "P6", run.threads, 2.0 * seconds);
  const int64_t errors_before = s.job.error_total.load(std::memory_order_relaxed);
  run_job(s.runner, HclOp::tlb_walk, run.threads, phase_seed(s.base_seed(), kSeedTlb), 0, seconds);
  // Divided by the nominal seconds: the figure compares runs, not jobs.
  const double tlb_mops = static_cast<double>(sum_ops(s.job, run.threads)) / seconds / 1e6;
  report_bit_errors(s.runner);
  run_job(s.runner, HclOp::fletcher4, run.threads, phase_seed(s.base_seed(), kSeedFletcher), 0,
          seconds);
  const double fletcher_gbs = static_cast<double>(sum_bytes(s.job, run.threads)) / seconds / 1e9;
  map_end(s.runner);
  report_bit_errors(s.runner);
  const int64_t errors = s.job.error_total.load(std::memory_order_relaxed) - errors_before;
  s.out().realism_point("tlb", run.threads, tlb_mops);
  s.out().realism_point("fletcher4", run.threads, fletcher_gbs);
  hcl_console(s.out(),
              "  TLB/page-walk: %7.2f Mops/s   fletcher4 (128KiB records): %6.2f GB/s   errors: %lld\n",
              tlb_mops, fletcher_gbs, static_cast<long long>(errors));
  return errors;
}

}  // namespace

bool oltp_ledger(const uint64_t* hot_set, int slots, uint64_t incs) {
  uint64_t sum = 0;
  for (int i = 0; i < slots; ++i) sum += hot_set[static_cast<size_t>(i) * 8];
  return sum == incs;
}

void phase_load(HclSession& s) {
  HclRun& run = s.run;
  phase_begin(s, 6);
  s.out().stage("oltp", run.threads);
  hcl_console(s.out(), "\n [oltp] 70/30 read/atomic-write, shared 256KiB hot set, %d thread%s\n",
              run.threads, run.threads == 1 ? "" : "s");
  run.ledger = oltp(s);
  if (run.ledger < 0) run.oltp_mops = 0.0;
  run.realism_errors = 0;
  if (run.tier != HclTier::quick && !stopping()) run.realism_errors = realism(s);
  report_bit_errors(s.runner);
  phase_finish(s, 6, run.ledger == 0 || run.realism_errors >= 1);
}

}  // namespace dravik
