// The probes read kernel text files; each case feeds a fixture file in a
// temporary directory, including truncated, malformed, empty and missing ones.
#include "memory/probes/probes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/test_support.h"

namespace dravik {
namespace {

using testing::TempDir;

const char* const kMeminfo =
    "MemTotal:       24596228 kB\n"
    "MemFree:        20000000 kB\n"
    "MemAvailable:   22000000 kB\n"
    "Buffers:          123456 kB\n";

// One fixture file and what the probe must make of it.
template <typename T>
struct FileCase {
  const char* name;
  const char* content;  // nullptr: the file does not exist
  T expected;
  const char* key = "";
};

template <typename T>
std::string case_name(const ::testing::TestParamInfo<FileCase<T>>& info) {
  return info.param.name;
}

// Writes the case's file into dir, or names a missing one.
template <typename T>
std::string case_file(const TempDir& dir, const FileCase<T>& c) {
  return c.content ? dir.write("probe_file", c.content) : dir.sub("missing");
}

using MeminfoCase = FileCase<int64_t>;
class MeminfoKb : public ::testing::TestWithParam<MeminfoCase> {};

TEST_P(MeminfoKb, ReadsTheWholeFieldOrReportsNotAvailable) {
  TempDir dir;
  EXPECT_EQ(meminfo_kb(GetParam().key, case_file(dir, GetParam())), GetParam().expected);
}

// A line longer than the 256-byte reader buffer, cut exactly before a field
// name: its tail must not be taken for a field of its own.
const std::string kLongLine = "Junk: " + std::string(249, 'x') + "MemFree: 77 kB\nMemFree: 5 kB\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, MeminfoKb,
    ::testing::Values(
        MeminfoCase{"total", kMeminfo, 24596228, "MemTotal"},
        MeminfoCase{"available", kMeminfo, 22000000, "MemAvailable"},
        MeminfoCase{"last_line_without_newline", "MemTotal: 1 kB\nMemFree: 42 kB", 42, "MemFree"},
        MeminfoCase{"prefix_of_a_longer_name_does_not_match", "MemFreeX:  999 kB\nMemFree: 7 kB\n", 7, "MemFree"},
        MeminfoCase{"only_the_longer_name", "MemFreeX:  999 kB\n", -1, "MemFree"},
        MeminfoCase{"name_inside_a_line_does_not_match", "XMemFree: 3 kB\n", -1, "MemFree"},
        MeminfoCase{"first_match_wins", "MemFree: 1 kB\nMemFree: 2 kB\n", 1, "MemFree"},
        MeminfoCase{"field_missing", kMeminfo, -1, "Cached"},
        MeminfoCase{"number_missing", "MemFree:    kB\n", -1, "MemFree"},
        MeminfoCase{"number_malformed", "MemFree: abc kB\n", -1, "MemFree"},
        MeminfoCase{"truncated_after_colon", "MemTotal: 5 kB\nMemFree:", -1, "MemFree"},
        MeminfoCase{"number_too_large", "MemFree: 99999999999999999999 kB\n", -1, "MemFree"},
        MeminfoCase{"empty_file", "", -1, "MemTotal"},
        MeminfoCase{"missing_file", nullptr, -1, "MemTotal"},
        MeminfoCase{"empty_key", kMeminfo, -1, ""},
        MeminfoCase{"tail_of_long_line_is_not_a_line", kLongLine.c_str(), 5, "MemFree"}),
    case_name<int64_t>);

using AvailableCase = FileCase<uint64_t>;
class MemAvailable : public ::testing::TestWithParam<AvailableCase> {};

TEST_P(MemAvailable, FallsBackFromMemAvailableToMemFreeToZero) {
  TempDir dir;
  const CgroupPaths no_cgroup{dir.sub("no-cgroup"), dir.sub("no-mountinfo")};
  EXPECT_EQ(mem_available_bytes(case_file(dir, GetParam()), no_cgroup), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MemAvailable,
    ::testing::Values(
        AvailableCase{"mem_available", kMeminfo, 22000000ULL * 1024},
        AvailableCase{"old_kernel_uses_mem_free", "MemTotal: 9 kB\nMemFree: 300 kB\n", 300 * 1024},
        AvailableCase{"malformed_available_uses_mem_free",
                      "MemAvailable: ?? kB\nMemFree: 4 kB\n", 4096},
        AvailableCase{"neither", "MemTotal: 9 kB\n", 0},
        AvailableCase{"unreadable", nullptr, 0},
        AvailableCase{"empty", "", 0},
        AvailableCase{"huge_value_saturates", "MemAvailable: 9223372036854775807 kB\n",
                      UINT64_MAX}),
    case_name<uint64_t>);

using PsiCase = FileCase<double>;
class PsiSomeAvg10 : public ::testing::TestWithParam<PsiCase> {};

TEST_P(PsiSomeAvg10, ReadsTheSomeLineOrReportsNotAvailable) {
  TempDir dir;
  EXPECT_DOUBLE_EQ(psi_some_avg10(case_file(dir, GetParam())), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PsiSomeAvg10,
    ::testing::Values(
        PsiCase{"normal",
                "some avg10=1.25 avg60=0.50 avg300=0.10 total=12345\n"
                "full avg10=0.75 avg60=0.00 avg300=0.00 total=100\n",
                1.25},
        PsiCase{"some_after_full", "full avg10=9.00 avg60=0 avg300=0 total=1\nsome avg10=3.50\n",
                3.5},
        PsiCase{"first_some_line_malformed", "some avg10=x avg60=1\nsome avg10=2.00\n", -1.0},
        PsiCase{"first_some_line_wrong_key", "some avg60=4.00\nsome avg10=2.00\n", -1.0},
        PsiCase{"truncated", "some avg1", -1.0},
        PsiCase{"nan_is_not_a_share", "some avg10=nan\n", -1.0},
        PsiCase{"negative_is_not_a_share", "some avg10=-3.0\n", -1.0},
        PsiCase{"no_some_line", "full avg10=1.00\n", -1.0},
        PsiCase{"empty", "", -1.0},
        PsiCase{"kernel_without_psi", nullptr, -1.0}),
    case_name<double>);

TEST(EdacCounts, AbsentWhenThereIsNoFirstController) {
  TempDir dir;
  const EdacCounts none = edac_counts(dir.sub("mc"));
  EXPECT_EQ(none.ce, -1);
  EXPECT_EQ(none.ue, -1);
  dir.write("mc/mc1/ce_count", "5\n");  // mc1 without mc0 is still "no EDAC"
  const EdacCounts gap = edac_counts(dir.sub("mc"));
  EXPECT_EQ(gap.ce, -1);
  EXPECT_EQ(gap.ue, -1);
}

TEST(EdacCounts, SumsControllersUpToTheFirstMissingOne) {
  TempDir dir;
  dir.write("mc/mc0/ce_count", "3\n");
  dir.write("mc/mc0/ue_count", "1\n");
  dir.write("mc/mc1/ce_count", "4\n");
  dir.write("mc/mc1/ue_count", "0\n");
  dir.write("mc/mc3/ce_count", "1000\n");  // beyond the gap at mc2: not counted
  const EdacCounts got = edac_counts(dir.sub("mc"));
  EXPECT_EQ(got.ce, 7);
  EXPECT_EQ(got.ue, 1);
}

TEST(EdacCounts, MalformedOrMissingCountersAddNothing) {
  TempDir dir;
  dir.write("mc/mc0/ce_count", "garbage\n");  // opens, does not parse: skipped, no stop
  dir.write("mc/mc0/ue_count", "");
  dir.write("mc/mc1/ce_count", "2");           // no newline
  dir.write("mc/mc2/ce_count", "-8\n");        // a negative count is malformed
  dir.write("mc/mc2/ue_count", "6\n");
  dir.write("mc/mc3/ce_count", "1\n");         // no ue_count: skipped
  const EdacCounts got = edac_counts(dir.sub("mc"));
  EXPECT_EQ(got.ce, 3);
  EXPECT_EQ(got.ue, 6);
}

TEST(EdacCounts, ThirtyTwoControllersAtMostAndTotalsSaturate) {
  TempDir dir;
  for (int mc = 0; mc < 33; ++mc) {
    dir.write("mc/mc" + std::to_string(mc) + "/ce_count", "1\n");
  }
  EXPECT_EQ(edac_counts(dir.sub("mc")).ce, 32);
  EXPECT_EQ(edac_counts(dir.sub("mc")).ue, 0);

  TempDir big;
  big.write("mc/mc0/ce_count", "9223372036854775807\n");
  big.write("mc/mc1/ce_count", "9223372036854775807\n");
  EXPECT_EQ(edac_counts(big.sub("mc")).ce, INT64_MAX);
}

TEST(ProbeLines, NulByteInsideALineKeepsTheNextLine) {
  // fgets and strlen stop at the NUL, so the newline after it went unseen
  // and the next line was read as the tail of this one.
  using namespace std::string_literals;
  TempDir dir;
  const std::string meminfo = dir.write("meminfo", "X:\0 1 kB\nMemTotal: 5 kB\n"s);
  EXPECT_EQ(meminfo_kb("MemTotal", meminfo), 5);
  EXPECT_EQ(meminfo_kb("X", meminfo), -1);  // the text ends at the NUL: no number
  EXPECT_EQ(mem_available_bytes(dir.write("m2", "MemAvailable:\0\nMemFree: 3 kB\n"s)), 3072u);
  EXPECT_DOUBLE_EQ(psi_some_avg10(dir.write("psi", "full\0 avg10=9.0\nsome avg10=2.50\n"s)), 2.5);
}

using SizeCase = FileCase<uint64_t>;
class ReadSizeFile : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ReadSizeFile, AppliesTheUnitSuffix) {
  TempDir dir;
  EXPECT_EQ(read_size_file(case_file(dir, GetParam())), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadSizeFile,
    ::testing::Values(SizeCase{"kib", "32K\n", 32768}, SizeCase{"l3", "8192K\n", 8388608},
                      SizeCase{"mib", "1M\n", 1048576}, SizeCase{"lower_case", "2m\n", 2097152},
                      SizeCase{"plain", "512\n", 512}, SizeCase{"plain_no_newline", "512", 512},
                      SizeCase{"other_suffix_ignored", "48G\n", 48},
                      SizeCase{"leading_blanks", "  64K\n", 65536},
                      SizeCase{"not_a_number", "K\n", 0}, SizeCase{"negative", "-5K\n", 0},
                      SizeCase{"too_large", "99999999999999999999\n", 0},
                      SizeCase{"suffix_overflows", "18014398509481984K\n", 0},
                      SizeCase{"empty", "", 0}, SizeCase{"missing", nullptr, 0}),
    case_name<uint64_t>);

// The real files of this machine, where they exist, read consistently.
TEST(ProbesOnThisMachine, MeminfoIsReadable) {
  EXPECT_GT(meminfo_kb("MemTotal"), 0);
  EXPECT_GT(mem_available_bytes(), 0u);
  EXPECT_LE(mem_available_bytes(), static_cast<uint64_t>(meminfo_kb("MemTotal")) * 1024);
}

}  // namespace
}  // namespace dravik
