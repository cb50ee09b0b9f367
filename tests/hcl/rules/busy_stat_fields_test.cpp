// Which fields of /proc/stat and /proc/self/stat the busy-box reading takes:
// a pair of readings in the kernel's full layout where every field moves by
// its own amount, so a field read from the wrong column, one left out or one
// too many gives another share than the box had.
#include <gtest/gtest.h>

#include <string>

#include "hcl/rules/busy.h"
#include "support/test_support.h"

namespace dravik {
namespace {

// Between the two readings, ticks of each state: user 256 (guest's 128 within
// it), nice 1, system 64, idle 1249, iowait 2, irq 4, softirq 8, steal 16,
// guest_nice 32. The box: 1600 ticks, 349 of them busy, 16 stolen.
constexpr const char* kStatBefore =
    "cpu  4751034 2210 1203577 98123005 40021 0 60312 7013 1500 300\n"
    "cpu0 2375517 1105 601788 49061502 20010 0 30156 3506 750 150\n"
    "cpu1 2375517 1105 601789 49061503 20011 0 30156 3507 750 150\n"
    "ctxt 987654321\n";
constexpr const char* kStatAfter =
    "cpu  4751290 2211 1203641 98124254 40023 4 60320 7029 1628 332\n"
    "cpu0 2375645 1105 601820 49062126 20011 2 30160 3514 814 166\n"
    "cpu1 2375645 1106 601821 49062128 20012 2 30160 3515 814 166\n"
    "ctxt 987659999\n";

// This process, a command name with blanks and a ')': minflt +500, cminflt
// +9, majflt +5, cmajflt +3, utime +40, stime +20, cutime +1, cstime +2. Its
// own time is utime and stime: 60 ticks; any other pair of neighbours differs.
constexpr const char* kSelfBefore =
    "4242 (dravik (hcl) x) R 1 4242 4242 0 -1 4194560 20500 70 30 50 3000 1200 11 13 20 0 5 0 "
    "881234 1073741824 20480 18446744073709551615\n";
constexpr const char* kSelfAfter =
    "4242 (dravik (hcl) x) R 1 4242 4242 0 -1 4194560 21000 79 35 53 3040 1220 12 15 20 0 5 0 "
    "881234 1073741824 20480 18446744073709551615\n";

// Read wrongly, the share would judge the latency chase on a busy box, or
// excuse its jitter on a quiet one, and the verdict report would show it.
TEST(HclBusyStatFields, EachFieldCountsWhereItBelongs) {
  testing::TempDir dir;
  const CpuTimes before = read_cpu_times(dir.write("stat0", kStatBefore), dir.write("self0", kSelfBefore));
  const CpuTimes after = read_cpu_times(dir.write("stat1", kStatAfter), dir.write("self1", kSelfAfter));
  ASSERT_TRUE(before.ok && after.ok);
  EXPECT_EQ(after.total - before.total, 1600u) << "the eight states, guest already inside user";
  EXPECT_EQ(after.busy - before.busy, 349u) << "all but idle and iowait";
  EXPECT_EQ(after.steal - before.steal, 16u);
  EXPECT_EQ(after.own - before.own, 60u) << "utime and stime";
  const BoxLoad load = box_load(before, after, -1.0, -1.0, 1, 2);
  EXPECT_DOUBLE_EQ(load.others_pct, 18.0625) << "(349 - 60) of 1600 ticks";
  EXPECT_DOUBLE_EQ(load.steal_pct, 1.0);
  EXPECT_TRUE(load.busy);
}

}  // namespace
}  // namespace dravik
