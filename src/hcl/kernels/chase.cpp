#include "hcl/kernels/chase.h"

#include <algorithm>
#include <cstdlib>

#include "core/prng/prng.h"

namespace dravik {

uint64_t chase_node_count(uint64_t words) { return std::min(words / 8, kChaseMaxNodes); }

bool build_chase_cycle(uint64_t* base, uint64_t nodes, uint64_t seed) {
  if (nodes == 0) return false;
  auto* order = static_cast<uint64_t*>(malloc(nodes * sizeof(uint64_t)));
  if (order == nullptr) return false;
  for (uint64_t i = 0; i < nodes; ++i) order[i] = i;
  RandState rs;
  rand_seed(&rs, seed);
  for (uint64_t k = nodes; k >= 2; --k) {
    const uint64_t j = rand_next(&rs) % k;
    std::swap(order[k - 1], order[j]);
  }
  for (uint64_t i = 0; i < nodes; ++i) base[order[i] * 8] = order[(i + 1) % nodes];
  free(order);
  return true;
}

}  // namespace dravik
