// Figures drawn from a run's samples: the round-to-round stability of the
// saturate reads and the average and 99th percentile of the chase latencies.
#pragma once

namespace dravik {

struct HclStability {
  double stddev_pct = -1.0;        // population stddev as % of the mean; -1 under 8 samples
  double last_first_ratio = -1.0;  // last quarter over first quarter; -1 under 8 samples
};

// From n read GB/s samples in round order.
HclStability stability_stats(const double* samples, int n);

struct LatencyStats {
  double avg = 0.0;  // nanoseconds; 0 without samples
  double p99 = 0.0;
};

// Average and 99th percentile of n latency samples; sorts them in place.
LatencyStats latency_stats(double* samples, int n);

// The quietest of n chase rounds: the one with the lowest 99th percentile
// among those that measured anything (other work only ever adds latency);
// -1 when none did.
int quietest_round(const LatencyStats* rounds, int n);

}  // namespace dravik
