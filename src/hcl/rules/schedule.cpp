#include "hcl/rules/schedule.h"

#include <algorithm>

#include "core/prng/prng.h"

namespace dravik {

std::vector<int> sweep_points(int threads) {
  std::vector<int> points;
  int k = 1;
  while (static_cast<int>(points.size()) < 15) {
    points.push_back(k);
    if (k >= threads) break;
    k = std::min(2 * k, threads);
  }
  return points;
}

double saturate_slice(double duration, double elapsed) {
  if (elapsed >= duration) return 0.0;
  const double remaining = duration - elapsed;
  const double slice = remaining >= 5.0 ? 2.5 : remaining * 0.5;
  return slice < 0.3 ? 0.0 : slice;
}

bool is_stability_sample(int64_t round, double slice) { return round > 1 && slice >= 2.0; }

std::vector<double> saturate_schedule(int duration, double job_overhead) {
  std::vector<double> slices;
  double elapsed = 0.0;
  for (;;) {
    const double slice = saturate_slice(duration, elapsed);
    if (slice <= 0.0) break;
    slices.push_back(slice);
    elapsed += 2.0 * (slice + job_overhead);
  }
  return slices;
}

int saturate_duration(int32_t hcl_duration_s) { return hcl_duration_s > 0 ? hcl_duration_s : 60; }

int pattern_rounds(HclTier tier) { return tier == HclTier::quick ? 2 : 6; }

double churn_seconds(HclTier tier, int duration) {
  if (tier == HclTier::quick) return 3.0;
  return std::max(5.0, 0.25 * duration);
}

int realism_seconds(HclTier tier) { return tier == HclTier::soak ? 15 : 8; }

int fade_seconds(HclTier tier, int duration) {
  if (tier == HclTier::soak) return 300;
  return duration < 120 ? 60 : 120;
}

uint64_t phase_seed(uint64_t base_seed, uint64_t stream_constant) {
  uint64_t state = base_seed ^ stream_constant;
  return splitmix_next(&state);
}

uint64_t sweep_seed(uint64_t base_seed, int k) {
  uint64_t state = (static_cast<uint64_t>(static_cast<int64_t>(k)) + 24301) ^ base_seed ^ kSeedStream;
  return splitmix_next(&state);
}

uint64_t saturate_seed(uint64_t base_seed, int64_t round) {
  uint64_t state = (static_cast<uint64_t>(round) + 41232) ^ base_seed ^ kSeedStream;
  return splitmix_next(&state);
}

}  // namespace dravik
