// The latency chase's memory: 64-byte nodes linked into one random cycle, so
// every load depends on the one before and no prefetcher can guess the next.
#pragma once
#include <cstdint>

namespace dravik {

inline constexpr uint64_t kChaseMaxNodes = 4194304;  // 256 MiB of 64-byte nodes

// Nodes a worker arena of `words` 64-bit words holds, at most kChaseMaxNodes.
uint64_t chase_node_count(uint64_t words);

// Links `nodes` 64-byte nodes at `base` into one cycle in a Fisher-Yates
// order drawn from rand_seed(seed): the first word of each node holds the
// index of the next. False (nothing written) when the index array cannot be
// allocated.
bool build_chase_cycle(uint64_t* base, uint64_t nodes, uint64_t seed);

}  // namespace dravik
