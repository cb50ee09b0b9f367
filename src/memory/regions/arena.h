// The memory under test: anonymous regions, mapped privately, kept out of
// transparent huge pages and locked in RAM when the kernel allows it. A region
// that cannot be locked is pre-faulted instead, so every page is backed before
// a test writes it.
#pragma once
#include <cstdint>
#include <memory>

namespace dravik {

// One contiguous mapping under test. A default value (null base) is an empty
// table entry.
struct ArenaRegion {
  void* base = nullptr;
  uint64_t size = 0;
  int32_t locked = 0;  // the whole region is locked in RAM
};

// Maps size bytes read-write and locks them; when the lock is refused the
// region is touched once per page instead (locked stays 0). base is null when
// the mapping itself fails.
ArenaRegion arena_alloc(uint64_t size);

// Unlocks (when locked) and unmaps the region, then clears the value. A null
// base does nothing.
void arena_free(ArenaRegion& region);

// arena_alloc, halving the size after every refusal. base is null once the
// size has fallen below floor (at once when size starts below it).
ArenaRegion arena_alloc_halving(uint64_t size, uint64_t floor = 8ull << 20);

// The regions one pass holds. The single sweep keeps one table per pass; the
// OFFLINE pool keeps its own, guarded by its pool lock. Entries past count are
// empty; an entry inside count may be empty too (a worker gave its slot back).
struct RegionTable {
  static constexpr int32_t kMax = 65536;
  std::unique_ptr<ArenaRegion[]> entries;
  int32_t count = 0;
  RegionTable();
  // Releases every non-empty entry in table order, then empties the table.
  void release_all();
};

}  // namespace dravik
