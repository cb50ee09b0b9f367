// The qualification's timetable: sweep points, saturate slices and stability
// samples, phase lengths by tier and duration, and the stream seeds.
#include "hcl/rules/schedule.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/prng/prng.h"

namespace dravik {
namespace {

TEST(HclSchedule, SweepDoublesAndEndsExactlyAtTheThreadCount) {
  struct Case {
    int threads;
    std::vector<int> points;
  } cases[] = {
      {1, {1}},
      {2, {1, 2}},
      {3, {1, 2, 3}},
      {12, {1, 2, 4, 8, 12}},
      {16, {1, 2, 4, 8, 16}},
      {40, {1, 2, 4, 8, 16, 32, 40}},
      {64, {1, 2, 4, 8, 16, 32, 64}},
  };
  for (const auto& c : cases) EXPECT_EQ(sweep_points(c.threads), c.points) << c.threads;
}

TEST(HclSchedule, SaturateSlicesAreTwoAndAHalfThenHalveTheRemainder) {
  struct Case {
    double duration, elapsed, slice;
  } cases[] = {
      {60, 0, 2.5},    {60, 55, 2.5},  {60, 55.2, 2.4}, {60, 57.6, 1.2}, {60, 58.8, 0.6},
      {60, 59.4, 0.3}, {60, 59.5, 0},  {60, 60, 0},     {60, 61, 0},     {10, 4.9, 2.5},
      {2, 0, 1.0},     {0.5, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(saturate_slice(c.duration, c.elapsed), c.slice, 1e-9)
        << c.duration << " s at " << c.elapsed;
  }
}

TEST(HclSchedule, SixtySecondsGiveFullSlicesThenAShortTailOutsideTheStability) {
  // Jobs overrunning their slice by 0.04 s: twelve rounds leave 4.52 s, so
  // the tail halves (2.26 s, then 0.08 s left ends it).
  const auto slices = saturate_schedule(60, 0.04);
  ASSERT_EQ(slices.size(), 12u);
  for (size_t r = 0; r < 11; ++r) EXPECT_DOUBLE_EQ(slices[r], 2.5) << r;
  EXPECT_NEAR(slices[11], 0.5 * (60 - 11 * 5.08), 1e-9);

  int samples = 0;
  for (size_t r = 0; r < slices.size(); ++r) samples += is_stability_sample(r, slices[r]);
  EXPECT_EQ(samples, 10) << "rounds 2..11; round 11's 2.2 s slice still counts";

  EXPECT_FALSE(is_stability_sample(0, 2.5));
  EXPECT_FALSE(is_stability_sample(1, 2.5));
  EXPECT_TRUE(is_stability_sample(2, 2.0));
  EXPECT_FALSE(is_stability_sample(5, 1.99));
}

TEST(HclSchedule, PhaseLengthsFollowTierAndDuration) {
  EXPECT_EQ(saturate_duration(0), 60);
  EXPECT_EQ(saturate_duration(-5), 60);
  EXPECT_EQ(saturate_duration(10), 10);

  EXPECT_EQ(pattern_rounds(HclTier::quick), 2);
  EXPECT_EQ(pattern_rounds(HclTier::standard), 6);
  EXPECT_EQ(pattern_rounds(HclTier::soak), 6);

  EXPECT_DOUBLE_EQ(churn_seconds(HclTier::quick, 200), 3.0);
  EXPECT_DOUBLE_EQ(churn_seconds(HclTier::standard, 20), 5.0);
  EXPECT_DOUBLE_EQ(churn_seconds(HclTier::standard, 200), 50.0);
  EXPECT_DOUBLE_EQ(churn_seconds(HclTier::soak, 60), 15.0);

  EXPECT_EQ(realism_seconds(HclTier::standard), 8);
  EXPECT_EQ(realism_seconds(HclTier::soak), 15);

  EXPECT_EQ(fade_seconds(HclTier::standard, 20), 60);
  EXPECT_EQ(fade_seconds(HclTier::standard, 119), 60);
  EXPECT_EQ(fade_seconds(HclTier::standard, 120), 120);
  EXPECT_EQ(fade_seconds(HclTier::standard, 200), 120);
  EXPECT_EQ(fade_seconds(HclTier::soak, 20), 300);
}

TEST(HclSchedule, SeedsAreOneSplitMixStepFromTheirStateWords) {
  const uint64_t base = 0x0123456789ABCDEFULL;
  uint64_t state = base ^ 0xD6E8FEB866593929ULL;
  EXPECT_EQ(phase_seed(base, kSeedP3), splitmix_next(&state));
  state = (12 + 24301) ^ base ^ 0xD6E8FEB86659FD93ULL;
  EXPECT_EQ(sweep_seed(base, 12), splitmix_next(&state));
  state = (3 + 41232) ^ base ^ 0xD6E8FEB86659FD93ULL;
  EXPECT_EQ(saturate_seed(base, 3), splitmix_next(&state));
  // Every stream differs from every other.
  const uint64_t seeds[] = {phase_seed(base, kSeedP2Random), phase_seed(base, kSeedP3),
                            phase_seed(base, kSeedOltp),     phase_seed(base, kSeedTlb),
                            phase_seed(base, kSeedFletcher), phase_seed(base, kSeedFade),
                            sweep_seed(base, 1),             saturate_seed(base, 0)};
  for (size_t i = 0; i < 8; ++i)
    for (size_t j = i + 1; j < 8; ++j) EXPECT_NE(seeds[i], seeds[j]) << i << " " << j;
}

}  // namespace
}  // namespace dravik
