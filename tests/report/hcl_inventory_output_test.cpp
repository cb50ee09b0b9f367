// The inventory and preflight reports of a qualification: console lines and
// the hcl_info / hcl_setup JSON lines, byte for byte.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "hcl/inventory/inventory.h"
#include "report/console/hcl_console_output.h"
#include "report/json/hcl_json_output.h"
#include "report/json/json_capture.h"

// The vector kind the reports name: each processor's own.
#if defined(__aarch64__)
#define SIMD_KIND "neon-nt"
#else
#define SIMD_KIND "sse2-nt"
#endif

namespace dravik {
namespace {

using testing::ojson;

template <typename Write>
std::string written(Write write) {
  char* buf = nullptr;
  size_t len = 0;
  FILE* f = open_memstream(&buf, &len);
  write(f);
  fclose(f);
  std::string s(buf, len);
  free(buf);
  return s;
}

MemoryModule dimm(const char* locator, const char* bank, const char* maker, const char* part, int speed,
                  int configured, int ecc) {
  MemoryModule m;
  m.size = 8ull << 30;
  m.speed = speed;
  m.configured_speed = configured;
  m.ecc = ecc;
  snprintf(m.type, sizeof m.type, "DDR4");
  snprintf(m.locator, sizeof m.locator, "%s", locator);
  snprintf(m.bank, sizeof m.bank, "%s", bank);
  snprintf(m.manufacturer, sizeof m.manufacturer, "%s", maker);
  snprintf(m.part, sizeof m.part, "%s", part);
  return m;
}

// Two named channels, the first module downclocked, the second without
// locator or maker.
void two_channel_kit(MemoryInventory& inv, JedecReference& ref, double jedec_gbs = 0.0) {
  inv = MemoryInventory{};
  inv.module_count = 2;
  inv.modules[0] = dimm("ChannelA-DIMM0", "BANK 0", "Samsung", "M471A1K43DB1-CWE", 3200, 2666, 1);
  inv.modules[1] = dimm("", "ChannelB", "", "M471A1K43DB1-CWE", 2666, 0, 0);
  inv.modules[1].size = 1ull << 20;
  derive_reference(inv, ref, jedec_gbs);
}

HclInfo run_info() {
  HclInfo info;
  info.cpus = 4;
  info.threads = 2;
  info.numa_nodes = 1;
  info.affinity = true;
  info.mlocked = true;
  info.arena_bytes = 64ull << 20;
  info.arena_per_thread = 32ull << 20;
  info.duration = 60;
  info.arenas_allocated = 2;
  return info;
}

TEST(HclConsoleInventory, HeaderArenaModulesAndReferenceLines) {
  MemoryInventory inv;
  JedecReference ref;
  two_channel_kit(inv, ref);
  const std::string got = written([&](FILE* f) { ConsoleHclOutput(f).info(run_info(), inv, ref); });
  EXPECT_EQ(got,
            "\ndravik HCL qualification  (2 threads on 4 cpus, 1 NUMA node, affinity:on, simd:" SIMD_KIND ")\n"
            " arena    : 64.00MiB total (32.00MiB per thread, mlock:yes)\n"
            " dimm     : ChannelA-DIMM0    8.00GiB DDR4   2666 MT/s ECC (downclocked)  Samsung M471A1K43DB1-CWE\n"
            " dimm     : ?                 1.00MiB DDR4   2666 MT/s M471A1K43DB1-CWE\n"
            " jedec    : 128-bit bus (2 channels) x 2666 MT/s = 42.7 GB/s theoretical (from DMI channel "
            "locators and data widths)\n");
}

TEST(HclConsoleInventory, SingularsPluralsAndTheArenaWarning) {
  MemoryInventory inv;
  inv.module_count = 1;
  inv.modules[0] = dimm("DIMM 0", "", "", "", 1600, 0, 0);
  JedecReference ref;
  derive_reference(inv, ref, 0.0);
  HclInfo info = run_info();
  info.threads = 3;
  info.cpus = 1;
  info.numa_nodes = 2;
  info.affinity = false;
  info.mlocked = false;
  info.arenas_allocated = 2;
  const std::string got = written([&](FILE* f) { ConsoleHclOutput(f).info(info, inv, ref); });
  EXPECT_EQ(got,
            "\ndravik HCL qualification  (3 threads on 1 cpu, 2 NUMA nodes, affinity:OFF, simd:" SIMD_KIND ")\n"
            " arena    : 64.00MiB total (32.00MiB per thread, mlock:no)\n"
            " dimm     : DIMM 0            8.00GiB DDR4   1600 MT/s\n"
            " jedec    : 64-bit bus (1 channel) x 1600 MT/s = 12.8 GB/s theoretical (assumed single-channel "
            "x 64-bit from 1 populated module)\n"
            " warning  : only 2/3 arenas allocated\n");

  info.threads = 1;
  info.arenas_allocated = 1;
  const std::string one = written([&](FILE* f) { ConsoleHclOutput(f).info(info, inv, ref); });
  EXPECT_EQ(one.substr(0, one.find('\n', 1) + 1),
            "\ndravik HCL qualification  (1 thread on 1 cpu, 2 NUMA nodes, affinity:OFF, simd:" SIMD_KIND ")\n");
  EXPECT_EQ(one.find("warning"), std::string::npos);
}

// The reference line when the firmware gives no usable data: the no-data
// line stands even when the operator supplied a figure.
TEST(HclConsoleInventory, ReferenceLineWithoutUsableDmiData) {
  const std::string no_data =
      " jedec    : no DMI memory data (%s) — bandwidth efficiency will be UNQUALIFIED;\n"
      "            supply --jedec-gbs <GB/s> to enable the efficiency criterion\n";
  struct Case {
    int module_count;
    double jedec_gbs;
    std::string line;
  };
  auto with = [&](const char* why) {
    std::string s = no_data;
    return s.replace(s.find("%s"), 2, why);
  };
  const Case cases[] = {
      {-1, 0.0, with("no /sys/firmware/dmi")},
      {-1, 25.0, with("no /sys/firmware/dmi")},
      {0, 0.0, with("0 populated entries")},
      {1, 0.0,
       " jedec    : DMI reports no memory speed — bandwidth efficiency will be\n"
       "            UNQUALIFIED; supply --jedec-gbs <GB/s> to enable the criterion\n"},
      {1, 25.0,
       " jedec    : 64-bit bus (1 channel) x 0 MT/s = 25.0 GB/s theoretical (operator override "
       "(--jedec-gbs))\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.module_count) + " modules, override " + std::to_string(c.jedec_gbs));
    MemoryInventory inv;
    inv.module_count = c.module_count;
    if (c.module_count == 1) inv.modules[0] = dimm("DIMM 0", "", "", "", 0, 0, 0);
    JedecReference ref;
    derive_reference(inv, ref, c.jedec_gbs);
    const std::string got = written([&](FILE* f) { ConsoleHclOutput(f).info(run_info(), inv, ref); });
    const size_t jedec = got.find(" jedec    :");
    ASSERT_NE(jedec, std::string::npos);
    EXPECT_EQ(got.substr(jedec), c.line);
  }
}

TEST(HclConsoleSetup, GateLinesThenBusyLine) {
  SetupAssessment mixed;
  mixed.uniform = 0;
  mixed.reason_count = 2;
  snprintf(mixed.reasons[0], sizeof mixed.reasons[0], "%s", "DIMM1 differs: Maker P2 vs Maker P1");
  snprintf(mixed.reasons[1], sizeof mixed.reasons[1], "%s", "3 modules populated — odd count runs flex/asymmetric");
  SetupAssessment silent;
  silent.uniform = -1;
  SetupAssessment uniform;
  uniform.uniform = 1;
  const std::string busy =
      " preflight: system BUSY (load1 7.25 on 4 cpus) — bandwidth criteria may demote to INCONCLUSIVE\n";

  EXPECT_EQ(written([&](FILE* f) { ConsoleHclOutput(f).setup(mixed, 7.25, 1.5, true, 4); }),
            "\n !! SETUP NOT ELIGIBLE FOR QA — mixed/asymmetric memory set:\n"
            "    - DIMM1 differs: Maker P2 vs Maker P1\n"
            "    - 3 modules populated — odd count runs flex/asymmetric\n"
            "    Run continues for information only; the QA verdict will be FAIL.\n" +
                busy);
  EXPECT_EQ(written([&](FILE* f) { ConsoleHclOutput(f).setup(silent, 0.5, 0.0, false, 4); }),
            " setup    : DMI silent — kit uniformity UNKNOWN (VM?), gate not applied\n");
  EXPECT_EQ(written([&](FILE* f) { ConsoleHclOutput(f).setup(uniform, 0.5, 0.0, false, 4); }), "");
  EXPECT_EQ(written([&](FILE* f) { ConsoleHclOutput(f).setup(uniform, 7.25, 0.0, true, 4); }), busy);
}

TEST(HclJsonInventory, InfoLineByteForByte) {
  MemoryInventory inv;
  JedecReference ref;
  two_channel_kit(inv, ref);
  snprintf(inv.modules[1].locator, sizeof inv.modules[1].locator, "%s", "Slot \"B\"\\1");
  const std::string got = written([&](FILE* f) { JsonHclOutput(f).info(run_info(), inv, ref); });
  EXPECT_EQ(got,
            R"({"event":"hcl_info","cpus":4,"threads":2,"numa_nodes":1,"affinity":true,"simd":")" SIMD_KIND R"(",)"
            R"("arena_bytes":67108864,"arena_per_thread":33554432,"duration":60,"theoretical_gbs":42.66,)"
            R"("channels":2,"bus_bits":128,"mts":2666,"channels_src":"from DMI channel locators and data widths",)"
            R"("dimms":[{"loc":"ChannelA-DIMM0","bank":"BANK 0","size":8589934592,"type":"DDR4","mts":3200,)"
            R"("cfg_mts":2666,"ecc":true,"mfg":"Samsung","part":"M471A1K43DB1-CWE"},{"loc":"Slot \"B\"\\1",)"
            R"("bank":"ChannelB","size":1048576,"type":"DDR4","mts":2666,"cfg_mts":0,"ecc":false,"mfg":"",)"
            R"("part":"M471A1K43DB1-CWE"}]})"
            "\n");
  const ojson j = ojson::parse(got);
  EXPECT_EQ(j["dimms"][1]["loc"], "Slot \"B\"\\1");
  EXPECT_EQ(j["dimms"].size(), 2u);
}

TEST(HclJsonInventory, NoTableGivesAnEmptyModuleListAndTheOverride) {
  MemoryInventory inv;
  inv.module_count = -1;
  JedecReference ref;
  derive_reference(inv, ref, 25.0);
  const ojson j = ojson::parse(written([&](FILE* f) { JsonHclOutput(f).info(run_info(), inv, ref); }));
  EXPECT_TRUE(j["dimms"].is_array());
  EXPECT_TRUE(j["dimms"].empty());
  EXPECT_EQ(j["theoretical_gbs"], 25.0);
  EXPECT_EQ(j["channels_src"], "operator override (--jedec-gbs)");
  EXPECT_EQ(j["channels"], 0);
  EXPECT_EQ(j["mts"], 0);
}

TEST(HclJsonInventory, FiguresThatAreNotFiniteReadZero) {
  MemoryInventory inv;
  inv.module_count = -1;
  JedecReference ref;
  SetupAssessment gate;
  for (const double bad : {HUGE_VAL, -HUGE_VAL, std::nan("")}) {
    ref.theoretical_gbs = bad;
    const std::string info = written([&](FILE* f) { JsonHclOutput(f).info(run_info(), inv, ref); });
    EXPECT_EQ(ojson::parse(info, nullptr, false).value("theoretical_gbs", -1.0), 0.0) << info;
    const std::string setup = written([&](FILE* f) { JsonHclOutput(f).setup(gate, bad, bad, false, 4); });
    EXPECT_NE(setup.find(R"("load1":0.00,"psi_mem10":0.00)"), std::string::npos) << setup;
  }
}

TEST(HclJsonSetup, LinesForEachGateOutcome) {
  SetupAssessment mixed;
  mixed.uniform = 0;
  mixed.reason_count = 2;
  snprintf(mixed.reasons[0], sizeof mixed.reasons[0], "%s", "DIMM \"1\" differs: Maker P2 vs Maker P1");
  snprintf(mixed.reasons[1], sizeof mixed.reasons[1], "%s", "channel capacities differ — flex mode");
  SetupAssessment silent;
  silent.uniform = -1;
  SetupAssessment uniform;
  uniform.uniform = 1;

  EXPECT_EQ(written([&](FILE* f) { JsonHclOutput(f).setup(mixed, 3.5, 1.25, true, 4); }),
            R"({"event":"hcl_setup","uniform":false,"reasons":["DIMM \"1\" differs: Maker P2 vs Maker P1",)"
            R"("channel capacities differ — flex mode"],"load1":3.50,"psi_mem10":1.25,"busy":true})"
            "\n");
  EXPECT_EQ(written([&](FILE* f) { JsonHclOutput(f).setup(silent, -1.0, -1.0, false, 4); }),
            R"({"event":"hcl_setup","uniform":null,"reasons":[],"load1":-1.00,"psi_mem10":-1.00,"busy":false})"
            "\n");
  const ojson j = ojson::parse(written([&](FILE* f) { JsonHclOutput(f).setup(uniform, 0.5, 0.0, false, 4); }));
  EXPECT_EQ(j["uniform"], true);
  EXPECT_TRUE(j["reasons"].empty());
  EXPECT_EQ(j["load1"], 0.5);
}

}  // namespace
}  // namespace dravik
