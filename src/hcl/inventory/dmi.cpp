// The walk over a raw SMBIOS structure table: every memory device with a
// populated slot, decoded (module.cpp) and kept in table order up to the
// inventory's capacity, and what is installed however many slots there are.
// A structure that does not fit ends the walk with what was found before it.
#include <cstddef>
#include <cstdint>

#include "hcl/inventory/inventory.h"

namespace dravik {

namespace {

constexpr uint8_t kEndOfTable = 127;
constexpr uint8_t kMemoryDevice = 17;
// A memory device shorter than this lacks the fields the inventory needs.
constexpr size_t kMinDeviceLength = 21;

// Every structure is a formatted area (its length byte counts the header)
// followed by a string set ended by two zero bytes. Firmware tables are
// trusted for nothing: a length that does not fit, a string set that runs off
// the end or a next structure that would not move forward ends the walk.
// on_device gets every memory device with a populated slot decoded; it
// returns false to end the walk.
template <typename OnDevice>
void for_each_module(const uint8_t* table, size_t len, OnDevice on_device) {
  if (table == nullptr) return;
  size_t o = 0;
  while (o + 4 <= len) {
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
      MemoryModule m;
      if (decode_memory_device(table + o, length, table + set_start, set_end - set_start, m) &&
          !on_device(m)) {
        break;
      }
    }

    if (!terminated) break;
    const size_t next = i + 1;
    if (next <= o || next + 4 > len) break;
    o = next;
  }
}

}  // namespace

int walk_dmi_table(const uint8_t* table, size_t len, MemoryModule* modules, int max_modules) {
  int kept = 0;
  if (max_modules <= 0) return 0;
  for_each_module(table, len, [&](const MemoryModule& m) {
    modules[kept++] = m;
    return kept < max_modules;
  });
  return kept;
}

InstalledMemory installed_memory(const uint8_t* table, size_t len) {
  InstalledMemory total;
  for_each_module(table, len, [&](const MemoryModule& m) {
    ++total.modules;
    total.bytes += m.size;
    if (total.smallest == 0 || m.size < total.smallest) total.smallest = m.size;
    return true;
  });
  return total;
}

}  // namespace dravik
