#include <cinttypes>
#include <cstdio>

#include "core/output_check.h"
#include "core/text.h"
#include "cpu/features.h"
#include "hcl/inventory/inventory.h"
#include "report/json/hcl_json_output.h"

namespace dravik {

namespace {

const char* json_flag(bool value) { return value ? "true" : "false"; }

void module_object(FILE* out, const MemoryModule& m, bool first) {
  char loc[80];
  char bank[80];
  char mfg[56];
  char part[64];
  json_escape(m.locator, loc, sizeof loc);
  json_escape(m.bank, bank, sizeof bank);
  json_escape(m.manufacturer, mfg, sizeof mfg);
  json_escape(m.part, part, sizeof part);
  fprintf(out,
          "%s{\"loc\":\"%s\",\"bank\":\"%s\",\"size\":%" PRIu64
          ",\"type\":\"%s\",\"mts\":%d,\"cfg_mts\":%d,\"ecc\":%s,\"mfg\":\"%s\",\"part\":\"%s\"}",
          first ? "" : ",", loc, bank, m.size, m.type, m.speed, m.configured_speed,
          json_flag(m.ecc != 0), mfg, part);
}

}  // namespace

void JsonHclOutput::info(const HclInfo& info, const MemoryInventory& inv,
                         const JedecReference& ref) {
  fprintf(out_,
          "{\"event\":\"hcl_info\",\"cpus\":%d,\"threads\":%d,\"numa_nodes\":%d,\"affinity\":%s,"
          "\"simd\":\"%s\",\"arena_bytes\":%" PRIu64 ",\"arena_per_thread\":%" PRIu64
          ",\"duration\":%d,\"theoretical_gbs\":%.2f,\"channels\":%d,\"bus_bits\":%d,\"mts\":%d,"
          "\"channels_src\":\"%s\",\"dimms\":[",
          info.cpus, info.threads, info.numa_nodes, json_flag(info.affinity), cpu::kSimdName,
          info.arena_bytes, info.arena_per_thread, info.duration, json_figure(ref.theoretical_gbs),
          inv.channel_count, inv.bus_bits, inv.max_mts, ref.channels_src);
  for (int m = 0; m < inv.module_count; ++m) module_object(out_, inv.modules[m], m == 0);
  fputs("]}\n", out_);
  flush_output(out_);
}

void JsonHclOutput::setup(const SetupAssessment& gate, double load1, double psi_mem10, bool busy,
                          int) {
  const char* uniform = gate.uniform > 0 ? "true" : gate.uniform == 0 ? "false" : "null";
  fprintf(out_, "{\"event\":\"hcl_setup\",\"uniform\":%s,\"reasons\":[", uniform);
  for (int r = 0; r < gate.reason_count; ++r) {
    char reason[192];
    json_escape(gate.reasons[r], reason, sizeof reason);
    fprintf(out_, "%s\"%s\"", r == 0 ? "" : ",", reason);
  }
  fprintf(out_, "],\"load1\":%.2f,\"psi_mem10\":%.2f,\"busy\":%s}\n", json_figure(load1),
          json_figure(psi_mem10),
          json_flag(busy));
  flush_output(out_);
}

}  // namespace dravik
