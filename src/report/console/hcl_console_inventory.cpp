#include <cstdio>

#include "core/output_check.h"
#include "core/text.h"
#include "cpu/features.h"
#include "hcl/inventory/inventory.h"
#include "report/console/hcl_console_output.h"

namespace dravik {

namespace {

const char* plural(int n) { return n == 1 ? "" : "s"; }

void module_line(FILE* out, const MemoryModule& m) {
  char size[32];
  format_size(m.size, size, sizeof size);
  const bool downclocked = m.configured_speed > 0 && m.configured_speed < m.speed;
  fprintf(out, " dimm     : %-16s %8s %-6s %d MT/s%s%s%s%s%s%s\n",
          m.locator[0] ? m.locator : "?", size, m.type, m.effective_speed(),
          m.ecc ? " ECC" : "", downclocked ? " (downclocked)" : "",
          m.manufacturer[0] ? "  " : "", m.manufacturer, m.part[0] ? " " : "", m.part);
}

// The reference line speaks of the firmware's data alone: an operator
// figure does not hide that the table said nothing.
void jedec_line(FILE* out, const MemoryInventory& inv, const JedecReference& ref) {
  if (inv.module_count < 1) {
    fprintf(out,
            " jedec    : no DMI memory data (%s) — bandwidth efficiency will be UNQUALIFIED;\n"
            "            supply --jedec-gbs <GB/s> to enable the efficiency criterion\n",
            inv.module_count < 0 ? "no /sys/firmware/dmi" : "0 populated entries");
  } else if (ref.theoretical_gbs > 0) {
    fprintf(out, " jedec    : %d-bit bus (%d channel%s) x %d MT/s = %.1f GB/s theoretical (%s)\n",
            inv.bus_bits, inv.channel_count, plural(inv.channel_count), inv.max_mts,
            ref.theoretical_gbs, ref.channels_src);
  } else {
    fputs(" jedec    : DMI reports no memory speed — bandwidth efficiency will be\n"
          "            UNQUALIFIED; supply --jedec-gbs <GB/s> to enable the criterion\n",
          out);
  }
}

}  // namespace

void ConsoleHclOutput::info(const HclInfo& info, const MemoryInventory& inv,
                            const JedecReference& ref) {
  fprintf(out_,
          "\ndravik HCL qualification  (%d thread%s on %d cpu%s, %d NUMA node%s, affinity:%s, "
          "simd:%s)\n",
          info.threads, plural(info.threads), info.cpus, plural(info.cpus), info.numa_nodes,
          info.numa_nodes > 1 ? "s" : "", info.affinity ? "on" : "OFF", cpu::kSimdName);
  char total[32];
  char per_thread[32];
  format_size(info.arena_bytes, total, sizeof total);
  format_size(info.arena_per_thread, per_thread, sizeof per_thread);
  fprintf(out_, " arena    : %s total (%s per thread, mlock:%s)\n", total, per_thread,
          info.mlocked ? "yes" : "no");

  for (int m = 0; m < inv.module_count; ++m) module_line(out_, inv.modules[m]);
  jedec_line(out_, inv, ref);

  if (info.arenas_allocated < info.threads) {
    fprintf(out_, " warning  : only %d/%d arenas allocated\n", info.arenas_allocated, info.threads);
  }
  flush_output(out_);
}

void ConsoleHclOutput::setup(const SetupAssessment& gate, double load1, double, bool busy,
                             int cpus) {
  if (gate.uniform == 0) {
    fputs("\n !! SETUP NOT ELIGIBLE FOR QA — mixed/asymmetric memory set:\n", out_);
    for (int r = 0; r < gate.reason_count; ++r) fprintf(out_, "    - %s\n", gate.reasons[r]);
    fputs("    Run continues for information only; the QA verdict will be FAIL.\n", out_);
  } else if (gate.uniform < 0) {
    fputs(" setup    : DMI silent — kit uniformity UNKNOWN (VM?), gate not applied\n", out_);
  }
  if (busy) {
    fprintf(out_,
            " preflight: system BUSY (load1 %.2f on %d cpus) — bandwidth criteria may demote to "
            "INCONCLUSIVE\n",
            load1, cpus);
  }
  flush_output(out_);
}

}  // namespace dravik
