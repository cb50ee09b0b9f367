#include "memory/regions/arena.h"

#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "memory/address/phys_map.h"

namespace dravik {

namespace {

// Straight to the kernel: the sanitizer runtimes replace mlock and munlock
// with calls that do nothing and report success, which would leave a region
// marked locked but never backed in exactly the builds that check this code.
bool lock_range(void* base, size_t len) { return syscall(SYS_mlock, base, len) == 0; }
void unlock_range(void* base, size_t len) { syscall(SYS_munlock, base, len); }

}  // namespace

ArenaRegion arena_alloc(uint64_t size) {
  ArenaRegion region;
  if (size == 0 || size > SIZE_MAX) return region;
  const size_t len = static_cast<size_t>(size);
  void* base = mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return region;
  // Plain pages: the kernel may collapse or split transparent huge pages while
  // a test runs, moving the data to other frames after its addresses were
  // translated. The advice is best effort.
  (void)madvise(base, len, MADV_NOHUGEPAGE);
  region.base = base;
  region.size = size;
  region.locked = lock_range(base, len) ? 1 : 0;
  if (!region.locked) {
    // Locking backs every page; without it the first test pass would take
    // the page faults and the kernel could still hand out pages lazily.
    const uint64_t step = system_page_size();
    auto* bytes = static_cast<unsigned char*>(base);
    for (uint64_t off = 0; off < size; off += step) bytes[off] = 0;
  }
  return region;
}

void arena_free(ArenaRegion& region) {
  if (region.base == nullptr) return;
  const size_t len = static_cast<size_t>(region.size);
  if (region.locked) unlock_range(region.base, len);
  munmap(region.base, len);
  region = ArenaRegion{};
}

ArenaRegion arena_alloc_halving(uint64_t size, uint64_t floor) {
  while (size >= floor && size > 0) {
    ArenaRegion region = arena_alloc(size);
    if (region.base != nullptr) return region;
    size /= 2;
  }
  return ArenaRegion{};
}

RegionTable::RegionTable() : entries(std::make_unique<ArenaRegion[]>(kMax)) {}

void RegionTable::release_all() {
  for (int32_t i = 0; i < count && i < kMax; ++i) arena_free(entries[i]);
  count = 0;
}

}  // namespace dravik
