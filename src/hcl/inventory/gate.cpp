// The uniformity gate: whether the modules form a matched set, with the
// reasons they do not in the order the rules find them, and the rule for a
// module that is installed but not in use.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/text.h"
#include "hcl/inventory/inventory.h"

namespace dravik {

namespace {

void add_reason(SetupAssessment& gate, const char* format, ...) __attribute__((format(printf, 2, 3)));

void add_reason(SetupAssessment& gate, const char* format, ...) {
  if (gate.reason_count >= SetupAssessment::kMaxReasons) return;
  va_list args;
  va_start(args, format);
  vsnprintf(gate.reasons[gate.reason_count], sizeof gate.reasons[0], format, args);
  va_end(args);
  ++gate.reason_count;
}

// Two modules of one kit: the same part number when both carry one, else the
// same size, rated speed, type and ECC.
bool same_module(const MemoryModule& a, const MemoryModule& b) {
  if (a.part[0] != '\0' && b.part[0] != '\0') return strcmp(a.part, b.part) == 0;
  return a.size == b.size && a.speed == b.speed && strcmp(a.type, b.type) == 0 && a.ecc == b.ecc;
}

const char* part_or_type(const MemoryModule& m) { return m.part[0] != '\0' ? m.part : m.type; }

}  // namespace

bool unused_module_reason(const MemoryInventory& inv, uint64_t mem_total, char* out, size_t cap,
                          uint64_t page_size) {
  const uint64_t installed = inv.installed_bytes;
  if (inv.installed_count < 1 || mem_total == 0 || installed <= mem_total) return false;
  // The kernel's page map (64 bytes per page) covers the memory it uses and
  // never shows in MemTotal; a missing module leaves a gap of its own size
  // on top of it. With 16 or 64 KiB pages the map is 4 or 16 times smaller
  // than with 4 KiB pages, and allowing for a 4 KiB map there would hide a
  // missing module of up to that difference.
  const uint64_t page_map =
      (installed - inv.smallest_bytes) / (std::max<uint64_t>(page_size, 4096) / 64);
  if (installed - mem_total < inv.smallest_bytes + page_map) return false;
  char have[32];
  char used[32];
  format_size(installed, have, sizeof have);
  format_size(mem_total, used, sizeof used);
  // A reason cut short by a small buffer still names the gap.
  const int n = snprintf(out, cap,
                         "installed %s in %d module%s, the system uses %s: a module may not be in use",
                         have, inv.installed_count, inv.installed_count == 1 ? "" : "s", used);
  return n > 0;
}

std::string unused_module_warning(uint64_t mem_total, const std::string& dmi_path,
                                  uint64_t page_size) {
  MemoryInventory inv;
  JedecReference ref;
  read_memory_inventory(0.0, inv, ref, dmi_path);
  char reason[SetupAssessment::kReasonBytes];
  return unused_module_reason(inv, mem_total, reason, sizeof reason, page_size) ? reason : "";
}

SetupAssessment assess_setup(const MemoryInventory& inv, SetupOverride override_mode,
                             uint64_t mem_total, uint64_t page_size) {
  SetupAssessment gate;
  if (override_mode == SetupOverride::mixed) {
    gate.uniform = 0;
    add_reason(gate, "%s", "test override: forced mixed");
    return gate;
  }
  if (override_mode == SetupOverride::uniform) {
    gate.uniform = 1;
    return gate;
  }
  const int n = inv.module_count;
  if (n < 1) {
    gate.uniform = -1;
    return gate;
  }
  // Kit's own figures against what the system uses: a module that is
  // installed but not in use cannot be qualified as installed.
  char unused[SetupAssessment::kReasonBytes];
  const bool missing = unused_module_reason(inv, mem_total, unused, sizeof unused, page_size);
  if (n == 1) {
    if (missing) add_reason(gate, "%s", unused);
    gate.uniform = missing ? 0 : 1;
    return gate;
  }

  const MemoryModule& first = inv.modules[0];
  bool differs = false;
  for (int k = 1; k < n && !differs; ++k) {
    const MemoryModule& m = inv.modules[k];
    if (same_module(m, first)) continue;
    differs = true;
    add_reason(gate, "%s differs: %s %s vs %s %s", m.locator[0] ? m.locator : "module",
               m.manufacturer, part_or_type(m), first.manufacturer, part_or_type(first));
  }

  // Interleaving needs pairs: an odd count leaves part of the memory on
  // fewer channels.
  const bool odd = n == 3 || (n > 4 && n % 2 == 1);
  if (odd) add_reason(gate, "%d modules populated — odd count runs flex/asymmetric", n);

  if (!differs && !odd) {
    uint64_t channel_a = 0;
    uint64_t channel_b = 0;
    for (int k = 0; k < n; ++k) {
      const MemoryModule& m = inv.modules[k];
      if (strchr(m.locator, 'A') != nullptr) {
        channel_a += m.size;
      } else if (strchr(m.locator, 'B') != nullptr) {
        channel_b += m.size;
      }
    }
    if (channel_a != 0 && channel_b != 0 && channel_a != channel_b) {
      add_reason(gate, "%s", "channel capacities differ — flex mode");
    }
  }

  if (missing) add_reason(gate, "%s", unused);
  gate.uniform = gate.reason_count > 0 ? 0 : 1;
  return gate;
}

}  // namespace dravik
