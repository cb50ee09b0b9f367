// The start-up probes: what the machine offers, read once before the run.
#pragma once
#include <string>

namespace dravik {

struct Run;

// Page map and RAM ranges, cache sizes, the cache-flush probe, the effective
// user, memory totals, the physical-address probe and the EDAC totals.
void probe_machine(Run& run);

// Largest L1, L2 and L3 sizes of CPU 0 from its cache directory.
void read_cache_sizes(const std::string& cache_dir, uint64_t sizes[3]);

// Writes "1000\n" so the kernel kills this process first when memory runs
// out; failure is silent.
void write_oom_score_adj(const std::string& path);

}  // namespace dravik
