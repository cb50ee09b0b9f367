// Arena sizing with the thread reduction, the pressure floor and the
// preflight readings over fixture files.
#include "hcl/rules/setup.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace dravik {
namespace {

constexpr uint64_t MiB = 1048576;

// The budget is what is available beyond the pressure floor (512 MiB) and
// the reserve (256 MiB by default): 768 MiB stay free.
TEST(HclSetup, ArenasShrinkThreadsUntilEachHoldsSixteenMebibytes) {
  struct Case {
    uint64_t available, mem_total;
    int64_t reserve_mib;
    uint64_t mem_cap;
    int threads;
    int want_threads;
    uint64_t want_per_thread;
    bool enough;
  } cases[] = {
      // budget 300 MiB over 40 CPUs: 18 threads of 16 MiB (300 / 18 = 16.6)
      {1068 * MiB, 4096 * MiB, -1, 0, 40, 18, 16 * MiB, true},
      // the --mem cap replaces a larger budget
      {8192 * MiB, 16384 * MiB, 256, 300 * MiB, 40, 18, 16 * MiB, true},
      // plenty: capped at 256 MiB per thread
      {65536 * MiB, 65536 * MiB, -1, 0, 4, 4, 256 * MiB, true},
      // rounded down to 2 MiB: 100 / 3 = 33.3 -> 32
      {868 * MiB, 1024 * MiB, -1, 0, 3, 3, 32 * MiB, true},
      // one thread keeps 8..16 MiB
      {778 * MiB, 1024 * MiB, -1, 0, 8, 1, 10 * MiB, true},
      // under 8 MiB for one thread: not enough
      {775 * MiB, 1024 * MiB, -1, 0, 8, 1, 6 * MiB, false},
      // small boxes: a 1.2 GiB cgroup, a 2 GiB NAS, a 1 GiB box; a reserve
      // above the floor is kept on top of it
      {1228 * MiB, 1228 * MiB, -1, 0, 4, 4, 114 * MiB, true},
      {1640 * MiB, 2048 * MiB, -1, 0, 4, 4, 218 * MiB, true},
      {800 * MiB, 1024 * MiB, -1, 0, 4, 2, 16 * MiB, true},
      {2400 * MiB, 8192 * MiB, 1024, 0, 2, 2, 176 * MiB, true},
      // reserve above available: nothing
      {100 * MiB, 1024 * MiB, 512, 0, 2, 1, 0, false},
  };
  for (const auto& c : cases) {
    RunConfig cfg;
    cfg.reserve_mib = c.reserve_mib;
    cfg.mem_cap = c.mem_cap;
    const auto plan = plan_arenas(c.available, c.mem_total, cfg, c.threads);
    EXPECT_EQ(plan.threads, c.want_threads) << c.available / MiB;
    EXPECT_EQ(plan.per_thread, c.want_per_thread) << c.available / MiB;
    EXPECT_EQ(plan.enough, c.enough) << c.available / MiB;
    if (plan.enough) {  // locking every arena leaves the floor plus the reserve free
      EXPECT_GE(c.available - plan.threads * plan.per_thread, hcl_pressure_floor(cfg) + reserve_bytes(cfg));
    }
  }
  // A 32-bit process: 64 GiB available over 16 CPUs, but 2.5 GiB is all it
  // can map, so the arenas share that.
  const auto space = plan_arenas(65536 * MiB, 65536 * MiB, RunConfig{}, 16, 2560 * MiB);
  EXPECT_TRUE(space.space_limited);
  EXPECT_EQ(space.threads, 16);
  EXPECT_EQ(space.per_thread, 160 * MiB);
  EXPECT_FALSE(plan_arenas(65536 * MiB, 65536 * MiB, RunConfig{}, 16).space_limited && sizeof(void*) == 8);
}

TEST(HclSetup, ContendedBelowFortyPercentOfMemTotal) {
  RunConfig cfg;
  EXPECT_FALSE(plan_arenas(400, 1000, cfg, 1).contended);
  EXPECT_TRUE(plan_arenas(399, 1000, cfg, 1).contended);
  EXPECT_FALSE(plan_arenas(2, 7, cfg, 1).contended) << "7 x 2 / 5 = 2 in integers";
  EXPECT_TRUE(plan_arenas(1, 7, cfg, 1).contended);
  EXPECT_FALSE(plan_arenas(0, 0, cfg, 1).contended) << "unknown MemTotal";
  const uint64_t huge = UINT64_MAX - 3;
  EXPECT_TRUE(plan_arenas(huge / 5 * 2 - 1, huge, cfg, 1).contended) << "no overflow";
}

// In a container the total that available memory is a share of is the
// smallest cgroup limit up to the mount, when below MemTotal.
TEST(HclSetup, TotalIsTheSmallerOfMemTotalAndTheCgroupLimit) {
  struct Case {
    const char *group_max, *parent_max;  // memory.max of /ct/app and /ct
    uint64_t mem_total, available, want_total;
    bool want_contended;
  } cases[] = {
      {"max\n", "4294967296\n", 32768 * MiB, 3584 * MiB, 4096 * MiB, false},  // 4 GiB on 32 GiB
      {"2147483648\n", "4294967296\n", 32768 * MiB, 600 * MiB, 2048 * MiB, true},
      {"max\n", "max\n", 32768 * MiB, 3584 * MiB, 32768 * MiB, true},
      {"max\n", "68719476736\n", 32768 * MiB, 16384 * MiB, 32768 * MiB, false},  // above the host
      {"max\n", "1073741824\n", 0, 512 * MiB, 0, false},                          // MemTotal unknown
  };
  testing::TempDir dir;
  const CgroupPaths cgroup{dir.write("proc_cgroup", "0::/ct/app\n"),
                           dir.write("mountinfo", "30 23 0:26 / " + dir.path() + "/v2 rw - cgroup2 x rw\n")};
  for (const Case& c : cases) {
    dir.write("v2/ct/app/memory.max", c.group_max);
    dir.write("v2/ct/memory.max", c.parent_max);
    const HclMemoryTotal total = hcl_memory_total(c.mem_total, cgroup);
    EXPECT_EQ(total.bytes, c.want_total) << c.group_max << c.parent_max;
    EXPECT_EQ(total.from_cgroup, c.want_total != c.mem_total);
    EXPECT_EQ(plan_arenas(c.available, total.bytes, RunConfig{}, 1).contended, c.want_contended);
  }
}

TEST(HclSetup, PressureFloorIsTheReserveButAtLeast512MiB) {
  RunConfig cfg;
  EXPECT_EQ(hcl_pressure_floor(cfg), 512 * MiB);
  cfg.reserve_mib = 2048;
  EXPECT_EQ(hcl_pressure_floor(cfg), 2048 * MiB);
  cfg.reserve_mib = 0;
  EXPECT_EQ(hcl_pressure_floor(cfg), 512 * MiB);
}

TEST(HclSetup, PreflightReadingsDegradeToNotAvailable) {
  testing::TempDir dir;
  struct Case {
    const char* content;
    double load1;
  } cases[] = {
      {"0.52 0.58 0.59 1/1130 41020\n", 0.52},
      {"12.75 3.00 1.00 9/900 1\n", 12.75},
      {"", -1.0},
      {"garbage\n", -1.0},
  };
  for (const auto& c : cases) {
    const std::string path = dir.write("loadavg", c.content);
    EXPECT_DOUBLE_EQ(read_load1(path), c.load1) << c.content;
  }
  EXPECT_DOUBLE_EQ(read_load1(dir.sub("missing")), -1.0);

  EXPECT_TRUE(system_busy(2.5, 4)) << "2.5 > 2.4";
  EXPECT_FALSE(system_busy(2.4, 4));
  EXPECT_FALSE(system_busy(-1.0, 1)) << "unknown load is not busy";

  dir.write("cpufreq/cpuinfo_max_freq", "3400000\n");
  dir.write("cpufreq/scaling_cur_freq", "3000000\n");
  EXPECT_EQ(read_cpufreq(dir.sub("cpufreq"), "cpuinfo_max_freq"), 3400000u);
  EXPECT_EQ(read_cpufreq(dir.sub("cpufreq"), "scaling_cur_freq"), 3000000u);
  EXPECT_EQ(read_cpufreq(dir.sub("none"), "cpuinfo_max_freq"), 0u);
}

TEST(HclSetup, ThrottleCountsOnlyKnownFrequenciesUnderNinetyTwoPercent) {
  EXPECT_TRUE(throttled_sample(3400000, 3127999));
  EXPECT_FALSE(throttled_sample(3400000, 3128000)) << "limit 3128000 itself is not throttled";
  EXPECT_FALSE(throttled_sample(0, 1000));
  EXPECT_FALSE(throttled_sample(3400000, 0));
}

}  // namespace
}  // namespace dravik
