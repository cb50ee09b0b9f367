#include "memory/regions/sizing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "memory/probes/probes.h"
#include "support/test_support.h"

namespace dravik {
namespace {

constexpr uint64_t MiB = 1ull << 20;
constexpr uint64_t GiB = 1ull << 30;
constexpr uint64_t kReserve = 256 * MiB;
constexpr uint64_t kChunk = 128 * MiB;

struct BudgetCase {
  const char* name;
  uint64_t available, reserve, cap, total;
  uint64_t budget, untested;
};

TEST(Budget, FromAvailableReserveAndCap) {
  const BudgetCase cases[] = {
      {"4 GiB available, default reserve", 4 * GiB, kReserve, 0, 8 * GiB, 3840 * MiB,
       8 * GiB - 3840 * MiB},
      {"cap of 100M on a large box", 20 * GiB, kReserve, 100 * MiB, 24 * GiB, 100 * MiB,
       24 * GiB - 100 * MiB},
      {"reserve 0, cap 8M", 20 * GiB, 0, 8 * MiB, 24 * GiB, 8 * MiB, 24 * GiB - 8 * MiB},
      {"cap above what is available", GiB, kReserve, 4 * GiB, 2 * GiB, 768 * MiB,
       2 * GiB - 768 * MiB},
      {"8 MiB minus one byte", kReserve + 8 * MiB - 1, kReserve, 0, GiB, 8 * MiB - 1,
       GiB - 8 * MiB + 1},
      {"available equal to the reserve", kReserve, kReserve, 0, GiB, 0, GiB},
      {"available below the reserve", 100 * MiB, kReserve, 0, GiB, 0, GiB},
      {"meminfo unreadable reads 0", 0, kReserve, 0, 0, 0, kReserve},
      {"budget not below mem_total", 4 * GiB, 0, 0, 2 * GiB, 4 * GiB, 0},
      {"mem_total unknown", 4 * GiB, kReserve, 0, 0, 3840 * MiB, kReserve},
  };
  for (const BudgetCase& c : cases) {
    const Budget b = compute_budget(c.available, c.reserve, c.cap, c.total, kNoSpaceLimit);
    EXPECT_EQ(b.budget, c.budget) << c.name;
    EXPECT_EQ(b.untested, c.untested) << c.name;
  }
  EXPECT_LT(compute_budget(kReserve + 8 * MiB - 1, kReserve, 0, GiB, kNoSpaceLimit).budget, kMinRegion);
}

// A 32-bit process maps at most kProcessTestableBytes of test memory: boxes
// with more memory than that (LPAE) keep the rest untested and say so, and
// sizes above 4 GiB read from /proc/meminfo are not cut to 32 bits on the way.
TEST(Budget, ThirtyTwoBitAddressSpaceCapsLargeBoxes) {
  constexpr uint64_t kSpace32 = 2560 * MiB;
  struct Case {
    const char* fixture;
    uint64_t space_limit;
    uint64_t budget;
    bool limited;
  };
  const Case cases[] = {
      {"lpae_12g", kSpace32, kSpace32, true},
      {"lpae_12g", kNoSpaceLimit, 10 * GiB - kReserve, false},
      // A 3.10 kernel has no MemAvailable: MemFree (5 GiB) stands in.
      {"kernel_3_10_6g", kSpace32, kSpace32, true},
      {"kernel_3_10_6g", kNoSpaceLimit, 5 * GiB - kReserve, false},
      {"armada_2g", kSpace32, 1536 * MiB - kReserve, false},
  };
  for (const Case& c : cases) {
    const std::string path = testing::fixture(std::string("meminfo/") + c.fixture + ".meminfo");
    const uint64_t total = static_cast<uint64_t>(meminfo_kb("MemTotal", path)) * 1024;
    const Budget b =
        compute_budget(mem_available_bytes(path), kReserve, 0, total, c.space_limit);
    EXPECT_EQ(b.budget, c.budget) << c.fixture;
    EXPECT_EQ(b.space_limited, c.limited) << c.fixture;
    EXPECT_EQ(b.untested, total - c.budget) << c.fixture;
  }
  // The limit of this build: none on a 64-bit processor.
  EXPECT_EQ(kProcessTestableBytes == kNoSpaceLimit, sizeof(void*) == 8);
}

// One single-sweep pass on a box whose available memory drops by exactly what
// the pass maps. Returns the sizes of the regions taken; stop holds the rule's
// last answer (0: stop, below kMinRegion: no region could be taken).
struct Sweep {
  std::vector<uint64_t> sizes;
  uint64_t stop = 0;
};
Sweep sweep(uint64_t available, uint64_t reserve, uint64_t chunk, uint64_t budget, bool extended) {
  Sweep s;
  uint64_t taken = 0;
  for (;;) {
    const uint64_t size = sweep_region_size(available, reserve, chunk, budget - taken, extended);
    if (size < kMinRegion) {
      s.stop = size;
      return s;
    }
    s.sizes.push_back(size);
    taken += size;
    available -= size;
  }
}

std::vector<uint64_t> repeat(uint64_t size, int times, std::vector<uint64_t> tail = {}) {
  std::vector<uint64_t> v(static_cast<size_t>(times), size);
  v.insert(v.end(), tail.begin(), tail.end());
  return v;
}

TEST(SweepRegionSize, FourGiBAvailableShrinksNearTheReserve) {
  // 27 regions of 128 MiB leave 384 MiB of headroom, below four chunks: the
  // rest comes in quarter-chunk steps, eighth-chunk with the extended tests.
  const uint64_t budget = compute_budget(4 * GiB, kReserve, 0, 8 * GiB, kNoSpaceLimit).budget;
  Sweep normal = sweep(4 * GiB, kReserve, kChunk, budget, false);
  EXPECT_EQ(normal.sizes, repeat(128 * MiB, 27, repeat(32 * MiB, 12)));
  EXPECT_EQ(normal.stop, 0u);

  Sweep extended = sweep(4 * GiB, kReserve, kChunk, budget, true);
  EXPECT_EQ(extended.sizes, repeat(128 * MiB, 27, repeat(16 * MiB, 24)));
  EXPECT_EQ(extended.stop, 0u);
}

TEST(SweepRegionSize, LastRegionTakesTheRestOfTheBudget) {
  // Budget capped at 3800 MiB: after 27 x 128 and 10 x 32 the rest is 24 MiB.
  Sweep s = sweep(4 * GiB, kReserve, kChunk, 3800 * MiB, false);
  EXPECT_EQ(s.sizes, repeat(128 * MiB, 27, repeat(32 * MiB, 10, {24 * MiB})));
  EXPECT_EQ(s.stop, 0u);
}

TEST(SweepRegionSize, RestBelowEightMiBIsLeftUntested) {
  Sweep s = sweep(5 * GiB, kReserve, kChunk, 3845 * MiB, false);
  EXPECT_EQ(s.sizes, repeat(128 * MiB, 30));
  EXPECT_EQ(s.stop, 5 * MiB);
}

struct SweepRegionCase {
  const char* name;
  uint64_t available, reserve, chunk, budget_left;
  bool extended;
  uint64_t size;
};

TEST(SweepRegionSize, SingleRegionSizes) {
  const SweepRegionCase cases[] = {
      {"cap 100M on a large box", 20 * GiB, kReserve, kChunk, 100 * MiB, false, 100 * MiB},
      {"reserve 0 and cap 8M", 20 * GiB, 0, kChunk, 8 * MiB, false, 8 * MiB},
      {"chunk of 1 MiB never reaches 8 MiB", 20 * GiB, kReserve, MiB, 3 * GiB, false, MiB},
      {"available at the reserve stops", kReserve, kReserve, kChunk, GiB, false, 0},
      {"available below the reserve stops", kReserve - 1, kReserve, kChunk, GiB, false, 0},
      {"headroom below 8 MiB", kReserve + 6 * MiB, kReserve, kChunk, GiB, false, 6 * MiB},
      {"seven bytes left stop the pass", 20 * GiB, kReserve, kChunk, 7, false, 0},
      {"eight bytes left are one word", 20 * GiB, kReserve, kChunk, 8, false, 8},
      {"headroom of exactly four chunks is not near", kReserve + 4 * kChunk, kReserve, kChunk, GiB,
       false, kChunk},
      {"near-reserve step raised to 16 MiB", kReserve + 100 * MiB, kReserve, 32 * MiB, GiB, false,
       16 * MiB},
      {"extended step raised to 16 MiB", kReserve + 100 * MiB, kReserve, 64 * MiB, GiB, true,
       16 * MiB},
      {"step never above the headroom", kReserve + 10 * MiB, kReserve, kChunk, GiB, false,
       10 * MiB},
      {"saturated chunk does not overflow", kReserve + GiB, kReserve, UINT64_MAX, 4 * GiB, false,
       GiB},
  };
  for (const SweepRegionCase& c : cases) {
    EXPECT_EQ(sweep_region_size(c.available, c.reserve, c.chunk, c.budget_left, c.extended),
              c.size)
        << c.name;
  }
}

struct OfflineRegionPlanCase {
  const char* name;
  uint64_t available, claimed, reserve, chunk, unclaimed;
  bool extended;
  bool wait;
  uint64_t size;
};

TEST(OfflineRegionPlan, WaitsOrClaims) {
  const OfflineRegionPlanCase cases[] = {
      {"plenty of memory", 4 * GiB, 0, kReserve, kChunk, 3 * GiB, false, false, kChunk},
      {"available not above claimed", GiB, GiB, kReserve, kChunk, GiB, false, true, 0},
      {"available minus claimed at the reserve", GiB, GiB - kReserve, kReserve, kChunk, GiB, false,
       true, 0},
      {"6 MiB of headroom waits", kReserve + 6 * MiB, 0, kReserve, kChunk, GiB, false, true, 0},
      {"exactly 8 MiB of headroom claims 8 MiB", kReserve + 8 * MiB, 0, kReserve, kChunk, GiB,
       false, false, 8 * MiB},
      {"claims of others count as used", GiB, 600 * MiB, kReserve, kChunk, GiB, false, false,
       32 * MiB},
      {"claims of others can force a wait", GiB, 763 * MiB, kReserve, kChunk, GiB, false, true, 0},
      {"extended step near the reserve", GiB, 600 * MiB, kReserve, kChunk, GiB, true, false,
       16 * MiB},
      {"chunk of 1 MiB raised to 8 MiB", 4 * GiB, 0, kReserve, MiB, 3 * GiB, false, false, 8 * MiB},
      {"limited to the unclaimed budget", 4 * GiB, 0, kReserve, kChunk, 10 * MiB, false, false,
       10 * MiB},
      {"unclaimed below 8 MiB finishes", 4 * GiB, 0, kReserve, kChunk, 5 * MiB, false, false, 0},
      {"unclaimed below 8 MiB finishes even when short", kReserve, 0, kReserve, kChunk, 5 * MiB,
       false, false, 0},
  };
  for (const OfflineRegionPlanCase& c : cases) {
    const OfflineRegionPlan r =
        offline_region_plan(c.available, c.claimed, c.reserve, c.chunk, c.unclaimed, c.extended);
    EXPECT_EQ(r.wait, c.wait) << c.name;
    EXPECT_EQ(r.size, c.size) << c.name;
  }
}

TEST(OfflineRegionPlan, ClaimNeverExceedsTheUnclaimedBudget) {
  for (uint64_t unclaimed = kMinRegion; unclaimed < 40 * MiB; unclaimed += MiB / 2) {
    for (uint64_t chunk : {MiB, 8 * MiB, kChunk}) {
      const OfflineRegionPlan r =
          offline_region_plan(4 * GiB, 0, kReserve, chunk, unclaimed, false);
      ASSERT_FALSE(r.wait);
      EXPECT_GE(r.size, kMinRegion);
      EXPECT_LE(r.size, unclaimed);
    }
  }
}

}  // namespace
}  // namespace dravik
