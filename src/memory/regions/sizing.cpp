#include "memory/regions/sizing.h"

#include <algorithm>

namespace dravik {

namespace {

// Near the reserve (headroom below four chunks) the memory held grows in
// steps of a quarter chunk, an eighth with the extended tests, so the box
// sees its free memory shrink gradually.
uint64_t limit_near_reserve(uint64_t size, uint64_t headroom, uint64_t chunk, bool extended) {
  const bool near = chunk > UINT64_MAX / 4 || headroom < chunk * 4;
  if (!near) return size;
  const uint64_t step = std::max(extended ? chunk / 8 : chunk / 4, kMinNearReserveStep);
  return std::min(size, step);
}

}  // namespace

Budget compute_budget(uint64_t available, uint64_t reserve, uint64_t mem_cap, uint64_t mem_total,
                      uint64_t space_limit) {
  Budget b;
  b.budget = available > reserve ? available - reserve : 0;
  if (mem_cap != 0) b.budget = std::min(b.budget, mem_cap);
  if (b.budget > space_limit) {
    b.budget = space_limit;
    b.space_limited = true;
  }
  b.untested = b.budget < mem_total ? mem_total - b.budget : reserve;
  return b;
}

uint64_t sweep_region_size(uint64_t available, uint64_t reserve, uint64_t chunk,
                           uint64_t budget_left, bool extended) {
  if (available <= reserve) return 0;
  const uint64_t headroom = available - reserve;
  uint64_t size = std::min(chunk, headroom);
  size = limit_near_reserve(size, headroom, chunk, extended);
  size = std::min(size, budget_left);
  return size < 8 ? 0 : size;
}

OfflineRegionPlan offline_region_plan(uint64_t available, uint64_t claimed, uint64_t reserve,
                                      uint64_t chunk, uint64_t unclaimed, bool extended) {
  OfflineRegionPlan r;
  // Raising a claim to kMinRegion must never take more than is unclaimed.
  if (unclaimed < kMinRegion) return r;
  if (available <= claimed || available - claimed <= reserve ||
      available - claimed - reserve < kMinRegion) {
    r.wait = true;
    return r;
  }
  const uint64_t headroom = available - claimed - reserve;
  uint64_t size = std::min(chunk, headroom);
  size = limit_near_reserve(size, headroom, chunk, extended);
  size = std::min(size, unclaimed);
  r.size = std::max(size, kMinRegion);
  return r;
}

}  // namespace dravik
