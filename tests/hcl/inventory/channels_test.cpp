// Channel keys, bus width and the theoretical bandwidth derived from the
// modules, and the operator's override.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hcl/inventory/inventory.h"
#include "support/test_support.h"

namespace dravik {
namespace {

MemoryModule module_at(const char* locator, const char* bank, int width = 64, int speed = 3200,
                       int configured = 3200) {
  MemoryModule m;
  m.size = 8ull << 30;
  snprintf(m.locator, sizeof m.locator, "%s", locator);
  snprintf(m.bank, sizeof m.bank, "%s", bank);
  m.data_width = width;
  m.speed = speed;
  m.configured_speed = configured;
  snprintf(m.type, sizeof m.type, "DDR4");
  return m;
}

struct KeyCase {
  const char* locator;
  const char* bank;
  const char* key;  // nullptr: no channel named
};

// Firmware spellings of a channel, and the key each gives.
const KeyCase kKeys[] = {
    {"ChannelA-DIMM0", "BANK 0", "CHANNELA"},
    {"ChannelB-DIMM1", "BANK 3", "CHANNELB"},
    {"Controller0-ChannelA-DIMM0", "BANK 0", "CONTROLLER0-CHANNELA"},
    {"Controller1-ChannelA-DIMM0", "BANK 0", "CONTROLLER1-CHANNELA"},
    {"DIMM 0", "P0 CHANNEL A", "P0 CHANNEL A"},
    {"DIMM 1", "P0 CHANNEL D", "P0 CHANNEL D"},
    {"P1-DIMMA1", "P0_Node0_Channel0_Dimm0", "P0_NODE0_CHANNEL0"},
    {"P2-DIMMH2", "P1_Node1_Channel3_Dimm1", "P1_NODE1_CHANNEL3"},
    {"DIMM 0", "CHANNEL 0", "CHANNEL 0"},
    {"CHANNEL A DIMM 1", "", "CHANNEL A"},
    {"ChannelA DIMM0", "", "CHANNELA"},          // identifier glued on: the next word is the slot
    {"Chan1 DIMM 2", "", "CHAN1"},
    {"DIMM 2", "Chan B", "CHAN B"},
    {"CHANNEL", "BANK 0", "CHANNEL"},
    {"CHANNEL  A", "", "CHANNEL"},               // two blanks: not one identifier
    {"ChannelB-DIMM0", "P0 CHANNEL A", "CHANNELB"},  // the locator wins
    {"A1", "", nullptr},
    {"DIMM 1", "Bank 0/1", nullptr},
    {"DIMM1", "Node1/Bank1/MemCard1", nullptr},
    {"", "", nullptr},
};

TEST(ChannelKey, TakenFromTheStringThatNamesTheChannel) {
  for (const KeyCase& c : kKeys) {
    SCOPED_TRACE(std::string(c.locator) + " | " + c.bank);
    char key[72] = "untouched";
    const bool found = channel_key(module_at(c.locator, c.bank), key, sizeof key);
    ASSERT_EQ(found, c.key != nullptr);
    if (found) {
      EXPECT_STREQ(key, c.key);
    }
  }
}

TEST(ChannelKey, KeyIsCutToItsBuffer) {
  char key[6];
  ASSERT_TRUE(channel_key(module_at("ChannelA-DIMM0", ""), key, sizeof key));
  EXPECT_STREQ(key, "CHANN");
}

struct ReferenceCase {
  const char* name;
  std::vector<MemoryModule> modules;
  int channels;
  int bus_bits;
  int max_mts;
  double gbs;
  const char* source;
};

std::vector<ReferenceCase> reference_cases() {
  return {
      {"two_named_channels",
       {module_at("ChannelA-DIMM0", "BANK 0"), module_at("ChannelB-DIMM0", "BANK 2")},
       2, 128, 3200, 51.2, "from DMI channel locators and data widths"},
      {"two_slots_per_channel",
       {module_at("ChannelA-DIMM0", ""), module_at("ChannelA-DIMM1", ""), module_at("ChannelB-DIMM0", ""),
        module_at("ChannelB-DIMM1", "")},
       2, 128, 3200, 51.2, "from DMI channel locators and data widths"},
      {"bank_named_channels_count_once_each",
       {module_at("DIMM 0", "P0 CHANNEL A"), module_at("DIMM 1", "P0 CHANNEL A"), module_at("DIMM 0", "P0 CHANNEL B"),
        module_at("DIMM 1", "P0 CHANNEL B"), module_at("DIMM 0", "P0 CHANNEL C"), module_at("DIMM 0", "P0 CHANNEL D")},
       4, 256, 3200, 102.4, "from DMI channel locators and data widths"},
      {"channel_width_from_its_first_module",
       {module_at("ChannelA-DIMM0", "", 32), module_at("ChannelA-DIMM1", "", 64), module_at("ChannelB-DIMM0", "", 64)},
       2, 96, 3200, 38.4, "from DMI channel locators and data widths"},
      {"unnamed_modules_add_nothing_beside_named_ones",
       {module_at("ChannelA-DIMM0", ""), module_at("DIMM 9", "")},
       1, 64, 3200, 25.6, "from DMI channel locators and data widths"},
      {"four_unnamed_modules_assume_dual_channel",
       {module_at("A1", ""), module_at("A2", ""), module_at("B1", ""), module_at("B2", "")},
       2, 128, 3200, 51.2, "assumed dual-channel x 64-bit from 4 populated modules"},
      {"one_unnamed_module_single_channel", {module_at("DIMM 0", "", 32)},
       1, 32, 3200, 12.8, "assumed single-channel x 32-bit from 1 populated module"},
      {"downclocked_module_counts_at_its_configured_speed",
       {module_at("A1", "", 64, 3200, 2666), module_at("A2", "", 64, 3200, 2666)},
       2, 128, 2666, 42.656, "assumed dual-channel x 64-bit from 2 populated modules"},
      {"rated_speed_when_no_configured_speed",
       {module_at("A1", "", 64, 2133, 0), module_at("A2", "", 64, 2400, 0)},
       2, 128, 2400, 38.4, "assumed dual-channel x 64-bit from 2 populated modules"},
      {"no_speed_no_reference", {module_at("DIMM 0", "", 64, 0, 0)},
       1, 64, 0, 0.0, "assumed single-channel x 64-bit from 1 populated module"},
  };
}

TEST(JedecReference, ChannelsBusAndBandwidthFromTheModules) {
  for (const ReferenceCase& c : reference_cases()) {
    SCOPED_TRACE(c.name);
    MemoryInventory inv;
    inv.module_count = static_cast<int>(c.modules.size());
    for (size_t m = 0; m < c.modules.size(); ++m) inv.modules[m] = c.modules[m];
    JedecReference ref;
    derive_reference(inv, ref, 0.0);
    EXPECT_EQ(inv.channel_count, c.channels);
    EXPECT_EQ(inv.bus_bits, c.bus_bits);
    EXPECT_EQ(inv.max_mts, c.max_mts);
    EXPECT_NEAR(ref.theoretical_gbs, c.gbs, 1e-9);
    EXPECT_STREQ(ref.channels_src, c.source);

    // The operator's figure replaces the reference, never the DMI figures.
    derive_reference(inv, ref, 25.0);
    EXPECT_EQ(ref.theoretical_gbs, 25.0);
    EXPECT_STREQ(ref.channels_src, "operator override (--jedec-gbs)");
    EXPECT_EQ(inv.channel_count, c.channels);
    EXPECT_EQ(inv.bus_bits, c.bus_bits);
  }
}

TEST(JedecReference, SixteenChannelKeysAtMost) {
  MemoryInventory inv;
  inv.module_count = 16;
  for (int m = 0; m < 16; ++m) {
    inv.modules[m] = module_at(("Channel" + std::to_string(m) + "-DIMM0").c_str(), "", 128);
  }
  JedecReference ref;
  derive_reference(inv, ref, 0.0);
  EXPECT_EQ(inv.channel_count, 16);
  EXPECT_EQ(inv.bus_bits, 16 * 128);
  EXPECT_NEAR(ref.theoretical_gbs, 3200 * 256 / 1000.0, 1e-9);
}

TEST(JedecReference, NoTableOrNoModules) {
  testing::TempDir dir;
  const struct {
    const char* what;
    std::string path;
    int module_count;
  } cases[] = {
      {"no table file (most ARM boards, many VMs)", dir.sub("no-such-table"), -1},
      {"an empty table file is no table either", dir.write("zero-bytes", ""), -1},
      {"a table read whole but holding no memory device",
       dir.write("empty-table", std::string("\x7f\x04\x00\x00\x00\x00", 6)), 0},
  };
  for (double override_gbs : {0.0, 25.0}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.what) + " " + std::to_string(override_gbs));
      MemoryInventory inv;
      JedecReference ref;
      read_memory_inventory(override_gbs, inv, ref, c.path);
      EXPECT_EQ(inv.module_count, c.module_count);
      EXPECT_EQ(inv.channel_count, 0);
      EXPECT_EQ(inv.bus_bits, 0);
      EXPECT_EQ(inv.max_mts, 0);
      EXPECT_EQ(ref.theoretical_gbs, override_gbs);
      EXPECT_STREQ(ref.channels_src,
                   override_gbs > 0 ? "operator override (--jedec-gbs)" : "no DMI data");
    }
  }
}

// The file is read up to 256 KiB: a device placed after that is not seen.
TEST(JedecReference, TableFileReadUpToItsLimit) {
  const std::string device = [] {
    std::string s(40, '\0');
    s[0] = 17;
    s[1] = 40;
    s[0x0A] = 64;
    s[0x0C] = 0x00;
    s[0x0D] = 0x20;  // 8192 MiB
    s[0x10] = 1;
    return s + "DIMM0" + '\0' + '\0';
  }();
  // Filler: structures of type 1 with no strings, 10 bytes each.
  const std::string filler = std::string("\x01\x08\x00\x00\x00\x00\x00\x00\x00\x00", 10);
  std::string before;
  while (before.size() + filler.size() + device.size() <= kDmiTableMaxBytes) before += filler;
  std::string after;
  while (after.size() < kDmiTableMaxBytes) after += filler;

  testing::TempDir dir;
  MemoryInventory inv;
  JedecReference ref;
  read_memory_inventory(0.0, inv, ref, dir.write("inside", before + device));
  EXPECT_EQ(inv.module_count, 1);
  read_memory_inventory(0.0, inv, ref, dir.write("outside", after + device));
  EXPECT_EQ(inv.module_count, 0);
}

}  // namespace
}  // namespace dravik
