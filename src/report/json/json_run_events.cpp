// The JSON lines that report the run as a whole: start, progress, fault and
// summary. They read shared counters without locks; a line may mix values
// from slightly different moments.
#include <cstdint>
#include <string>

#include "report/run_view.h"
#include "engine/faults/fault_log.h"
#include "engine/map/memory_map.h"
#include "engine/progress.h"
#include "engine/record_fault.h"
#include "core/text.h"
#include "klog/klog.h"
#include "report/json/json_lines.h"
#include "core/project_info.h"
#include "hcl/inventory/inventory.h"
#include "report/verdict.h"

namespace dravik {

namespace {

constexpr const char* kCaveat =
    "userspace test exercises CPU/cache/controller too; a fault means the memory subsystem "
    "misbehaved, not provably a single DRAM chip";

unsigned long long ul(uint64_t v) { return static_cast<unsigned long long>(v); }
long long sl(int64_t v) { return static_cast<long long>(v); }

// Animation phase stepping 0, 1, 2, 3 eight times a second.
int spin_phase(double now) {
  const double eighths = now * 8.0;
  if (!(eighths >= 0.0 && eighths < 9.0e18)) return 0;
  return static_cast<int>(static_cast<int64_t>(eighths) & 3);
}

int64_t edac_delta(int64_t before, int64_t after) {
  return (before < 0 || after < 0) ? -1 : after - before;
}

}  // namespace

void json_start_line(FILE* out, const RunView& run) {
  const RunState& st = run.st;
  fprintf(out,
          "{\"event\":\"start\",\"ts\":%.3f,\"version\":\"%s\",\"name\":\"%s\",\"contact\":\"%s\","
          "\"forum\":\"%s\",\"mode\":\"%s\",\"profile\":\"%s\",\"mem_total\":%llu,\"reserved\":%llu,"
          "\"phys\":%s,\"root\":%s,\"seed\":\"0x%016llx\",\"flush\":%s,"
          "\"cache\":{\"l1\":%llu,\"l2\":%llu,\"l3\":%llu},"
          "\"klog\":{\"available\":%s,\"source\":\"%s\"},"
          "\"cell_legend\":[\"reserved\",\"untested\",\"active\",\"ok1\",\"ok2\",\"ok3\",\"ok4\","
          "\"fault\",\"suspect\",\"system\"],"
          "\"edac_before\":{\"ce\":%lld,\"ue\":%lld}}\n",
          now_seconds(), kVersion, kTitle, kProjectContact, kProjectForum, mode_word(run.cfg.mode),
          tier_word(run.cfg.tier), ul(st.mem_total), ul(st.untested), json_bool(st.phys_ok != 0),
          json_bool(st.is_root != 0), ul(run.cfg.seed), json_bool(run.clflush_usable != 0),
          ul(st.cache_sizes[0]), ul(st.cache_sizes[1]), ul(st.cache_sizes[2]),
          json_bool(run.klog.available != 0), run.klog.source, sl(st.edac_ce_start),
          sl(st.edac_ue_start));
}

void json_progress_line(FILE* out, const RunView& run) {
  const RunState& st = run.st;
  const double now = now_seconds();
  const uint64_t covered = st.pass_bytes.load(std::memory_order_relaxed);
  const double pct = st.budget == 0 ? 0.0
                                    : static_cast<double>(covered) * 100.0 /
                                          static_cast<double>(st.budget);
  char algo[24];
  current_test_name(run.st, algo);
  const KlogMonitor& k = run.klog;
  fprintf(out,
          "{\"event\":\"progress\",\"covered\":%llu,\"total\":%llu,\"win\":%d,\"hard\":%lld,"
          "\"trans\":%lld,\"elapsed\":%.1f,\"pct\":%.1f,\"algo\":\"%s\",\"algo_pct\":%d,"
          "\"pass\":%lld,\"total_passes\":%lld,\"paused\":%s,\"mlock\":%s,\"sched_nice\":%d,"
          "\"spin\":%d,\"klog\":{\"crit\":%lld,\"warn\":%lld,\"info\":%lld}}\n",
          ul(covered), ul(st.budget), st.regions_in_pass,
          sl(run.faults.shown_hard.load(std::memory_order_relaxed)),
          sl(run.faults.shown_transient.load(std::memory_order_relaxed)),
          now - st.run_start_time, pct, algo, st.algo_pct.load(std::memory_order_relaxed),
          sl(st.current_pass), sl(st.total_passes), json_bool(run.ui.hold_shown != 0),
          json_bool(st.last_locked.load(std::memory_order_relaxed) != 0), st.nice,
          spin_phase(now), sl(klog_crit_during(k)), sl(klog_warn_during(k)), sl(k.info));
}

void json_fault_line(FILE* out, const RunView& run, const FaultRecord& r) {
  char dimm[kEscapedCap];
  json_escape(r.dimm, dimm, sizeof dimm);
  fprintf(out,
          "{\"event\":\"fault\",\"vaddr\":\"0x%llx\",\"paddr\":\"0x%llx\",\"region\":%d,\"cell\":%d,"
          "\"dimm\":\"%s\",\"expected\":\"0x%0*llx\",\"actual\":\"0x%0*llx\",\"xor\":\"0x%0*llx\","
          "\"bits\":%d,\"test\":\"%.23s\",\"pass\":%d,\"class\":\"%s\",\"count\":%d,\"ts\":%.1f}\n",
          ul(r.vaddr), ul(r.paddr), r.region, cell_of_fault(run.engine, r.paddr), dimm, 16, ul(r.expected), 16,
          ul(r.actual), 16, ul(r.xor_value), r.bits, r.test, r.pass,
          r.cls == FaultClass::hard ? "hard" : "transient", r.count, r.ts);
}

void json_summary_line(FILE* out, const RunView& run) {
  const RunState& st = run.st;
  const int64_t hard = run.faults.shown_hard.load(std::memory_order_relaxed);
  const int64_t transient = run.faults.shown_transient.load(std::memory_order_relaxed);
  const bool suspect = st.address_fault_seen.load(std::memory_order_relaxed) != 0;
  const KlogMonitor& k = run.klog;
  // The unused-module warning as a string, null when there is none.
  const std::string unused = unused_module_warning(st.mem_total, run.dmi_table);
  char unused_json[sizeof(SetupAssessment::reasons[0]) + 2] = "null";
  if (!unused.empty()) snprintf(unused_json, sizeof unused_json, "\"%s\"", unused.c_str());
  fprintf(out,
          "{\"event\":\"summary\",\"verdict\":\"%s\",\"hard\":%lld,\"transient\":%lld,"
          "\"covered_total\":%llu,\"duration\":%.1f,\"end_reason\":\"%s\","
          "\"addressing_suspect\":%s,\"edac_after\":{\"ce\":%lld,\"ue\":%lld},"
          "\"edac_delta\":{\"ce\":%lld,\"ue\":%lld},"
          "\"klog\":{\"source\":\"%s\",\"crit\":%lld,\"warn\":%lld,\"info\":%lld,"
          "\"crit_during\":%lld,\"warn_during\":%lld},\"caveat\":\"%s\",\"unused_module\":%s}\n",
          json_verdict(hard, transient, suspect), sl(hard), sl(transient),
          ul(st.total_bytes.load(std::memory_order_relaxed)), now_seconds() - st.run_start_time,
          end_reason_text(st.end_reason.load(std::memory_order_relaxed)), json_bool(suspect),
          sl(st.edac_ce_end), sl(st.edac_ue_end), sl(edac_delta(st.edac_ce_start, st.edac_ce_end)),
          sl(edac_delta(st.edac_ue_start, st.edac_ue_end)), k.source, sl(k.crit), sl(k.warn),
          sl(k.info), sl(klog_crit_during(k)), sl(klog_warn_during(k)), kCaveat, unused_json);
}

}  // namespace dravik
