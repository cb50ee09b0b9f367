// The qualification's timetable: sweep points, saturate slices and stability
// samples, phase lengths by tier and duration, and the seeds of the streams.
#include "hcl/rules/schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "hcl/kernels/kernels.h"

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

// Every stream of a run, for one base seed: each phase's job seed, each
// sweep point's and each saturate round's, and under each of them the stream
// of every worker (the write/read stream and the fletcher records').
std::vector<uint64_t> run_streams(uint64_t base, int64_t rounds) {
  std::vector<uint64_t> jobs;
  for (const uint64_t constant :
       {kSeedP2Random, kSeedP3, kSeedOltp, kSeedTlb, kSeedFletcher, kSeedFade}) {
    jobs.push_back(phase_seed(base, constant));
  }
  for (int k = 1; k <= kHclMaxWorkers; ++k) jobs.push_back(sweep_seed(base, k));
  for (int64_t r = 0; r < rounds; ++r) jobs.push_back(saturate_seed(base, r));
  std::vector<uint64_t> streams;
  for (const uint64_t job : jobs) {
    for (uint64_t worker = 0; worker < kHclMaxWorkers; ++worker) {
      streams.push_back(stream_seed(job, worker));
      streams.push_back(stream_seed(job, worker + kFletcherStreamOffset));
    }
  }
  return streams;
}

// A run repeats from its seed alone; within a run no two workers, phases,
// sweep points or saturate rounds (a soak's hour of them) share a stream; and
// a run of another seed, even one bit away, changes every stream.
TEST(HclSchedule, StreamsRepeatFromTheSeedAndNeverCoincideWithinARun) {
  constexpr int64_t kRounds = 1500;
  const uint64_t bases[] = {0x0123456789ABCDEFULL, 0x0123456789ABCDEEULL, 0, 1};
  std::vector<std::vector<uint64_t>> runs;
  for (const uint64_t base : bases) {
    SCOPED_TRACE(base);
    std::vector<uint64_t> streams = run_streams(base, kRounds);
    EXPECT_EQ(run_streams(base, kRounds), streams);
    runs.push_back(streams);
    std::sort(streams.begin(), streams.end());
    EXPECT_EQ(std::adjacent_find(streams.begin(), streams.end()), streams.end());
  }
  for (size_t i = 0; i < runs[0].size(); ++i) {
    ASSERT_NE(runs[0][i], runs[1][i]) << i;
    ASSERT_NE(runs[2][i], runs[3][i]) << i;
  }
}

}  // namespace
}  // namespace dravik
