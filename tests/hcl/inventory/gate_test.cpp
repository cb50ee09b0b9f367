// The uniformity gate: which kits are matched sets, and the reasons a kit is
// not, in the order the rules find them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hcl/inventory/inventory.h"

namespace dravik {
namespace {

constexpr uint64_t GiB = 1ull << 30;

struct Stick {
  const char* locator;
  uint64_t size = 8 * GiB;
  const char* part = "KIT-8G";
  const char* manufacturer = "Maker";
  int speed = 3200;
  const char* type = "DDR4";
  int ecc = 0;
};

MemoryInventory kit(const std::vector<Stick>& sticks, int module_count) {
  MemoryInventory inv;
  inv.module_count = module_count;
  for (size_t k = 0; k < sticks.size(); ++k) {
    MemoryModule& m = inv.modules[k];
    m.size = sticks[k].size;
    m.speed = sticks[k].speed;
    m.ecc = sticks[k].ecc;
    snprintf(m.locator, sizeof m.locator, "%s", sticks[k].locator);
    snprintf(m.part, sizeof m.part, "%s", sticks[k].part);
    snprintf(m.manufacturer, sizeof m.manufacturer, "%s", sticks[k].manufacturer);
    snprintf(m.type, sizeof m.type, "%s", sticks[k].type);
  }
  return inv;
}

MemoryInventory kit(const std::vector<Stick>& sticks) { return kit(sticks, static_cast<int>(sticks.size())); }

std::vector<Stick> same(int n) {
  std::vector<Stick> sticks;
  for (int k = 0; k < n; ++k) sticks.push_back({k % 2 ? "DIMM_B" : "DIMM_A"});
  return sticks;
}

struct GateCase {
  const char* name;
  MemoryInventory inv;
  SetupOverride mode;
  int uniform;
  std::vector<std::string> reasons;
};

std::vector<GateCase> gate_cases() {
  const SetupOverride none = SetupOverride::none;
  return {
      {"override_mixed_wins_over_a_matched_kit", kit(same(2)), SetupOverride::mixed, 0,
       {"test override: forced mixed"}},
      {"override_uniform_without_dmi", kit({}, -1), SetupOverride::uniform, 1, {}},
      {"override_uniform_skips_every_check", kit({{"A1", 8 * GiB, "X"}, {"B1", 16 * GiB, "Y"}, {"C1"}}),
       SetupOverride::uniform, 1, {}},
      {"no_table", kit({}, -1), none, -1, {}},
      {"table_without_modules", kit({}, 0), none, -1, {}},
      {"one_module", kit({{"DIMM0"}}), none, 1, {}},
      {"equal_parts_different_sizes_are_uniform", kit({{"DIMM0", 8 * GiB}, {"DIMM1", 16 * GiB}}), none, 1, {}},
      {"different_parts",
       kit({{"ChannelA-DIMM0", 8 * GiB, "HMA851S6", "SK Hynix"}, {"ChannelB-DIMM0", 16 * GiB, "M471A2K4", "Samsung"}}),
       none, 0, {"ChannelB-DIMM0 differs: Samsung M471A2K4 vs SK Hynix HMA851S6"}},
      {"missing_part_compares_size", kit({{"DIMM0", 8 * GiB, ""}, {"DIMM1", 4 * GiB, ""}}), none, 0,
       {"DIMM1 differs: Maker DDR4 vs Maker DDR4"}},
      {"one_part_missing_compares_the_rest", kit({{"DIMM0", 8 * GiB, "KIT-8G"}, {"DIMM1", 8 * GiB, ""}}), none, 1,
       {}},
      {"missing_part_compares_rated_speed",
       kit({{"DIMM0", 8 * GiB, ""}, {"DIMM1", 8 * GiB, "", "Maker", 2666}}), none, 0,
       {"DIMM1 differs: Maker DDR4 vs Maker DDR4"}},
      {"missing_part_compares_type",
       kit({{"DIMM0", 8 * GiB, ""}, {"DIMM1", 8 * GiB, "", "", 3200, "DDR3"}}), none, 0,
       {"DIMM1 differs:  DDR3 vs Maker DDR4"}},
      {"missing_part_compares_ecc",
       kit({{"DIMM0", 8 * GiB, ""}, {"DIMM1", 8 * GiB, "", "Maker", 3200, "DDR4", 1}}), none, 0,
       {"DIMM1 differs: Maker DDR4 vs Maker DDR4"}},
      {"empty_locator_reads_module", kit({{"DIMM0", 8 * GiB, "P1"}, {"", 8 * GiB, "P2"}}), none, 0,
       {"module differs: Maker P2 vs Maker P1"}},
      {"first_difference_only", kit({{"D0", 8 * GiB, "P1"}, {"D1", 8 * GiB, "P2"}, {"D2", 8 * GiB, "P3"}, {"D3"}}),
       none, 0, {"D1 differs: Maker P2 vs Maker P1"}},
      {"three_identical_odd", kit(same(3)), none, 0, {"3 modules populated — odd count runs flex/asymmetric"}},
      {"four_identical", kit(same(4)), none, 1, {}},
      {"five_identical_odd", kit(same(5)), none, 0, {"5 modules populated — odd count runs flex/asymmetric"}},
      {"six_identical", kit(same(6)), none, 1, {}},
      {"seven_identical_odd", kit(same(7)), none, 0, {"7 modules populated — odd count runs flex/asymmetric"}},
      {"difference_then_odd_count", kit({{"D0", 8 * GiB, "P1"}, {"D1", 8 * GiB, "P2"}, {"D2", 8 * GiB, "P1"}}), none,
       0, {"D1 differs: Maker P2 vs Maker P1", "3 modules populated — odd count runs flex/asymmetric"}},
      {"channel_capacities_differ_flex",
       kit({{"ChannelA-DIMM0", 8 * GiB}, {"ChannelA-DIMM1", 8 * GiB}, {"ChannelB-DIMM0", 8 * GiB},
            {"ChannelB-DIMM1", 16 * GiB}}),
       none, 0, {"channel capacities differ — flex mode"}},
      {"equal_channel_capacities",
       kit({{"ChannelA-DIMM0", 16 * GiB}, {"ChannelB-DIMM0", 8 * GiB}, {"ChannelB-DIMM1", 8 * GiB},
            {"ChannelA-DIMM1", 0}}),
       none, 1, {}},
      {"only_channel_a_populated", kit({{"DIMM_A1", 8 * GiB}, {"DIMM_A2", 16 * GiB}}), none, 1, {}},
      {"lower_case_letters_name_no_channel", kit({{"slot a", 8 * GiB}, {"slot b", 16 * GiB}}), none, 1, {}},
      {"flex_not_checked_after_a_difference",
       kit({{"ChannelA-DIMM0", 8 * GiB, "P1"}, {"ChannelB-DIMM0", 16 * GiB, "P2"}}), none, 0,
       {"ChannelB-DIMM0 differs: Maker P2 vs Maker P1"}},
  };
}

TEST(UniformityGate, RulesInOrder) {
  for (const GateCase& c : gate_cases()) {
    SCOPED_TRACE(c.name);
    const SetupAssessment gate = assess_setup(c.inv, c.mode);
    EXPECT_EQ(gate.uniform, c.uniform);
    std::vector<std::string> reasons(gate.reasons, gate.reasons + gate.reason_count);
    EXPECT_EQ(reasons, c.reasons);
  }
}

TEST(UniformityGate, LongReasonIsCutToItsField) {
  const std::string locator(35, 'L');
  const std::string maker(23, 'M');
  const std::string part(27, 'P');
  const SetupAssessment gate = assess_setup(
      kit({{"DIMM0", 8 * GiB, "OTHER"}, {locator.c_str(), 8 * GiB, part.c_str(), maker.c_str()}}),
      SetupOverride::none);
  ASSERT_EQ(gate.reason_count, 1);
  const std::string full = locator + " differs: " + maker + " " + part + " vs Maker OTHER";
  EXPECT_EQ(std::string(gate.reasons[0]), full.substr(0, 95));
}

}  // namespace
}  // namespace dravik
