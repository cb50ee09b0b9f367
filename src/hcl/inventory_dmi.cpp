#include <cstddef>
#include <cstdint>

#include "hcl/inventory.h"

namespace dravik {

namespace {

constexpr uint8_t kEndOfTable = 127;
constexpr uint8_t kMemoryDevice = 17;
// A memory device shorter than this lacks the fields the inventory needs.
constexpr size_t kMinDeviceLength = 21;

}  // namespace

// Every structure is a formatted area (its length byte counts the header)
// followed by a string set ended by two zero bytes. Firmware tables are
// trusted for nothing: a length that does not fit, a string set that runs off
// the end or a next structure that would not move forward ends the walk.
int walk_dmi_table(const uint8_t* table, size_t len, MemoryModule* modules, int max_modules) {
  if (table == nullptr) return 0;
  int kept = 0;
  size_t o = 0;
  while (o + 4 <= len && kept < max_modules) {
    const uint8_t type = table[o];
    const size_t length = table[o + 1];
    if (length <= 3 || o + length > len) break;

    // The string set starts at o + length; it ends at the first pair of
    // zero bytes from there on (an empty set is the pair alone).
    size_t i = o + length + 1;
    while (i < len && !(table[i - 1] == 0 && table[i] == 0)) ++i;
    const bool terminated = i < len;
    const size_t set_end = terminated ? i + 1 : len;

    if (type == kEndOfTable) break;
    if (type == kMemoryDevice && length >= kMinDeviceLength) {
      const size_t set_start = o + length;
      if (decode_memory_device(table + o, length, table + set_start, set_end - set_start,
                               modules[kept])) {
        ++kept;
      }
    }

    if (!terminated) break;
    const size_t next = i + 1;
    if (next <= o || next + 4 > len) break;
    o = next;
  }
  return kept;
}

}  // namespace dravik
