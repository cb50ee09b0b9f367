// Feeds arbitrary bytes to the SMBIOS walk and the inventory built on it: no
// read outside the table, no overflow, and every kept module within the rules
// whatever the firmware claims.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hcl/inventory/inventory.h"

namespace {

bool terminated_within(const char* s, size_t cap) { return memchr(s, '\0', cap) != nullptr; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dravik;
  // An exact-size copy so that AddressSanitizer sees any read past the end.
  std::vector<uint8_t> table(data, data + size);

  MemoryInventory inv;
  JedecReference ref;
  inventory_from_table(table.empty() ? nullptr : table.data(), table.size(), 0.0, inv, ref);
  if (table.empty()) return 0;

  if (inv.module_count < 0 || inv.module_count > MemoryInventory::kMaxModules) abort();
  for (int m = 0; m < inv.module_count; ++m) {
    const MemoryModule& mod = inv.modules[m];
    if (mod.size == 0) abort();
    if (mod.data_width < 8 || mod.data_width > 128) abort();
    if (!terminated_within(mod.type, sizeof mod.type) || !terminated_within(mod.locator, sizeof mod.locator) ||
        !terminated_within(mod.bank, sizeof mod.bank) ||
        !terminated_within(mod.manufacturer, sizeof mod.manufacturer) ||
        !terminated_within(mod.part, sizeof mod.part)) {
      abort();
    }
  }
  if (inv.module_count > 0) {
    if (inv.channel_count < 1 || inv.channel_count > 16) abort();
    if (inv.bus_bits < 8 || inv.bus_bits > 16 * 128) abort();
  }
  if (ref.theoretical_gbs < 0) abort();

  const SetupAssessment gate = assess_setup(inv, SetupOverride::none);
  if (gate.reason_count < 0 || gate.reason_count > SetupAssessment::kMaxReasons) abort();
  for (int r = 0; r < gate.reason_count; ++r) {
    if (!terminated_within(gate.reasons[r], sizeof gate.reasons[r])) abort();
  }
  return 0;
}
