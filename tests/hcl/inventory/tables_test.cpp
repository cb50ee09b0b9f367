// Real SMBIOS tables from servers, NAS boxes, desktops, laptops and virtual
// machines. Every populated memory device is checked against what dmidecode
// printed for the same table (an independent decoder), and every table's
// channel count, bus width, reference and uniformity verdict against the
// figures the board really has.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "hcl/inventory/inventory.h"
#include "support/test_support.h"

namespace dravik {
namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// A module as dmidecode describes it, already passed through the
// inventory's rules for widths, types and vendor strings.
struct DmidecodeModule {
  uint64_t size = 0;
  int speed = 0;
  int configured_speed = 0;
  int data_width = 64;
  int ecc = 0;
  bool ecc_ambiguous = false;  // data width "Unknown" (0 or 0xFFFF) beside a known total
  std::string type;
  std::string locator;
  std::string bank;
  std::string manufacturer;
  std::string part;
};

// dmidecode says "Unknown" for widths of 0 and 0xFFFF; -1 stands for both.
int width_of(const std::string& v) { return v == "Unknown" ? -1 : std::stoi(v); }

int speed_of(const std::string& v) {
  if (v.empty() || v == "Unknown") return 0;
  return std::stoi(v);
}

uint64_t size_of(const std::string& v) {
  unsigned long long n = 0;
  char unit[8] = "";
  if (sscanf(v.c_str(), "%llu %7s", &n, unit) != 2) return 0;
  const std::map<std::string, int> shift = {{"bytes", 0}, {"kB", 10}, {"MB", 20}, {"GB", 30}, {"TB", 40}};
  const auto it = shift.find(unit);
  return it == shift.end() ? 0 : static_cast<uint64_t>(n) << it->second;
}

std::string type_of(const std::string& v) {
  static const std::set<std::string> named = {"DDR",   "DDR2",   "DDR3",   "DDR4",  "LPDDR",
                                              "LPDDR2", "LPDDR3", "LPDDR4", "DDR5"};
  return named.count(v) ? v : "RAM";
}

// The vendor-string rule: the field's size, trailing blanks gone,
// placeholders empty. dmidecode prints "Not Specified" for string 0 and
// "<BAD INDEX>" for a number past the set; both read as empty.
std::string vendor_text(std::string v, size_t cap) {
  if (v == "<BAD INDEX>") return "";
  v = v.substr(0, cap);
  while (!v.empty() && v.back() == ' ') v.pop_back();
  for (const char* prefix : {"Unknown", "Not Spec", "To Be Filled"}) {
    if (v.rfind(prefix, 0) == 0) return "";
  }
  return v == "NO DIMM" ? "" : v;
}

std::vector<DmidecodeModule> parse_dmidecode(const std::string& text) {
  std::vector<std::map<std::string, std::string>> blocks;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Handle ", 0) == 0) {
      blocks.emplace_back();
      continue;
    }
    if (blocks.empty() || line.empty() || line[0] != '\t') continue;
    const size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    blocks.back()[line.substr(1, colon - 1)] = line.substr(colon + 2);  // trailing blanks kept
  }

  std::vector<DmidecodeModule> modules;
  for (auto& b : blocks) {
    const uint64_t size = size_of(b["Size"]);
    if (size == 0) continue;  // "No Module Installed", "Unknown"
    DmidecodeModule m;
    m.size = size;
    m.speed = speed_of(b["Speed"]);
    m.configured_speed = speed_of(b["Configured Memory Speed"]);
    const int total = width_of(b["Total Width"]);
    const int data = width_of(b["Data Width"]);
    m.data_width = (data >= 8 && data <= 128) ? data : 64;
    m.ecc = (total > 0 && data > 0 && data < total) ? 1 : 0;
    m.ecc_ambiguous = data < 0 && total > 0;
    m.type = type_of(b["Type"]);
    m.locator = b["Locator"].substr(0, 35);
    m.bank = b["Bank Locator"].substr(0, 35);
    m.manufacturer = b.count("Manufacturer") ? vendor_text(b["Manufacturer"], 23) : "";
    m.part = b.count("Part Number") ? vendor_text(b["Part Number"], 27) : "";
    modules.push_back(m);
  }
  return modules;
}

// dmidecode shows unprintable bytes as '.'.
std::string printable(const char* s) {
  std::string out(s);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = '.';
  }
  return out;
}

// A string number 0 and a literal "Not Specified" print alike in dmidecode.
bool same_locator(const char* ours, const std::string& theirs) {
  if (theirs == "Not Specified" && ours[0] == '\0') return true;
  return printable(ours) == theirs;
}

struct TableCase {
  const char* name;
  int modules;   // kept (at most 16)
  int channels;
  int bus_bits;
  int mts;
  const char* source;
  int uniform;
  const char* reason;  // first reason, "" for none
};

constexpr const char* kFromDmi = "from DMI channel locators and data widths";

// What each board really has. Boards that name channels in their bank
// locators count one channel per named channel, not per slot.
const TableCase kTables[] = {
    {"aaeon-up-cht01-sbc", 1, 1, 64, 1600, "assumed single-channel x 64-bit from 1 populated module", 1, ""},
    {"asrock-x399-taichi-ddr4-eccudimm", 2, 2, 128, 1333, kFromDmi, 1, ""},
    {"asrockrack-x570d4u-ddr4-32g", 2, 2, 128, 2400, kFromDmi, 1, ""},
    {"asus-ux305la-lpddr3", 2, 2, 128, 1600, kFromDmi, 1, ""},
    {"beelink-eq12-n100-ddr5-sodimm", 1, 1, 64, 4800, kFromDmi, 1, ""},
    {"dell-poweredge-1800-ddr2", 2, 2, 128, 400, "assumed dual-channel x 64-bit from 2 populated modules", 1, ""},
    {"dell-poweredge-r630-ddr4-ecc", 2, 2, 128, 1866, "assumed dual-channel x 64-bit from 2 populated modules", 1, ""},
    {"dell-poweredge-r7xx-anon-ddr4-ecc", 8, 2, 128, 2133, "assumed dual-channel x 64-bit from 8 populated modules", 0,
     "A3 differs: 002C00B3002C 36ASF2G72PZ-2G1A2 vs 00AD00B300AD HMA42GR7MFR4N-TF"},
    {"dell-precision-3620-ddr4", 2, 2, 128, 2133, "assumed dual-channel x 64-bit from 2 populated modules", 1, ""},
    {"dell-precision-490-fbdimm", 2, 2, 128, 667, "assumed dual-channel x 64-bit from 2 populated modules", 1, ""},
    {"gigabyte-ga-ma74gmt-s2-ddr2", 2, 2, 128, 1066, "assumed dual-channel x 64-bit from 2 populated modules", 1, ""},
    {"gigabyte-x399-aorus-xtreme-ddr4", 8, 4, 256, 2933, kFromDmi, 1, ""},
    {"hp-proliant-dl385g1-mixed-ddr", 8, 2, 128, 400, "assumed dual-channel x 64-bit from 8 populated modules", 0,
     "DIMM 03 differs:  DDR vs  DDR"},
    {"hp-proliant-dl580g5-fbdimm", 12, 2, 128, 667, "assumed dual-channel x 64-bit from 12 populated modules", 0,
     "DIMM 3E          differs:  RAM vs  RAM"},
    {"hyperv-broken-table", 0, 0, 0, 0, "no DMI data", -1, ""},
    {"ibm-x3950m2-ddr2", 16, 2, 128, 533, "assumed dual-channel x 64-bit from 16 populated modules", 0,
     "DIMM3 differs:  DDR2 vs  DDR2"},
    {"lenovo-thinkpad-t430-ddr3", 2, 2, 128, 1600, kFromDmi, 1, ""},
    {"lenovo-thinkpad-t480-mixed", 2, 2, 128, 2400, kFromDmi, 0,
     "ChannelB-DIMM0 differs: Samsung M471A2K43CB1-CRC vs SK Hynix HMAA51S6AMR6N-UH"},
    {"lenovo-thinkpad-t490-mixed-32g", 2, 2, 128, 2400, kFromDmi, 0,
     "ChannelB-DIMM0 differs: Samsung M471A4G43MB1-CTD vs Samsung M471A1K43BB1-CTD"},
    {"lenovo-thinkpad-t61p-ddr2", 2, 2, 128, 667, "assumed dual-channel x 64-bit from 2 populated modules", 1, ""},
    {"lenovo-thinkpad-w510-ddr3", 2, 2, 128, 1334, "assumed dual-channel x 64-bit from 2 populated modules", 1, ""},
    {"ms-surface-laptop3", 2, 2, 128, 2400, kFromDmi, 1, ""},
    {"msi-h87-g43-4x-ddr3", 4, 2, 128, 1600, kFromDmi, 1, ""},
    {"parallels-vm", 1, 1, 32, 0, "assumed single-channel x 32-bit from 1 populated module", 1, ""},
    {"qemu-kvm-old", 1, 1, 64, 0, "assumed single-channel x 64-bit from 1 populated module", 1, ""},
    {"supermicro-h8qg6-32dimm-ddr3-ecc", 16, 2, 128, 667, "assumed dual-channel x 64-bit from 16 populated modules", 1, ""},
    {"supermicro-x10dal-i-ddr4-ecc", 1, 1, 64, 1600, kFromDmi, 1, ""},
    {"supermicro-x9dbl-mixed-ddr3-ecc", 6, 6, 384, 1333, kFromDmi, 0,
     "P1-DIMM1C differs: Micron 36KSF2G72PZ-1G6N1 vs Undefined AL12P72A8BLK0M"},
    {"supermicro-x9drw-mixed-ddr3-ecc", 16, 8, 512, 1333, kFromDmi, 0,
     "P1-DIMMA2 differs: Kingston HP647647-071-HYE vs Micron 18KSF51272PZ-1G4K"},
    {"synology-rs3614xsp-nas-ddr3-ecc", 4, 2, 128, 1600, kFromDmi, 1, ""},
    {"toshiba-satellite-pro-l70-ddr3", 2, 2, 128, 1600, "assumed dual-channel x 64-bit from 2 populated modules", 1, ""},
    {"vmware-esxi-128slots", 1, 1, 32, 0, "assumed single-channel x 32-bit from 1 populated module", 1, ""},
};

void PrintTo(const TableCase& c, std::ostream* os) { *os << c.name; }

std::string case_name(const ::testing::TestParamInfo<TableCase>& info) {
  std::string n = info.param.name;
  for (char& c : n) {
    if (c == '-') c = '_';
  }
  return n;
}

class RealTable : public ::testing::TestWithParam<TableCase> {};

TEST_P(RealTable, EveryPopulatedDeviceDecodesAsDmidecodeReadsIt) {
  const TableCase& c = GetParam();
  const std::string table = read_file(testing::fixture(std::string("dmi/") + c.name + ".bin"));
  const std::string text = read_file(testing::fixture(std::string("dmi/") + c.name + ".dmidecode17.txt"));
  ASSERT_FALSE(table.empty());
  ASSERT_FALSE(text.empty());

  MemoryModule got[MemoryInventory::kMaxModules];
  const int kept = walk_dmi_table(reinterpret_cast<const uint8_t*>(table.data()), table.size(), got,
                                  MemoryInventory::kMaxModules);
  const std::vector<DmidecodeModule> want = parse_dmidecode(text);
  ASSERT_EQ(kept, std::min<int>(want.size(), MemoryInventory::kMaxModules));
  EXPECT_EQ(kept, c.modules);

  for (int m = 0; m < kept; ++m) {
    SCOPED_TRACE("module " + std::to_string(m) + " " + want[m].locator);
    const MemoryModule& g = got[m];
    const DmidecodeModule& w = want[m];
    EXPECT_EQ(g.size, w.size);
    EXPECT_EQ(g.speed, w.speed);
    EXPECT_EQ(g.configured_speed, w.configured_speed);
    EXPECT_EQ(g.data_width, w.data_width);
    ASSERT_FALSE(w.ecc_ambiguous) << "dmidecode's width text cannot tell the ECC rule's outcome";
    EXPECT_EQ(g.ecc, w.ecc);
    EXPECT_EQ(g.type, w.type);
    EXPECT_TRUE(same_locator(g.locator, w.locator)) << "'" << g.locator << "' vs '" << w.locator << "'";
    EXPECT_TRUE(same_locator(g.bank, w.bank)) << "'" << g.bank << "' vs '" << w.bank << "'";
    EXPECT_EQ(printable(g.manufacturer), w.manufacturer);
    EXPECT_EQ(printable(g.part), w.part);
  }
}

TEST_P(RealTable, ChannelsReferenceAndGateMatchTheBoard) {
  const TableCase& c = GetParam();
  MemoryInventory inv;
  JedecReference ref;
  read_memory_inventory(0.0, inv, ref, testing::fixture(std::string("dmi/") + c.name + ".bin"));
  EXPECT_EQ(inv.module_count, c.modules);
  EXPECT_EQ(inv.channel_count, c.channels);
  EXPECT_EQ(inv.bus_bits, c.bus_bits);
  EXPECT_EQ(inv.max_mts, c.mts);
  EXPECT_STREQ(ref.channels_src, c.source);
  EXPECT_DOUBLE_EQ(ref.theoretical_gbs, c.mts * (c.bus_bits / 8.0) / 1000.0);

  const SetupAssessment gate = assess_setup(inv, SetupOverride::none);
  EXPECT_EQ(gate.uniform, c.uniform);
  if (c.reason[0] == '\0') {
    EXPECT_EQ(gate.reason_count, 0);
  } else {
    ASSERT_GE(gate.reason_count, 1);
    EXPECT_STREQ(gate.reasons[0], c.reason);
  }
}

INSTANTIATE_TEST_SUITE_P(Dmi, RealTable, ::testing::ValuesIn(kTables), case_name);

// A table added to the fixtures without a row above would go untested.
TEST(RealTables, EveryFixtureTableHasItsExpectations) {
  std::set<std::string> listed;
  for (const TableCase& c : kTables) listed.insert(c.name);
  std::set<std::string> found;
  DIR* dir = opendir(testing::fixture("dmi").c_str());
  ASSERT_NE(dir, nullptr);
  while (dirent* e = readdir(dir)) {
    const std::string n = e->d_name;
    if (n.size() > 4 && n.compare(n.size() - 4, 4, ".bin") == 0) found.insert(n.substr(0, n.size() - 4));
  }
  closedir(dir);
  EXPECT_EQ(found, listed);
  EXPECT_EQ(found.size(), 32u);
}

// Every real table with the MemTotal its box plausibly reports
// (dmi/memtotal.txt): every populated slot counts, also past the 16 kept; no
// table raises the unused-module reason with all its modules in use, and
// every one with two or more does when its smallest module is not in use.
TEST(RealTables, UnusedModuleOnlyWhenTheSystemSeesOneModuleLess) {
  std::ifstream data(testing::fixture("dmi/memtotal.txt"));
  int tables = 0;
  std::string name;
  for (std::string line; std::getline(data, line);) {
    int modules = 0;
    uint64_t installed_mib = 0, memtotal_kb = 0, without_kb = 0;
    if (!(std::istringstream(line) >> name >> modules >> installed_mib >> memtotal_kb >> without_kb)) continue;
    SCOPED_TRACE(name);
    ++tables;
    MemoryInventory inv;
    JedecReference ref;
    read_memory_inventory(0.0, inv, ref, testing::fixture("dmi/" + name + ".bin"));
    EXPECT_EQ(inv.installed_count, modules);
    EXPECT_EQ(inv.installed_bytes, installed_mib << 20);
    const SetupAssessment all_in = assess_setup(inv, SetupOverride::none, memtotal_kb << 10);
    for (int r = 0; r < all_in.reason_count; ++r) EXPECT_EQ(strstr(all_in.reasons[r], "in use"), nullptr);
    if (without_kb == 0) continue;
    const SetupAssessment one_out = assess_setup(inv, SetupOverride::none, without_kb << 10);
    EXPECT_EQ(one_out.uniform, 0);
    EXPECT_NE(strstr(one_out.reasons[std::max(one_out.reason_count - 1, 0)], "a module may not be in use"), nullptr);
  }
  EXPECT_EQ(tables, 32);
  EXPECT_EQ(unused_module_warning(8ull << 30, testing::fixture("dmi/missing.bin")), "") << "no table";
}

// The Hyper-V table holds a structure of length 0 long before its memory
// devices; the walk stops there, as dmidecode does, and reports nothing.
TEST(RealTables, BrokenTableEndsTheWalkWithNothingFound) {
  MemoryInventory inv;
  JedecReference ref;
  read_memory_inventory(0.0, inv, ref, testing::fixture("dmi/hyperv-broken-table.bin"));
  EXPECT_EQ(inv.module_count, 0);
  EXPECT_EQ(inv.channel_count, 0);
  EXPECT_EQ(ref.theoretical_gbs, 0.0);
  EXPECT_EQ(assess_setup(inv, SetupOverride::none).uniform, -1);
}

}  // namespace
}  // namespace dravik
