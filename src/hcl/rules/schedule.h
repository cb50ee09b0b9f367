// The qualification's timetable as pure functions: which thread counts the
// core-scaling sweep visits, how the saturate time is cut into slices, how
// long the churn, realism and fade phases last, and the seed of each stream.
#pragma once
#include <cstdint>
#include <vector>

#include "core/config.h"

namespace dravik {

// Thread counts of the sweep: 1, 2, 4, ... doubling, the last one exactly
// `threads`; at most 15 points.
std::vector<int> sweep_points(int threads);

// Saturate time: a round writes then reads, each for one slice. The slice is
// 2.5 s while at least 5 s remain, then half of what remains; 0 means the
// rounds are over (the slice would be under 0.3 s, or nothing remains).
double saturate_slice(double duration, double elapsed);
// Whether a round's read figure is a stability sample: the first two rounds
// and short tail slices are left out.
bool is_stability_sample(int64_t round, double slice);
// The slices of a whole saturate phase when every job costs `job_overhead`
// seconds beyond its slice (what the schedule gives on a real clock).
std::vector<double> saturate_schedule(int duration, double job_overhead);

// Saturate seconds: the --duration value, 60 when it is not above 0.
int saturate_duration(int32_t hcl_duration_s);
// Fixed-pattern rounds of P2: 2 in the quick tier, else 6.
int pattern_rounds(HclTier tier);
// P3 churn seconds: 3 in the quick tier, else max(5, duration / 4).
double churn_seconds(HclTier tier, int duration);
// Seconds of each realism job (TLB walk, fletcher4): 8, 15 in soak.
int realism_seconds(HclTier tier);
// P7 idle seconds: 300 in soak, else 60 below a 120 s duration, else 120.
int fade_seconds(HclTier tier, int duration);

// Stream constants of the phase seeds.
inline constexpr uint64_t kSeedP2Random = 0xD6E8FEB86DF43D4DULL;
inline constexpr uint64_t kSeedP3 = 0xD6E8FEB866593929ULL;
inline constexpr uint64_t kSeedOltp = 0xD6E8FEB86659FCE8ULL;
inline constexpr uint64_t kSeedTlb = 0xD6E8FEB866598C23ULL;
inline constexpr uint64_t kSeedFletcher = 0xD6E8FEB866590C74ULL;
inline constexpr uint64_t kSeedFade = 0xD6E8FEB86659074DULL;
inline constexpr uint64_t kSeedStream = 0xD6E8FEB86659FD93ULL;
inline constexpr uint64_t kSeedChase = 0xC4A5EULL;

// The seed of a phase: one SplitMix64 step from base_seed XOR its constant.
uint64_t phase_seed(uint64_t base_seed, uint64_t stream_constant);
// Seeds of the sweep point with k threads and of saturate round r (0-based).
uint64_t sweep_seed(uint64_t base_seed, int k);
uint64_t saturate_seed(uint64_t base_seed, int64_t round);

}  // namespace dravik
