// How much of the box one pass tests and how big each region is. The rules are
// pure functions over the readings (available memory, reserve, chunk, what is
// left of the budget), so the drivers read /proc/meminfo and these decide.
#pragma once
#include <cstdint>

namespace dravik {

// No region smaller than this is ever mapped, and a budget below it is not
// tested at all.
constexpr uint64_t kMinRegion = 8ull << 20;
// Close to the reserve regions shrink to a step, but never below this.
constexpr uint64_t kMinNearReserveStep = 16ull << 20;

// What one process can hold of test memory at once. A 32-bit process has
// about 3 GiB of address space (the kernel keeps the rest), and its program,
// heap, thread stacks and the gaps between mappings take some of it: the run
// maps no more than 2.5 GiB, however much memory a box with large physical
// addresses (LPAE) has. A 64-bit process has no such bound.
inline constexpr uint64_t kNoSpaceLimit = UINT64_MAX;
inline constexpr uint64_t kProcessTestableBytes = sizeof(void*) >= 8 ? kNoSpaceLimit : 2560ull << 20;

struct Budget {
  uint64_t budget = 0;    // bytes per pass
  uint64_t untested = 0;  // bytes the run leaves alone
  // The budget was cut to space_limit: memory is larger than one process can
  // test (the rest is in untested).
  bool space_limited = false;
};

// available minus reserve (0 when not above it), capped by mem_cap when that
// is not 0 and by space_limit; untested is mem_total minus budget, or the
// reserve when the budget is not below mem_total.
Budget compute_budget(uint64_t available, uint64_t reserve, uint64_t mem_cap, uint64_t mem_total,
                      uint64_t space_limit = kProcessTestableBytes);

// Single sweep: size of the next region from a fresh reading of available
// memory. 0 when the pass stops taking regions (available not above reserve,
// or less than one word left). A result below kMinRegion means no region can
// be taken: the pass ends, and when it took nothing it is an allocation abort.
uint64_t sweep_region_size(uint64_t available, uint64_t reserve, uint64_t chunk,
                           uint64_t budget_left, bool extended);

// OFFLINE worker, called under the pool lock. claimed is what other workers
// claimed but have not mapped yet, so it counts as used. wait: too little
// headroom, try again later. Otherwise size is the claim to take (at least
// kMinRegion); size 0 without wait means the unclaimed budget is below
// kMinRegion and the worker is done.
struct OfflineRegionPlan {
  bool wait = false;
  uint64_t size = 0;
};
OfflineRegionPlan offline_region_plan(uint64_t available, uint64_t claimed, uint64_t reserve,
                                      uint64_t chunk, uint64_t unclaimed, bool extended);

}  // namespace dravik
