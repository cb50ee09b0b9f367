// The channels the kit fills, named by the modules' locators, and the
// bandwidth they give in theory (or the operator's figure); then the whole
// inventory from the table's bytes or the table file.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "hcl/inventory/inventory.h"

namespace dravik {

namespace {

bool is_key_end(char c) { return c == '\0' || c == '_' || c == '-' || c == ' '; }

// The channel named in one locator string, upper-cased: the text from its
// start to the end of the channel's identifier. The identifier is either
// glued to the word ("CHANNELA-DIMM0", "P0_NODE0_CHANNEL1_DIMM0") or the one
// word after a single blank ("P0 CHANNEL A"), so that the letter of a
// bank-named channel is kept.
bool key_in(const char* text, char* key, size_t cap) {
  char upper[sizeof MemoryModule::locator];
  size_t n = 0;
  for (; text[n] != '\0' && n + 1 < sizeof upper; ++n) {
    upper[n] = static_cast<char>(toupper(static_cast<unsigned char>(text[n])));
  }
  upper[n] = '\0';

  size_t word = 7;
  const char* match = strstr(upper, "CHANNEL");
  if (match == nullptr) {
    word = 4;
    match = strstr(upper, "CHAN");
  }
  if (match == nullptr) return false;

  const char* end = match + 4;
  while (!is_key_end(*end)) ++end;
  if (static_cast<size_t>(end - match) == word && end[0] == ' ' && !is_key_end(end[1])) {
    ++end;
    while (!is_key_end(*end)) ++end;
  }
  size_t key_len = static_cast<size_t>(end - upper);
  if (key_len + 1 > cap) key_len = cap - 1;
  memcpy(key, upper, key_len);
  key[key_len] = '\0';
  return true;
}

constexpr int kMaxChannels = 16;
constexpr size_t kKeyCap = 72;

}  // namespace

// The locator names the channel when it can; boards that put the channel in
// the bank ("P0 CHANNEL A", "P0_Node0_Channel0_Dimm0") name the slot in the
// locator, which must not become part of the key or every slot would count
// as a channel of its own.
bool channel_key(const MemoryModule& module, char* key, size_t cap) {
  if (cap == 0) return false;
  return key_in(module.locator, key, cap) || key_in(module.bank, key, cap);
}

void derive_reference(MemoryInventory& inv, JedecReference& ref, double jedec_gbs) {
  ref = JedecReference{};
  inv.channel_count = 0;
  inv.bus_bits = 0;
  inv.max_mts = 0;

  if (inv.module_count >= 1) {
    char keys[kMaxChannels][kKeyCap];
    int widths[kMaxChannels];
    int key_count = 0;
    for (int m = 0; m < inv.module_count; ++m) {
      char key[kKeyCap];
      if (!channel_key(inv.modules[m], key, sizeof key)) continue;
      bool seen = false;
      for (int k = 0; k < key_count && !seen; ++k) seen = strcmp(keys[k], key) == 0;
      if (seen || key_count == kMaxChannels) continue;
      memcpy(keys[key_count], key, sizeof key);
      widths[key_count] = inv.modules[m].data_width > 0 ? inv.modules[m].data_width : 64;
      ++key_count;
    }

    if (key_count > 0) {
      inv.channel_count = key_count;
      for (int k = 0; k < key_count; ++k) inv.bus_bits += widths[k];
      snprintf(ref.channels_src, sizeof ref.channels_src, "%s",
               "from DMI channel locators and data widths");
    } else {
      // No channel names: one module fills one channel; more are assumed to
      // fill the two channels of a desktop board.
      const bool single = inv.module_count == 1;
      const int width = inv.modules[0].data_width > 0 ? inv.modules[0].data_width : 64;
      inv.channel_count = single ? 1 : 2;
      inv.bus_bits = inv.channel_count * width;
      snprintf(ref.channels_src, sizeof ref.channels_src,
               "assumed %s x %d-bit from %d populated module%s",
               single ? "single-channel" : "dual-channel", width, inv.module_count,
               single ? "" : "s");
    }

    for (int m = 0; m < inv.module_count; ++m) {
      const int mts = inv.modules[m].effective_speed();
      if (mts > inv.max_mts) inv.max_mts = mts;
    }
    if (inv.max_mts >= 1 && inv.bus_bits >= 1) {
      // MT/s x bytes per transfer, in GB/s.
      ref.theoretical_gbs = inv.max_mts * (inv.bus_bits * 0.125) / 1000.0;
    }
  }

  if (jedec_gbs > 0) {
    ref.theoretical_gbs = jedec_gbs;
    snprintf(ref.channels_src, sizeof ref.channels_src, "%s", "operator override (--jedec-gbs)");
  }
}

void inventory_from_table(const uint8_t* table, size_t len, double jedec_gbs,
                          MemoryInventory& inv, JedecReference& ref) {
  if (table == nullptr) {
    inv.module_count = -1;
  } else {
    inv.module_count = walk_dmi_table(table, len, inv.modules, MemoryInventory::kMaxModules);
    const InstalledMemory installed = installed_memory(table, len);
    inv.installed_count = installed.modules;
    inv.installed_bytes = installed.bytes;
    inv.smallest_bytes = installed.smallest;
  }
  derive_reference(inv, ref, jedec_gbs);
}

void read_memory_inventory(double jedec_gbs, MemoryInventory& inv, JedecReference& ref,
                           const std::string& dmi_path) {
  FILE* f = fopen(dmi_path.c_str(), "rb");
  if (f == nullptr) {
    inventory_from_table(nullptr, 0, jedec_gbs, inv, ref);
    return;
  }
  std::vector<uint8_t> table(kDmiTableMaxBytes);
  const size_t got = fread(table.data(), 1, table.size(), f);
  fclose(f);
  // An empty file, or one whose read fails, is no table: the firmware
  // described nothing, which is not a table that lists no populated slot.
  inventory_from_table(got > 0 ? table.data() : nullptr, got, jedec_gbs, inv, ref);
}

}  // namespace dravik
