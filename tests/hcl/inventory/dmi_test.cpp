// Memory devices built byte by byte: every size, width, speed, type and
// string rule of the decoder, and the walk's handling of cut, malformed and
// over-full tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "hcl/inventory/inventory.h"

namespace dravik {
namespace {

// One type 17 structure. Fields beyond `length` are not written, as in the
// short structures of old firmware.
struct Device {
  unsigned length = 40;
  unsigned size = 0x2000;  // 8192 MiB
  uint32_t extended = 0;
  unsigned total = 72;
  unsigned data = 64;
  unsigned type = 0x1A;
  unsigned speed = 3200;
  unsigned configured = 3200;
  std::vector<std::string> strings = {"DIMM0", "BANK 0", "Maker", "PART-1"};
  unsigned locator = 1;
  unsigned bank = 2;
  unsigned manufacturer = 3;
  unsigned part = 4;
};

void put(std::string& s, size_t off, uint64_t value, int bytes) {
  for (int b = 0; b < bytes; ++b) {
    if (off + b < s.size()) s[off + b] = static_cast<char>(value >> (8 * b) & 0xFF);
  }
}

std::string with_strings(std::string fmt, const std::vector<std::string>& strings) {
  for (const std::string& s : strings) fmt += s + '\0';
  if (strings.empty()) fmt += '\0';
  fmt += '\0';
  return fmt;
}

std::string bytes_of(const Device& d) {
  std::string s(d.length, '\0');
  s[0] = 17;
  s[1] = static_cast<char>(d.length);
  put(s, 0x08, d.total, 2);
  put(s, 0x0A, d.data, 2);
  put(s, 0x0C, d.size, 2);
  put(s, 0x10, d.locator, 1);
  put(s, 0x11, d.bank, 1);
  put(s, 0x12, d.type, 1);
  put(s, 0x15, d.speed, 2);
  put(s, 0x17, d.manufacturer, 1);
  put(s, 0x1A, d.part, 1);
  put(s, 0x1C, d.extended, 4);
  put(s, 0x20, d.configured, 2);
  return with_strings(s, d.strings);
}

std::string other_structure(uint8_t type) { return with_strings(std::string{char(type), 4, 0, 0}, {"x"}); }
const std::string kEndOfTable = with_strings(std::string{char(127), 4, 0, 0}, {});

int walk(const std::string& table, MemoryModule* out) {
  return walk_dmi_table(reinterpret_cast<const uint8_t*>(table.data()), table.size(), out,
                        MemoryInventory::kMaxModules);
}

struct DecodeCase {
  const char* name;
  Device device;
  bool kept;
  uint64_t size = 0;
  int speed = 0;
  int configured = 0;
  int data_width = 64;
  int ecc = 0;
  const char* type = "DDR4";
  const char* locator = "DIMM0";
  const char* bank = "BANK 0";
  const char* manufacturer = "Maker";
  const char* part = "PART-1";
};

constexpr uint64_t MiB = 1ull << 20;
constexpr uint64_t GiB = 1ull << 30;

const DecodeCase kDecodeCases[] = {
    {"plain_ddr4_ecc", {}, true, 8 * GiB, 3200, 3200, 64, 1},
    // Sizes.
    {"kib_granularity_0x8400_is_1MiB", {.size = 0x8400}, true, 1 * MiB, 3200, 3200, 64, 1},
    {"extended_32768_MiB_is_32GiB", {.size = 0x7FFF, .extended = 32768}, true, 32 * GiB, 3200, 3200, 64, 1},
    {"extended_bit31_ignored", {.size = 0x7FFF, .extended = 0x80000000u | 1024}, true, 1 * GiB, 3200, 3200, 64, 1},
    {"extended_zero_skipped", {.size = 0x7FFF, .extended = 0}, false},
    {"0x7FFF_without_extended_field_is_MiB", {.length = 28, .size = 0x7FFF}, true, 32767 * MiB, 3200, 0, 64, 1},
    {"no_module_installed", {.size = 0}, false},
    {"size_unknown", {.size = 0xFFFF}, false},
    {"zero_KiB_skipped", {.size = 0x8000}, false},
    // Widths and ECC.
    {"no_ecc_64_of_64", {.total = 64, .data = 64}, true, 8 * GiB, 3200, 3200, 64, 0},
    {"widths_unknown", {.total = 0xFFFF, .data = 0xFFFF}, true, 8 * GiB, 3200, 3200, 64, 0},
    {"data_unknown_total_known", {.total = 72, .data = 0xFFFF}, true, 8 * GiB, 3200, 3200, 64, 0},
    {"total_unknown_data_known", {.total = 0xFFFF, .data = 32}, true, 8 * GiB, 3200, 3200, 32, 0},
    {"data_width_128", {.total = 144, .data = 128}, true, 8 * GiB, 3200, 3200, 128, 1},
    {"data_width_8", {.total = 8, .data = 8}, true, 8 * GiB, 3200, 3200, 8, 0},
    {"data_width_4_reads_64", {.total = 8, .data = 4}, true, 8 * GiB, 3200, 3200, 64, 1},
    {"data_width_256_reads_64", {.total = 0xFFFF, .data = 256}, true, 8 * GiB, 3200, 3200, 64, 0},
    {"total_8_data_64_no_ecc", {.total = 8, .data = 64}, true, 8 * GiB, 3200, 3200, 64, 0},
    // Speeds by structure length.
    {"length_21_no_speed_no_vendor", {.length = 21}, true, 8 * GiB, 0, 0, 64, 1, "DDR4", "DIMM0", "BANK 0", "", ""},
    {"length_22_no_speed", {.length = 22}, true, 8 * GiB, 0, 0, 64, 1, "DDR4", "DIMM0", "BANK 0", "", ""},
    {"length_23_speed", {.length = 23}, true, 8 * GiB, 3200, 0, 64, 1, "DDR4", "DIMM0", "BANK 0", "", ""},
    {"length_26_no_vendor", {.length = 26}, true, 8 * GiB, 3200, 0, 64, 1, "DDR4", "DIMM0", "BANK 0", "", ""},
    {"length_27_vendor", {.length = 27}, true, 8 * GiB, 3200, 0, 64, 1},
    {"length_33_no_configured", {.length = 33}, true, 8 * GiB, 3200, 0, 64, 1},
    {"length_34_configured", {.length = 34, .configured = 2666}, true, 8 * GiB, 3200, 2666, 64, 1},
    // Types.
    {"type_ddr", {.type = 0x12}, true, 8 * GiB, 3200, 3200, 64, 1, "DDR"},
    {"type_ddr2", {.type = 0x13}, true, 8 * GiB, 3200, 3200, 64, 1, "DDR2"},
    {"type_ddr2_fbdimm_is_ram", {.type = 0x14}, true, 8 * GiB, 3200, 3200, 64, 1, "RAM"},
    {"type_ddr3", {.type = 0x18}, true, 8 * GiB, 3200, 3200, 64, 1, "DDR3"},
    {"type_lpddr", {.type = 0x1B}, true, 8 * GiB, 3200, 3200, 64, 1, "LPDDR"},
    {"type_lpddr2", {.type = 0x1C}, true, 8 * GiB, 3200, 3200, 64, 1, "LPDDR2"},
    {"type_lpddr3", {.type = 0x1D}, true, 8 * GiB, 3200, 3200, 64, 1, "LPDDR3"},
    {"type_lpddr4", {.type = 0x1E}, true, 8 * GiB, 3200, 3200, 64, 1, "LPDDR4"},
    {"type_ddr5", {.type = 0x22}, true, 8 * GiB, 3200, 3200, 64, 1, "DDR5"},
    {"type_lpddr5_unnamed", {.type = 0x23}, true, 8 * GiB, 3200, 3200, 64, 1, "RAM"},
    {"type_unknown", {.type = 0x02}, true, 8 * GiB, 3200, 3200, 64, 1, "RAM"},
    // Strings.
    {"not_specified_and_no_dimm_read_empty",
     {.strings = {"DIMM0", "BANK 0", "Not Specified", "NO DIMM"}}, true, 8 * GiB, 3200, 3200, 64, 1, "DDR4",
     "DIMM0", "BANK 0", "", ""},
    {"unknown_and_oem_placeholder_read_empty",
     {.strings = {"DIMM0", "BANK 0", "Unknown", "To Be Filled By O.E.M."}}, true, 8 * GiB, 3200, 3200, 64, 1,
     "DDR4", "DIMM0", "BANK 0", "", ""},
    {"trailing_blanks_removed", {.strings = {"DIMM0", "BANK 0", "Maker   ", "PART-1   "}}, true, 8 * GiB, 3200,
     3200, 64, 1},
    {"blank_vendor_strings_read_empty", {.strings = {"DIMM0", "BANK 0", " ", "   "}}, true, 8 * GiB, 3200, 3200,
     64, 1, "DDR4", "DIMM0", "BANK 0", "", ""},
    {"placeholder_only_at_start", {.strings = {"DIMM0", "BANK 0", "Maker Unknown", "NO DIMMS"}}, true, 8 * GiB,
     3200, 3200, 64, 1, "DDR4", "DIMM0", "BANK 0", "Maker Unknown", "NO DIMMS"},
    {"locator_keeps_its_blanks",
     {.strings = {"DIMM 1A   ", "Maker", "PART-1"}, .bank = 0, .manufacturer = 2, .part = 3}, true, 8 * GiB,
     3200, 3200, 64, 1, "DDR4", "DIMM 1A   ", ""},
    {"string_zero_and_past_the_set_read_empty", {.locator = 0, .bank = 9, .manufacturer = 5, .part = 200}, true,
     8 * GiB, 3200, 3200, 64, 1, "DDR4", "", "", "", ""},
    {"empty_string_set", {.strings = {}}, true, 8 * GiB, 3200, 3200, 64, 1, "DDR4", "", "", "", ""},
    {"texts_cut_to_their_fields",
     {.strings = {std::string(40, 'L'), std::string(40, 'B'), std::string(30, 'M'), std::string(30, 'P')}}, true,
     8 * GiB, 3200, 3200, 64, 1, "DDR4", "LLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLL", "BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB",
     "MMMMMMMMMMMMMMMMMMMMMMM", "PPPPPPPPPPPPPPPPPPPPPPPPPPP"},
    {"cut_text_loses_blanks_left_at_the_cut",
     {.strings = {"DIMM0", "BANK 0", std::string(22, 'M') + "  X", "PART-1"}}, true, 8 * GiB, 3200, 3200, 64, 1,
     "DDR4", "DIMM0", "BANK 0", "MMMMMMMMMMMMMMMMMMMMMM"},
};

std::string decode_name(const ::testing::TestParamInfo<DecodeCase>& info) { return info.param.name; }
void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class DecodeDevice : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeDevice, FieldsFollowTheStructure) {
  const DecodeCase& c = GetParam();
  MemoryModule m[MemoryInventory::kMaxModules];
  const int kept = walk(bytes_of(c.device) + kEndOfTable, m);
  ASSERT_EQ(kept, c.kept ? 1 : 0);
  if (!c.kept) return;
  EXPECT_EQ(m[0].size, c.size);
  EXPECT_EQ(m[0].speed, c.speed);
  EXPECT_EQ(m[0].configured_speed, c.configured);
  EXPECT_EQ(m[0].data_width, c.data_width);
  EXPECT_EQ(m[0].ecc, c.ecc);
  EXPECT_STREQ(m[0].type, c.type);
  EXPECT_STREQ(m[0].locator, c.locator);
  EXPECT_STREQ(m[0].bank, c.bank);
  EXPECT_STREQ(m[0].manufacturer, c.manufacturer);
  EXPECT_STREQ(m[0].part, c.part);
}

INSTANTIATE_TEST_SUITE_P(Rules, DecodeDevice, ::testing::ValuesIn(kDecodeCases), decode_name);

Device numbered(int n) {
  Device d;
  d.strings = {"D" + std::to_string(n), "BANK", "Maker", "PART"};
  return d;
}

TEST(DmiWalk, KeepsSixteenDevicesAndStops) {
  std::string table;
  for (int n = 0; n < 20; ++n) table += bytes_of(numbered(n));
  table += kEndOfTable;
  MemoryModule m[MemoryInventory::kMaxModules];
  ASSERT_EQ(walk(table, m), 16);
  EXPECT_STREQ(m[0].locator, "D0");
  EXPECT_STREQ(m[15].locator, "D15");
}

TEST(DmiWalk, SkipsOtherStructuresEmptySlotsAndShortDevices) {
  Device empty;
  empty.size = 0;
  Device too_short;
  too_short.length = 20;
  const std::string table = other_structure(0) + other_structure(16) + bytes_of(empty) + bytes_of(too_short) +
                            bytes_of(numbered(1)) + other_structure(19) + bytes_of(numbered(2)) + kEndOfTable;
  MemoryModule m[MemoryInventory::kMaxModules];
  ASSERT_EQ(walk(table, m), 2);
  EXPECT_STREQ(m[0].locator, "D1");
  EXPECT_STREQ(m[1].locator, "D2");
}

// Each malformed table and how many of its devices are kept.
struct BrokenCase {
  const char* name;
  std::string table;
  int kept;
};

std::string two_devices() { return bytes_of(numbered(1)) + bytes_of(numbered(2)); }

std::vector<BrokenCase> broken_cases() {
  const std::string both = two_devices();
  const size_t first = bytes_of(numbered(1)).size();
  std::string zero_length = std::string{char(1), 0, 0, 0} + "\0\0";
  std::string three_length = std::string{char(1), 3, 0, 0} + "\0\0";
  std::string unterminated = bytes_of(numbered(1));
  unterminated.resize(unterminated.size() - 2);  // strings run to the end of the buffer
  std::string cut_in_strings = bytes_of(numbered(1)) + bytes_of(numbered(2)).substr(0, 42);
  return {
      {"empty", "", 0},
      {"three_bytes", std::string("\x11\x28\x00", 3), 0},
      {"end_of_table_first", kEndOfTable + both, 0},
      {"end_of_table_between", bytes_of(numbered(1)) + kEndOfTable + bytes_of(numbered(2)), 1},
      {"no_end_of_table", both, 2},
      {"length_zero_stops", bytes_of(numbered(1)) + zero_length + bytes_of(numbered(2)), 1},
      {"length_three_stops", three_length + both, 0},
      {"cut_inside_second_formatted_area", both.substr(0, first + 30), 1},
      {"cut_inside_second_string_set", cut_in_strings, 2},
      {"unterminated_last_string_set", unterminated, 1},
      {"next_structure_under_four_bytes", bytes_of(numbered(1)) + std::string("\x11\x28\x00", 3), 1},
      {"length_past_the_end", std::string{char(17), char(200), 0, 0, 0, 0}, 0},
  };
}

TEST(DmiWalk, MalformedTablesEndTheWalkKeepingWhatCameBefore) {
  for (const BrokenCase& c : broken_cases()) {
    SCOPED_TRACE(c.name);
    // A copy of exactly the table's size, so a read past it is seen by ASan.
    std::vector<uint8_t> exact(c.table.begin(), c.table.end());
    MemoryModule m[MemoryInventory::kMaxModules];
    EXPECT_EQ(walk_dmi_table(exact.empty() ? nullptr : exact.data(), exact.size(), m,
                             MemoryInventory::kMaxModules),
              c.kept);
  }
}

TEST(DmiWalk, StringsCutByTheEndOfTheTableKeepWhatIsThere) {
  std::string table = bytes_of(numbered(7));
  table.resize(40 + 10);  // the formatted area, then "D7\0BANK\0Ma"
  std::vector<uint8_t> exact(table.begin(), table.end());
  MemoryModule m[MemoryInventory::kMaxModules];
  ASSERT_EQ(walk_dmi_table(exact.data(), exact.size(), m, MemoryInventory::kMaxModules), 1);
  EXPECT_STREQ(m[0].locator, "D7");
  EXPECT_STREQ(m[0].bank, "BANK");
  EXPECT_STREQ(m[0].manufacturer, "Ma");
  EXPECT_STREQ(m[0].part, "");
}

}  // namespace
}  // namespace dravik
