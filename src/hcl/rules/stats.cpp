#include "hcl/rules/stats.h"

#include <algorithm>
#include <cmath>

namespace dravik {

HclStability stability_stats(const double* samples, int n) {
  HclStability s;
  if (n < 8) return s;
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += samples[i];
  const double mean = sum / n;
  double sq = 0.0;
  for (int i = 0; i < n; ++i) sq += (samples[i] - mean) * (samples[i] - mean);
  s.stddev_pct = mean > 0.0 ? std::sqrt(sq / n) * 100.0 / mean : 0.0;
  const int q = n / 4;
  double first = 0.0, last = 0.0;
  for (int i = 0; i < q; ++i) {
    first += samples[i];
    last += samples[n - q + i];
  }
  s.last_first_ratio = first > 0.0 ? last / first : -1.0;
  return s;
}

LatencyStats latency_stats(double* samples, int n) {
  LatencyStats s;
  if (n <= 0) return s;
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += samples[i];
  s.avg = sum / n;
  std::sort(samples, samples + n);
  int index = static_cast<int>(n * 0.99);
  if (index >= n) index = n - 1;
  s.p99 = samples[index];
  return s;
}

int quietest_round(const LatencyStats* rounds, int n) {
  int best = -1;
  for (int r = 0; r < n; ++r) {
    if (rounds[r].avg <= 0.0) continue;
    if (best < 0 || rounds[r].p99 < rounds[best].p99) best = r;
  }
  return best;
}

}  // namespace dravik
