// Stability of the saturate reads and the chase's average and p99.
#include "hcl/rules/stats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

namespace dravik {
namespace {

TEST(HclStats, StabilityNeedsEightSamples) {
  const std::vector<double> seven(7, 10.0);
  const auto s = stability_stats(seven.data(), 7);
  EXPECT_EQ(s.stddev_pct, -1.0);
  EXPECT_EQ(s.last_first_ratio, -1.0);
  EXPECT_EQ(stability_stats(nullptr, 0).stddev_pct, -1.0);
}

TEST(HclStats, StabilityIsPopulationStddevAndQuartileRatio) {
  struct Case {
    std::vector<double> samples;
    double stddev_pct, ratio;
  } cases[] = {
      // flat: no spread, ratio 1
      {{10, 10, 10, 10, 10, 10, 10, 10}, 0.0, 1.0},
      // two levels: mean 15, stddev 5 -> 33.3 %; q = 2: (20+20)/(10+10)
      {{10, 10, 10, 10, 20, 20, 20, 20}, 100.0 / 3.0, 2.0},
      // fading run of 9: q = 2, last (2+1)/first (9+8)
      {{9, 8, 7, 6, 5, 4, 3, 2, 1}, 100.0 * std::sqrt(60.0 / 9.0) / 5.0, 3.0 / 17.0},
      // all zero: mean 0 gives 0 %, the first quarter sums to 0 -> -1
      {{0, 0, 0, 0, 0, 0, 0, 0}, 0.0, -1.0},
  };
  for (const auto& c : cases) {
    const auto s = stability_stats(c.samples.data(), static_cast<int>(c.samples.size()));
    EXPECT_NEAR(s.stddev_pct, c.stddev_pct, 1e-9);
    EXPECT_NEAR(s.last_first_ratio, c.ratio, 1e-12);
  }
}

TEST(HclStats, LatencyP99IsTheSortedSampleAtNinetyNinePercent) {
  struct Case {
    std::vector<double> samples;
    double avg, p99;
  } cases[] = {
      {{}, 0.0, 0.0},
      {{80.0}, 80.0, 80.0},
      {{5, 1, 3}, 3.0, 5.0},  // index (int)(2.97) = 2
  };
  for (auto c : cases) {
    const auto s = latency_stats(c.samples.data(), static_cast<int>(c.samples.size()));
    EXPECT_DOUBLE_EQ(s.avg, c.avg);
    EXPECT_DOUBLE_EQ(s.p99, c.p99);
  }
  // 1000 shuffled samples 1..1000: p99 is the value at index 990, i.e. 991.
  std::vector<double> many(1000);
  std::iota(many.begin(), many.end(), 1.0);
  std::shuffle(many.begin(), many.end(), std::mt19937(7));
  const auto s = latency_stats(many.data(), 1000);
  EXPECT_DOUBLE_EQ(s.avg, 500.5);
  EXPECT_DOUBLE_EQ(s.p99, 991.0);
  EXPECT_TRUE(std::is_sorted(many.begin(), many.end()));
}

TEST(HclStats, TheQuietestChaseRoundHasTheLowestP99) {
  struct Case {
    std::vector<LatencyStats> rounds;
    int want;
  } cases[] = {
      {{{100, 580}, {98, 140}, {101, 150}}, 1},  // other work landed in rounds 0 and 2
      {{{100, 140}, {0, 0}, {100, 140}}, 0},     // ties keep the first
      {{{0, 0}, {0, 0}, {120, 900}}, 2},         // rounds that measured nothing are left out
      {{{0, 0}, {0, 0}}, -1},
      {{}, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(quietest_round(c.rounds.data(), static_cast<int>(c.rounds.size())), c.want);
  }
}

}  // namespace
}  // namespace dravik
