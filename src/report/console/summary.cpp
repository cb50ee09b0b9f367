#include "report/console/summary.h"

#include <algorithm>
#include <cstring>

#include "core/output_check.h"
#include "report/run_view.h"
#include "core/text.h"
#include "core/project_info.h"
#include "hcl/inventory/inventory.h"

namespace dravik {

const char* summary_verdict(const RunView& run) {
  // A run cut short by the user or by the loss of its terminal.
  const EndReason reason = end_reason_of(run.st);
  if (reason == EndReason::USER_STOP || reason == EndReason::HANGUP) {
    return "SO FAR ... TEST CANCELED";
  }
  if (run.faults.hard > 0) return "FAIL";
  if (run.st.address_fault_seen.load(std::memory_order_relaxed)) return "SUSPECT";
  if (run.faults.transient > 0) return "PASS_WITH_TRANSIENTS";
  return "PASS";
}

int run_exit_code(const RunView& run) {
  if (run.faults.hard > 0) return 1;
  switch (end_reason_of(run.st)) {
    case EndReason::PRESSURE_ABORT:
    case EndReason::STRICT_MLOCK_ABORT:
    case EndReason::ALLOC_ABORT:
    case EndReason::THREAD_START_ABORT:
      return 3;
    default:
      break;
  }
  if (run.faults.transient > 0) return 2;
  return 0;
}

namespace {

void print_credit_box(FILE* out) {
  char rule[70];
  rule[0] = '+';
  memset(rule + 1, '-', 67);
  rule[68] = '+';
  rule[69] = '\0';
  fprintf(out, "%s\n", rule);
  for (const char* line : kCreditLines) fprintf(out, "| %-66s |\n", line);
  fprintf(out, "%s\n", rule);
}

}  // namespace

void print_summary(const RunView& run, FILE* out) {
  const RunState& st = run.st;
  const FaultLog& log = run.faults;
  char tested[32], target[32], elapsed[32];
  format_size(st.total_bytes.load(std::memory_order_relaxed), tested, sizeof tested);
  format_size(st.budget, target, sizeof target);
  format_hms(elapsed, sizeof elapsed, now_seconds() - st.run_start_time);
  const bool addressing = st.address_fault_seen.load(std::memory_order_relaxed) != 0;

  fprintf(out, "\n%s v%s\n", kTitle, kVersion);
  fprintf(out, "========================= dravik summary =========================\n");
  fprintf(out, " Verdict        : %s\n", summary_verdict(run));
  fprintf(out, " Mode/Profile   : %s / %s\n", mode_word(run.cfg.mode), tier_word(run.cfg.tier));
  fprintf(out, " Tested         : %s (target %s)   Time: %s\n", tested, target, elapsed);
  fprintf(out, " Hard faults    : %lld\n", static_cast<long long>(log.hard));
  fprintf(out, " Transient      : %lld\n", static_cast<long long>(log.transient));
  fprintf(out, " Addressing     : %s\n",
          addressing ? "SUSPECT (stuck-address test failed)" : "ok");
  fprintf(out, " Phys mapping   : %s   mlock: %s   cache-flush: %s\n", st.phys_ok ? "yes" : "no",
          st.last_locked.load(std::memory_order_relaxed) ? "yes" : "no",
          run.clflush_usable ? "on" : "off");
  fprintf(out, " PRNG seed      : 0x%016llx  (re-run with --seed to reproduce)\n",
          static_cast<unsigned long long>(run.cfg.seed));
  if (st.edac_ce_start >= 0) {
    fprintf(out, " ECC/EDAC       : CE %lld->%lld  UE %lld->%lld", static_cast<long long>(st.edac_ce_start),
            static_cast<long long>(st.edac_ce_end), static_cast<long long>(st.edac_ue_start),
            static_cast<long long>(st.edac_ue_end));
    if (st.edac_ce_end > st.edac_ce_start || st.edac_ue_end > st.edac_ue_start) {
      fprintf(out, "  <== HARDWARE ECC ERRORS DURING TEST");
    }
    fprintf(out, "\n");
  }
  // A module that is installed but not in use is memory no test can reach.
  const std::string unused = unused_module_warning(st.mem_total, run.dmi_table);
  if (!unused.empty()) fprintf(out, " Modules        : %s\n", unused.c_str());
  if (st.space_limited) {
    char wanted[32];
    format_size(st.budget_wanted, wanted, sizeof wanted);
    fprintf(out, " Address space  : %s of %s per pass: one 32-bit process maps no more\n", target,
            wanted);
  }
  fprintf(out, " End reason     : %s\n", end_reason_text(st.end_reason.load()));
  const int32_t shown = std::min<int32_t>(log.used, 24);
  for (int32_t i = 0; i < shown; ++i) {
    const FaultRecord& r = log.records[static_cast<size_t>(i)];
    fprintf(out, "   #%-2d %-9s %-9s v=0x%012llx p=0x%012llx xor=0x%0*llx bits=%d x%d %s\n", i + 1,
            r.cls == FaultClass::hard ? "HARD" : "transient", r.test,
            static_cast<unsigned long long>(r.vaddr), static_cast<unsigned long long>(r.paddr), 16,
            static_cast<unsigned long long>(r.xor_value), r.bits, r.count, r.dimm);
  }
  if (log.used > 24) fprintf(out, "   ... and %d more\n", log.used - 24);
  fprintf(out, " NOTE: userspace testing also exercises the CPU, caches and memory\n");
  fprintf(out, "       controller. A fault means the memory subsystem misbehaved; for\n");
  fprintf(out, "       hard faults at fixed addresses, suspect the DIMM. Transient-only\n");
  fprintf(out, "       results may indicate power/thermal/marginal-timing issues.\n");
  fprintf(out, "====================================================================\n\n");
  print_credit_box(out);
  flush_output(out);
}

}  // namespace dravik
